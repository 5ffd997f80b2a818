// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QSet>

#include "FakePop3Server.h"

// The scripted server speaking IMAP (plain, STARTTLS or implicit TLS) for the faults Dovecot will
// not produce: an INBOX of raw messages (UIDs 1..N as first set), a Junk folder, switches that
// withdraw capabilities and breakCommand() faults by command ("FETCH", "UID MOVE", "DONE",
// "GREETING"). FETCH gives each message's whole header as its header fields.
class FakeImapServer : public FakePop3Server
{
    Q_OBJECT
public:
    explicit FakeImapServer(bool tls = false, QObject *parent = nullptr);

    QList<QByteArray> junk;  // the Junk folder
    bool hasJunk = true;
    bool hasIdle = true;
    bool hasUidPlus = true;
    bool hasMove = true;
    bool loginDisabled = false; // LOGINDISABLED before TLS
    bool saslOnly = false;      // LOGINDISABLED also over TLS, AUTHENTICATE PLAIN
    quint32 uidValidity = 1234;
    QByteArray exists;          // in place of the count in "* n EXISTS" when set
    int skipFetch = 0;          // FETCH leaves this message out
    QList<quint32> uids;        // of the INBOX's messages; filled as 1..N when it does not match

    void deliver(const QByteArray &message); // a new message, told to clients in IDLE
    void dropClients();

protected:
    void greet(QSslSocket *socket) override;
    void answer(QSslSocket *socket, const QByteArray &line) override;

private:
    struct Session
    {
        bool tls = false;
        QByteArray idleTag; // the IDLE that DONE ends
        QByteArray partial; // a command up to a literal the client waits to send
        QByteArray saslTag; // the AUTHENTICATE waiting for its response
    };
    QByteArray capabilities(const Session &c) const;
    void syncUids();
    QList<int> numbersOf(const QByteArray &uidSet); // message numbers, highest first
    QByteArray expunge(const QList<int> &numbers);
    void send(QSslSocket *socket, const QByteArray &verb, const QByteArray &untagged, const QByteArray &tagged);

    QSet<quint32> m_deleted; // UIDs marked \Deleted
    QHash<QSslSocket *, Session> m_sessions;
    bool m_implicitTls;
};
