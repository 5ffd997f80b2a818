#include "mailbox/HeaderScan.h"

// Placeholder: the header scan code replaces both.
void headerScan(TForm1 &) {}
void requestScan(TForm1 &) {}
