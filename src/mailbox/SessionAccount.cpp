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
    // The account file has no protocol field: IMAP's own ports, or a server written imap://host.
    static const QLatin1String imapScheme("imap://");
    if (server.startsWith(imapScheme, Qt::CaseInsensitive)) {
        account.protocol = Pop3Account::Protocol::Imap;
        account.host = server.mid(imapScheme.size());
    } else if (account.port == 143 || account.port == 993) {
        account.protocol = Pop3Account::Protocol::Imap;
    }
    account.user = address;
    account.password = password;
    account.tls = tls;
    return account;
}
