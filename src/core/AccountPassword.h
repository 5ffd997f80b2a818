// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

#include "core/AccountFile.h"

// An account's password in the desktop's keyring (core/Keyring.h) where one runs: the account
// file then holds an empty password field, which asks the keyring. Files that hold the password
// (written before, or where no keyring runs) are read as they are.
namespace accounts {

// The keyring entry of an account, from the fields its file holds beside the password:
// "<address> sur <server>", under the service "Pelicorde".
QString keyringKey(const QString &address, const QString &server);

// Fills the empty password of a loaded account from the keyring. Empty when it did, otherwise
// why the password is unavailable, which passwordUnavailable() tells until the next reading.
QString passwordFromKeyring(Account &account);

// Why the keyring could not give the password of (address, server) at its last reading or
// saving; empty when it could, or was not asked.
QString passwordUnavailable(const QString &address, const QString &server);

// The account saver where a keyring runs: the password goes into the keyring and the file is
// written with an empty password field, and so is the favourite when it is this account with
// the password still in it. A keyring that refuses (locked, access denied) leaves every file
// as it was; *refusal then holds the message to show. Without a keyring, saveAccount.
SaveStatus saveAccountWithKeyring(const QString &dataFolder, const Account &account, QString *refusal);

} // namespace accounts
