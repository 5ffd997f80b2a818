// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>
#include <optional>

#include "core/AccountFile.h"

class TForm1;
struct MailAccount;

// The account handlers of the main window.
void loadFavourite(TForm1 &form);  // the first show, a choice: the favourite into the connection fields
void applyTlsRule(TForm1 &form);   // the first show, a choice: CheckBox2 follows the port field
void portChanged(TForm1 &form);    // Edit4 changed: the TLS rule, then pending events run
void saveAccount(TForm1 &form);    // BitBtn1: save the current account
void listAccounts(TForm1 &form);   // ComboBox1 about to open: fill it with the saved accounts
void chooseAccount(TForm1 &form);  // ComboBox1 choice: make it the favourite, load it, scan

// Below the window.

// The favourite account of dataFolder, an empty password asked of the keyring (unavailable, it
// stays empty and the scan says why); nothing when there is none to load (an unreadable file
// beeps).
std::optional<accounts::Account> favouriteAccount(const QString &dataFolder);
// Saves fields into dataFolder, the password in the keyring where there is one; saved, the
// server of account (what the fields name) is forgotten among those known to offer TLS: saving
// again is how the user accepts a server that no longer does. The outcome in a box.
void storeAccount(const accounts::Account &fields, const MailAccount &account, const QString &dataFolder);
// Makes the account file fileName of dataFolder the favourite; a box says why when it cannot.
bool chooseFavourite(const QString &dataFolder, const QString &fileName);
