// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
class TForm1;

// BitBtn2 "Réception des messages": rebuilds the message list from the server's headers.
// A press while another server operation runs is refused with a beep; one that comes before
// the server's login delay has passed (LOGIN-DELAY) waits for it: the status line says when the
// scan will run, and it then runs by itself.
void headerScan(TForm1 &form);

// A scan asked for by a timer tick or the tray menu: runs now when no server operation runs and
// no box waits for an answer, otherwise once both have ended (several requests make one scan).
// False when it waits for the server's login delay: it then runs by itself once that has passed;
// scanStop says when, for the caller to show.
bool requestScan(TForm1 &form);

// A scan waits for the server's login delay.
bool scanHeldForLoginDelay(TForm1 &form);

// The scan after a change of the mailbox (a deletion). When it has to wait for the server's
// login delay, the list is emptied meanwhile, as its rows no longer match the server.
void rescanAfterChange(TForm1 &form);
