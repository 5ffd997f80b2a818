// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTemporaryDir>

#include "protocol/pop3/Pop3Session.h"

class QSslSocket;

// A scripted POP3 server inside the test process (plain or implicit TLS on 127.0.0.1) for the
// faults a real server will not produce. It answers real POP3 commands from a mailbox of raw
// messages; switches remove capabilities, faults break chosen commands. Deletions take effect
// on QUIT only, as RFC 1939 says.
class FakePop3Server : public QTcpServer
{
    Q_OBJECT
public:
    enum class Fault {
        None,
        Err,       // -ERR instead of the answer
        Drop,      // closes the connection without answering
        DropHalf,  // sends half of the (multi-line) answer, then closes
        Stall,     // never answers
        Delay,     // answers after delayMs, in several pieces
        Garbage,   // answers with a line that is not POP3
        Twice,     // answers twice: one reply nobody asked for
        Unterminated, // a multi-line answer without its terminating line
        Trickle,   // one byte every delayMs, never finishing: the answer short of its end, then filler
        Endless,   // a multi-line answer that never ends, sent as fast as the client reads
        Stray,     // answers, then sends strayReply, which nobody asked for
    };

    explicit FakePop3Server(bool tls = false, QObject *parent = nullptr);
    bool start(); // listens on a free loopback port
    quint16 port() const { return serverPort(); }
    MailAccount account() const; // the session settings that reach this server

    // The script.
    QList<QByteArray> mailbox;  // raw messages, numbered from 1
    QByteArray greeting = "+OK Pelicorde test server ready";
    QString user = QStringLiteral("pelicorde@example.com");
    QString password = QStringLiteral("secret");
    bool hasCapa = true;
    bool hasTop = true;
    bool hasUidl = true;
    bool hasPipelining = true;
    bool topGivesBody = false; // TOP n 0 answered with the whole message, as some servers do
    int delayMs = 200;
    QByteArray strayReply = "+OK stray\r\n";
    QHash<QByteArray, QByteArray> answers; // a verb's whole answer, in place of the real one
    bool brokenStls = false; // CAPA offers STLS; STLS is agreed to, then no TLS comes
    bool offersStls = false; // CAPA offers STLS, which works (the certificate is trusted in this process)
    QByteArray clearTextCapa; // capability lines (CRLF ended) listed only before TLS
    int loginDelay = 0;    // announced as LOGIN-DELAY n by CAPA when above 0
    QByteArray refusePass; // when set, every PASS gets "-ERR " + this (e.g. "[IN-USE] busy")
    // Breaks the command verb (upper case, e.g. "TOP") for message n, or for every message
    // when n is 0; "GREETING" breaks the greeting.
    void breakCommand(const QByteArray &verb, Fault fault, int n = 0);

    // What was seen, across connections.
    QList<QByteArray> commands;   // every command line received (PASS included)
    int largestBurst = 0;         // most commands found in one read: > 1 means pipelined
    qint64 bytesReceived = 0;     // every byte from the clients, also those left unanswered
    int connections = 0;
    bool received(const QByteArray &verb) const;
    QHash<int, QString> uids() const; // what UIDL gives now

protected:
    struct Client
    {
        QByteArray in;
        QList<int> deleted;
        bool user = false;
        bool loggedIn = false;
        bool dead = false;  // stalled or dropped: answers nothing more
        bool busy = false;  // a delayed answer is still going out
        bool stlsAgreed = false;
        bool upgraded = false; // by STLS
    };

    void incomingConnection(qintptr descriptor) override;
    virtual void greet(QSslSocket *socket);
    void readCommands(QSslSocket *socket);
    virtual void answer(QSslSocket *socket, const QByteArray &line);
    void reply(QSslSocket *socket, const QByteArray &verb, int n, const QByteArray &bytes, bool multiLine);
    void trickle(QSslSocket *socket, const QByteArray &bytes);
    void stream(QSslSocket *socket);
    Fault faultFor(const QByteArray &verb, int n) const;
    static QByteArray multiLine(const QByteArray &status, const QByteArray &body);

    bool m_tls;
    QTemporaryDir m_certDir;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QHash<QSslSocket *, Client> m_clients;
    QHash<QByteArray, QHash<int, Fault>> m_faults;
};
