#pragma once
class TForm1;

// BitBtn2 "Réception des messages": rebuilds the message list from the server's headers.
// A press while another server operation runs is refused with a beep.
void headerScan(TForm1 &form);

// A scan asked for by a timer tick or the tray menu: runs now when no server operation runs and
// no box waits for an answer, otherwise once both have ended (several requests make one scan).
void requestScan(TForm1 &form);
