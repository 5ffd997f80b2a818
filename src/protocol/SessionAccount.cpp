// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/SessionAccount.h"

#include "core/TlsRule.h"

MailAccount sessionAccount(const QString &server, const QString &portText, const QString &address,
                           const QString &password, bool tls)
{
    using Protocol = MailAccount::Protocol;
    // The account file has no protocol field: a server written with its scheme, or IMAP's own
    // ports. The "s" schemes mean implicit TLS whatever the port.
    static const struct {
        QLatin1String scheme;
        Protocol protocol;
        bool tls;
        int defaultPort; // when the port field holds no number
    } schemes[] = {{QLatin1String("imap://"), Protocol::Imap, false, 143},
                   {QLatin1String("imaps://"), Protocol::Imap, true, 993},
                   {QLatin1String("pop3://"), Protocol::Pop3, false, 110},
                   {QLatin1String("pop3s://"), Protocol::Pop3, true, 995}};
    MailAccount account;
    account.host = server;
    account.tls = tls;
    int port = accounts::portNumber(portText);
    bool named = false;
    for (const auto &s : schemes) {
        if (!server.startsWith(s.scheme, Qt::CaseInsensitive))
            continue;
        named = true;
        account.host = server.mid(s.scheme.size());
        account.protocol = s.protocol;
        account.tls = tls || s.tls;
        if (!accounts::isPortNumber(portText))
            port = s.defaultPort;
    }
    // Out of range: port 0, which no connection reaches, rather than a port cut to 16 bits.
    account.port = port > 0 && port <= 65535 ? quint16(port) : 0;
    if (!named && (account.port == 143 || account.port == 993))
        account.protocol = Protocol::Imap;
    account.user = address;
    account.password = password;
    return account;
}

QString sessionAccountKey(const MailAccount &account)
{
    return QStringLiteral("%1 %2:%3 %4")
        .arg(account.protocol == MailAccount::Protocol::Imap ? QLatin1String("imap") : QLatin1String("pop3"),
             account.host.toLower())
        .arg(account.port)
        .arg(account.user);
}
