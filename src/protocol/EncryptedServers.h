// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

// Servers that have once logged in over TLS after STLS (on an implicit-TLS port nothing can
// strip it): a later session to one of them that finds no STLS is taken for someone on the way
// stripping it, and does not log in (MailAccount::tlsRequired).
// The file "Serveurs-chiffres.txt" of the data folder holds one "<host>:<port>" a line, the host
// in lower case. Saving the account again forgets its server: the user's way to accept a server
// that really stopped offering TLS.
namespace encryptedServers {

QString recordPath(const QString &dataFolder);

bool known(const QString &recordPath, const QString &host, quint16 port);
// Written atomically, mode 0600; false when it could not be written, *why then saying why.
bool remember(const QString &recordPath, const QString &host, quint16 port, QString *why = nullptr);
bool forget(const QString &recordPath, const QString &host, quint16 port);

} // namespace encryptedServers
