// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <memory>

#include "core/Error.h"
#include "mailbox/Pop3ReplyParser.h"

class QEventLoop;
class QSslSocket;
class QTimer;

// Where and as whom a session logs in.
struct Pop3Account
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
struct Pop3Limits
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
};

// A server out of step with its commands (a reply left over, or one that cannot answer the
// command it came for): the replies read before it may belong to other messages.
class Pop3ProtocolError : public Error
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

// One POP3 conversation (RFC 1939, pipelining after RFC 2449) for one operation of the program.
// Every wait runs a local event loop, so the window stays alive; every failure throws Error with
// a French text naming the server and the step. Releasing the session drops the connection
// without QUIT: messages marked for deletion stay on the server unless quit() was called.
class Pop3Session
{
public:
    using Each = std::function<void(int n, const QByteArray &bytes)>;

    Pop3Session();                          // the default limits
    explicit Pop3Session(int idleMs);       // the default limits with this idle time
    explicit Pop3Session(const Pop3Limits &limits);
    ~Pop3Session();
    Pop3Session(const Pop3Session &) = delete;
    Pop3Session &operator=(const Pop3Session &) = delete;

    // Connects, reads the greeting, asks CAPA and logs in with USER/PASS; returns only when
    // logged in. Without implicit TLS the session upgrades with STLS when offered; a failed
    // upgrade throws, never falling back to clear text; without STLS a server the account says
    // requires TLS throws EncryptionWithdrawn before USER. A certificate the trusted CAs do not
    // validate goes to the certificate decision (refused without one) before anything is sent
    // over it. A refused USER or PASS throws LoginRefused. When the server pipelines, PASS
    // goes with USER over TLS (in clear text only once USER is accepted), followed by CAPA.
    // After STLS, CAPA is asked again: only what the server lists over TLS counts.
    void open(const Pop3Account &account);
    void setCertificateDecision(CertificateDecision decide);
    bool encrypted() const { return m_encrypted; } // the login went over TLS

    int messageCount();                // STAT
    // Before open(): STAT goes right behind the login when the server pipelines, so that
    // messageCount() finds its reply on the way.
    void askCountAhead();
    QByteArray header(int n);          // TOP n 0 (with the blank line); RETR cut after the blank line without TOP
    QByteArray message(int n);         // RETR
    bool remove(int n);                // DELE; false when the server refuses it
    // UIDL; empty when the server does not offer it. A listing that is not one of this mailbox
    // (a line that is no number and id, a number twice or beyond the count), as from a server
    // out of step, throws Pop3ProtocolError. The count is asked first when not known yet.
    QHash<int, QString> uniqueIds();
    QStringList capabilities();        // CAPA, asked once; empty when the server has no CAPA
    bool canPipeline();                // CAPA lists PIPELINING and pipelining is allowed
    int loginDelay();                  // seconds between logins after CAPA LOGIN-DELAY; 0 when none

    // The headers (or whole messages) of first..last, handed to each(n, bytes) in order. With
    // pipelining the commands go ahead of the replies within a bounded window; otherwise one at
    // a time. each may pump events; if it throws, the exception propagates and the session is
    // no longer usable (release it). A message the server refuses (-ERR) ends the batch with an
    // Error, the session still usable. A reply that starts with a status line or swallowed the
    // next one (a status line after a TOP's header block) throws Pop3ProtocolError, and so does
    // a reply left over: the batch closes with a command whose reply no other passes for, LIST
    // of the last message, or with Then::UniqueIds UIDL when the server lists it, sent behind
    // the last command, for uniqueIds() to read and check afterwards.
    enum class Then { Nothing, UniqueIds };
    void headers(int first, int last, const Each &each, Then then = Then::Nothing);
    void messages(int first, int last, const Each &each);
    // The first commands of headers(first, last, …, then) sent now, as many as the bound on
    // commands in flight lets out, their replies left for headers() to read. Only once the
    // capabilities are known and the server pipelines; never waits, never throws.
    void headersAhead(int first, int last, Then then = Then::Nothing);

    void setPipelining(bool allowed);  // false forces one command at a time
    void quit();                       // QUIT, so that deletions take effect; the connection is closed

    // The limits of sessions made without their own; tests set small ones.
    static void setDefaultLimits(const Pop3Limits &limits);
    static Pop3Limits defaultLimits();

private:
    using Reply = Pop3ReplyParser::Reply;
    enum class Support { Unknown, Yes, No };

    // maxBody: 0 for a single-line reply, else the cap of the multi-line one.
    Reply command(const QByteArray &line, qsizetype maxBody, const QString &step);
    Reply expectOk(const QByteArray &line, qsizetype maxBody, const QString &step);
    Reply readReply(const QString &step);
    void requireInStep(const QString &step);
    void send(const QByteArray &bytes);
    void waitForData(const QString &step);
    void waitUntilConnected(bool encrypted, bool tcpUp);
    QStringList preLoginCapabilities();
    void upgrade();
    void login(const QByteArray &user, const QByteArray &password, bool pipelined);
    // A command written ahead; a reply read to reach a later one is kept for its own call.
    // A header pass's first commands, sent ahead by the tens of thousands, are one entry:
    // "TOP n 0" (or "RETR n") for n in runFirst..runLast; line is then empty.
    struct Ahead
    {
        QByteArray line;
        std::optional<Reply> reply;
        int runFirst = 0;
        int runLast = 0; // 0: not a run
        bool runTop = false;
    };
    std::deque<Ahead>::iterator readAheadUpTo(const QByteArray &line);
    bool claimAhead(const QByteArray &line, const QString &step, Reply &reply);
    // Writes commands in one go; each reply is owed in order, with the cap of its command.
    void sendAll(const QList<std::pair<QByteArray, qsizetype>> &commands);
    bool offersUniqueIds();
    qsizetype listingCap() const;
    struct BatchPlan;
    BatchPlan plan(int first, int last, bool headersOnly, Then then);
    void topUp(const BatchPlan &plan, int &next, int done, qsizetype &inFlight, bool ahead);
    void closeBatch(const BatchPlan &plan);
    void checkCertificate();
    void pull();
    bool useTop();
    Reply retrieve(int n); // RETR, checked to be a message
    void batch(int first, int last, bool headersOnly, const Each &each, Then then);
    void requireOpen() const;

    QString server() const;
    [[noreturn]] void fail(const QString &text, const QString &cause);
    [[noreturn]] void failDropped(const QString &step);
    [[noreturn]] void failTimeout(const QString &step);
    [[noreturn]] void failTooSlow(const QString &step);
    [[noreturn]] void failRefused(const QString &step, const Reply &reply);
    [[noreturn]] void failParser(const QString &step);
    [[noreturn]] void failOutOfStep(const QString &text);
    [[noreturn]] void failWithdrawn();
    [[noreturn]] void failUnrelated(const QString &step);
    [[noreturn]] void failTls(const QString &detail = {});

    Pop3Limits m_limits;
    Pop3Account m_account;
    std::unique_ptr<QSslSocket> m_socket;
    std::unique_ptr<QTimer> m_timer;
    QEventLoop *m_loop = nullptr;
    QElapsedTimer m_progress; // since the server last sent something (or a command went out)
    QElapsedTimer m_since;    // since the session began
    qint64 m_waitedMs = 0;    // spent waiting on the server
    qint64 m_received = 0;    // bytes the server sent
    bool m_open = false;
    bool m_broken = false;
    bool m_pipelining = true;
    bool m_encrypted = false;
    CertificateDecision m_decide;
    QList<QSslError> m_sslErrors; // of the handshake, ignored until the decision
    Pop3ReplyParser m_replies;
    QString m_lastStep; // the step whose reply was read last
    // Commands written ahead whose replies no call has taken yet, in the order sent.
    std::deque<Ahead> m_ahead;
    bool m_countAfterLogin = false;
    int m_count = -1; // the message count, once asked

    bool m_capaAsked = false;
    QStringList m_capabilities;
    Support m_top = Support::Unknown;
};
