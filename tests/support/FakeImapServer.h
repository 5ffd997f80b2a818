// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QMap>

#include "FakePop3Server.h"

// The scripted server speaking IMAP, for the faults Dovecot will not produce. Each command is
// answered by script[the command as sent, without its tag] when there is one, else script[its
// name] ("CAPABILITY", "FETCH", "UID MOVE"; "GREETING"; "+" for the line
// that follows a continuation request), "$" standing for its tag; breakCommand() faults apply by
// the same names. The default script serves three messages with UIDs 1 to 3, a Junk folder, IDLE,
// UIDPLUS and MOVE. A command ending in a literal's size is asked for the literal; a STARTTLS
// answered OK starts TLS.
class FakeImapServer : public FakePop3Server
{
    Q_OBJECT
public:
    explicit FakeImapServer(QObject *parent = nullptr);

    QMap<QByteArray, QByteArray> script;
    // The response to a header pass's FETCH for message n.
    static QByteArray fetched(int n, const QByteArray &header = "Subject: 1\r\n\r\n");
    void push(const QByteArray &bytes); // unasked, to every client
    void pushIdling(const QByteArray &bytes); // the same, to the clients in IDLE
    void dropClients();

protected:
    void greet(QSslSocket *socket) override;
    void answer(QSslSocket *socket, const QByteArray &line) override;

private:
    QHash<QSslSocket *, QByteArray> m_continued; // the tag of a command that asked for more
};
