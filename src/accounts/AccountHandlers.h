// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class TForm1;

// Entries of the account handlers of the main window.
void loadFavourite(TForm1 &form);  // favourite account into the connection fields
void applyTlsRule(TForm1 &form);   // CheckBox2 follows the port field
void portChanged(TForm1 &form);    // Edit4 changed: the TLS rule, then pending events run
void saveAccount(TForm1 &form);    // BitBtn1: save the current account
void listAccounts(TForm1 &form);   // ComboBox1 about to open: fill it with the saved accounts
void chooseAccount(TForm1 &form);  // ComboBox1 choice: make it the favourite, load it, scan
