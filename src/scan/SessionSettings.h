#pragma once
#include "mailbox/Pop3Session.h"

class TForm1;

// The account of a POP3 session, from the main window's fields: server Edit3, port Edit4
// (110 when not a number), user Edit15, password Edit16, implicit TLS when CheckBox2 is ticked.
Pop3Account accountFromWindow(const TForm1 &form);

// Opens session with the window's account, keeping the login-delay bookkeeping: the time of the
// login and the delay the server announces once logged in. A login the server refused for the
// time being throws LoginRefused with the delay when known.
void openSession(Pop3Session &session, const TForm1 &form);

// A user action that would start a server operation while one runs is refused with a beep.
// True when refused.
bool refusedWhileBusy();
