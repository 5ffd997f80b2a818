// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <functional>
#include <memory>

#include "core/Error.h"
#include "protocol/Transport.h"

// Where and as whom a session logs in.
struct MailAccount
{
    QString host;
    quint16 port = 110;
    QString user;
    QString password;
    bool tls = false; // implicit TLS from the first byte; otherwise STLS when the server offers it
    // The server has logged in over TLS before: without STLS now, no login in clear text.
    bool tlsRequired = false;
    // PEM certificates trusted beside the system's CA store (a private CA); empty: the system's only.
    QString caFile{};
    enum class Protocol { Pop3, Imap };
    Protocol protocol = Protocol::Pop3;
};

// A server certificate that the trusted CAs do not validate for the host name.
struct PeerCertificate
{
    QString host;
    quint16 port = 0;
    QList<QSslCertificate> chain; // the server's first
    QList<QSslError> errors;
};

// Whether to go on with such a certificate; it may also throw, which ends the opening.
using CertificateDecision = std::function<bool(const PeerCertificate &)>;

// What one session puts up with from its server, so that a hostile or broken server can
// neither fill the memory nor hold the program's one running operation forever.
struct SessionLimits
{
    int idleMs = 30000; // how long any step may go without the server sending anything
    // Time spent waiting on the server over the whole session, plus a second for every
    // creditBytesPerSecond bytes it sent: a server that trickles cannot stretch it.
    qint64 operationMs = 10 * 60 * 1000;
    qint64 creditBytesPerSecond = 16 * 1024;
    // The whole session, however steadily the server sends: far beyond what a real mailbox
    // needs on a working link (Dovecot serves 100,000 headers in seconds).
    qint64 sessionMs = 60 * 60 * 1000;
    // Caps of multi-line replies, counted as received.
    qsizetype messageBytes = 64 * 1024 * 1024; // RETR
    qsizetype headerBytes = 1024 * 1024;       // TOP n 0
    qsizetype listingBytes = 16 * 1024 * 1024; // UIDL, and less once the count is known
    qsizetype capabilityBytes = 64 * 1024;     // CAPA
    // Pipelining: commands go ahead of their replies while the bytes of those whose replies are
    // not read yet stay within this bound. Replies are read as they come, so neither side's
    // buffers fill up. At 64 KB (5,000 TOP commands) a 50 ms round trip held a 20,000-message
    // scan to 1.5 times what the link allows.
    qsizetype requestBytesInFlight = 1024 * 1024;

    // The limits of sessions made without their own, POP3 and IMAP alike; tests set small ones.
    static void setDefaults(const SessionLimits &limits);
    static SessionLimits defaults();
};

// A server out of step with its commands (a reply left over, or one that cannot answer the
// command it came for): the replies read before it may belong to other messages.
class ProtocolError : public Error
{
public:
    using Error::Error;
};

// A server that has logged in over TLS before and now offers no STLS, refuses it, or answers
// CAPA with an error: someone on the way may be stripping the encryption to read the password.
class EncryptionWithdrawn : public Error
{
public:
    using Error::Error;
};

// The connection under a mail session, POP3's and IMAP's alike: its transport (a socket unless
// told otherwise) and TLS over it, the certificate decision, the waits under the session's
// limits, and the failures every protocol shares, each with its French text and the cause told
// under it. The session reads and frames what the transport holds. Every wait on a socket runs
// a local event loop, so the window stays alive. Releasing it drops the connection as it stands.
class MailConnection
{
public:
    void setCertificateDecision(CertificateDecision decide);
    // Before open(): connections go through what make returns instead of a socket.
    void setTransport(TransportFactory make);
    bool encrypted() const { return m_encrypted; } // the login went over TLS

protected:
    explicit MailConnection(const SessionLimits &limits);
    ~MailConnection();
    MailConnection(const MailConnection &) = delete;
    MailConnection &operator=(const MailConnection &) = delete;

    // Checks the account's fields, then connects (over TLS from the first byte when the account
    // says so) and returns once the connection is up and its certificate accepted. protocol
    // names the session in the text of a second opening ("POP3", "IMAP").
    void connectTo(const MailAccount &account, QLatin1StringView protocol);
    // TLS over the connection as it stands, once the server agreed to it.
    void startTls();
    // Waits until the transport says something or the limits' time is up; throws once a limit
    // is reached.
    void waitForData(const QString &step);
    // Returns once bytes wait in the transport, the connection still up.
    void awaitBytes(const QString &step);

    QString server() const; // host:port
    // The server's words in a text for the user: trimmed, at most 200 characters.
    static QString serverText(QByteArrayView bytes);

    // Each marks the session unusable, but failRefused: a refusal leaves the conversation in step.
    [[noreturn]] void fail(const QString &text, const QString &cause = {});
    [[noreturn]] void failDropped(const QString &step);
    [[noreturn]] void failTimeout(const QString &step);
    [[noreturn]] void failTooSlow(const QString &step);
    [[noreturn]] void failTls(const QString &detail = {});
    [[noreturn]] void failWithdrawn();
    [[noreturn]] void failOutOfStep(const QString &text);
    // The server greeted in the other protocol: how to write the account for it. speaks: the
    // protocol it speaks ("IMAP"), scheme: its scheme ("imap"), expected: the one asked for.
    [[noreturn]] void failOtherProtocol(QLatin1StringView speaks, QLatin1StringView scheme, QLatin1StringView expected);
    [[noreturn]] void failGarbled(const QString &step, const QString &what);
    [[noreturn]] void failTooLong(const QString &step);
    [[noreturn]] void failRefusal(const QString &step, QByteArrayView said);
    [[noreturn]] void failTurnedAway(const QString &greeting, QByteArrayView said); // no session at all

    SessionLimits m_limits;
    MailAccount m_account;
    std::unique_ptr<Transport> m_transport; // from the first connection on
    QElapsedTimer m_progress; // since the server last sent something (or a command went out)
    QElapsedTimer m_since;    // since the session began, or a new operation on it did
    qint64 m_waitedMs = 0;    // spent waiting on the server
    qint64 m_received = 0;    // bytes the server sent
    bool m_broken = false;
    bool m_encrypted = false;

private:
    void waitUntilConnected(bool encrypted, bool tcpUp);
    void checkCertificate();

    CertificateDecision m_decide;
    TransportFactory m_makeTransport;
};
