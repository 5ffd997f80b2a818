#include "blacklist/BlacklistHandlers.h"

// Placeholders: the blacklist file and editor code replaces these.
void openBlacklistEditor(TForm1 &) {}
void saveBlacklistAndClose(TForm2 &) {}
void closeBlacklistEditor(TForm2 &) {}
