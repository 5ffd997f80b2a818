#include "mailbox/HeaderScan.h"

// Placeholder: the header scan code replaces this.
void headerScan(TForm1 &) {}
