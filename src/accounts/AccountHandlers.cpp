#include "accounts/AccountHandlers.h"

// Placeholders: the account file and account selection code replaces these.
void loadFavourite(TForm1 &) {}
void applyTlsRule(TForm1 &) {}
void saveAccount(TForm1 &) {}
void listAccounts(TForm1 &) {}
void chooseAccount(TForm1 &) {}
