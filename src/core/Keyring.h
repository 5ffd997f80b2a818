// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

// The desktop's keyring: a Secret Service on the session bus (GNOME Keyring, KWallet), reached
// through QtKeychain. Pelicorde's entries are under the service "Pelicorde".
namespace keyring {

// A Secret Service runs on the session bus, or the bus starts one when asked.
bool present();

struct Answer
{
    bool ok = false;
    QString secret; // what a read found
    QString why;    // when not ok: why, in French, to follow "mot de passe indisponible, "
};

// Each waits for the keyring in a local event loop: windows are still drawn and timers run,
// but user input waits (the keyring may be showing its own unlock prompt), and a scan asked
// for meanwhile runs once the answer is in, as under a message box.
Answer read(const QString &key);
Answer write(const QString &key, const QString &secret);

} // namespace keyring
