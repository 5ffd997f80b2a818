// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/SessionAccount.h"

#include "core/TlsRule.h"

Pop3Account sessionAccount(const QString &server, const QString &portText, const QString &address,
                           const QString &password, bool tls)
{
    Pop3Account account;
    account.host = server;
    const int port = accounts::portNumber(portText);
    // Out of range: port 0, which no connection reaches, rather than a port cut to 16 bits.
    account.port = port > 0 && port <= 65535 ? quint16(port) : 0;
    account.user = address;
    account.password = password;
    account.tls = tls;
    return account;
}
