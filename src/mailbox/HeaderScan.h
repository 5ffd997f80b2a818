#pragma once

class TForm1;

// The header scan behind BitBtn2: rebuilds the message list from the server.
void headerScan(TForm1 &form);
