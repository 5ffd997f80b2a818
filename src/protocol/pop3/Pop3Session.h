// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <memory>

#include "protocol/MailConnection.h"
#include "protocol/MessageIds.h"
#include "protocol/pop3/Pop3ReplyParser.h"

// One POP3 conversation (RFC 1939, pipelining after RFC 2449) for one operation of the program.
// Every wait runs a local event loop, so the window stays alive; every failure throws Error with
// a French text naming the server and the step. Releasing the session drops the connection
// without QUIT: messages marked for deletion stay on the server unless quit() was called.
class Pop3Session : public MailConnection
{
public:
    using Each = std::function<void(int n, const QByteArray &bytes)>;

    Pop3Session();                          // the default limits
    explicit Pop3Session(int idleMs);       // the default limits with this idle time
    explicit Pop3Session(const SessionLimits &limits);
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
    void open(const MailAccount &account);

    int messageCount();                // STAT
    // Before open(): STAT goes right behind the login when the server pipelines, so that
    // messageCount() finds its reply on the way.
    void askCountAhead();
    QByteArray header(int n);          // TOP n 0 (with the blank line); RETR cut after the blank line without TOP
    QByteArray message(int n);         // RETR
    bool remove(int n);                // DELE; false when the server refuses it
    // UIDL; empty when the server does not offer it. A listing that is not one of this mailbox
    // (a line that is no number and id, a number twice or beyond the count), as from a server
    // out of step, throws ProtocolError. The count is asked first when not known yet.
    QHash<int, QString> uniqueIds();
    // The same ids indexed by message number (index 0 and unlisted numbers empty), with no hash
    // to build: a scan of 100,000 messages reads them all once.
    MessageIds uniqueIdsByNumber();
    QStringList capabilities();        // CAPA, asked once; empty when the server has no CAPA
    bool canPipeline();                // CAPA lists PIPELINING and pipelining is allowed
    int loginDelay();                  // seconds between logins after CAPA LOGIN-DELAY; 0 when none

    // The headers (or whole messages) of first..last, handed to each(n, bytes) in order. With
    // pipelining the commands go ahead of the replies within a bounded window; otherwise one at
    // a time. each may pump events; if it throws, the exception propagates and the session is
    // no longer usable (release it). A message the server refuses (-ERR) ends the batch with an
    // Error, the session still usable. A reply that starts with a status line or swallowed the
    // next one (a status line after a TOP's header block) throws ProtocolError, and so does
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
    // The commands of header(n) (once TOP is known to work) and of remove(n) for each of
    // numbers, sent now in one write within the bound on commands in flight, their replies left
    // for those calls. Only when the server pipelines; never waits, never throws.
    void headersAhead(const QList<int> &numbers);
    void removeAhead(const QList<int> &numbers);

    void setPipelining(bool allowed);  // false forces one command at a time
    void quit();                       // QUIT, so that deletions take effect; the connection is closed


private:
    using Reply = Pop3ReplyParser::Reply;
    enum class Support { Unknown, Yes, No };

    // maxBody: 0 for a single-line reply, else the cap of the multi-line one.
    Reply command(const QByteArray &line, qsizetype maxBody, const QString &step);
    Reply expectOk(const QByteArray &line, qsizetype maxBody, const QString &step);
    Reply readReply(const QString &step);
    void requireInStep(const QString &step);
    void send(const QByteArray &bytes);
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
    void sendAhead(const QByteArray &verb, const QList<int> &numbers, const QByteArray &suffix, qsizetype maxBody);
    bool offersUniqueIds();
    qsizetype listingCap() const;
    struct BatchPlan;
    BatchPlan plan(int first, int last, bool headersOnly, Then then);
    void topUp(const BatchPlan &plan, int &next, int done, qsizetype &inFlight, bool ahead);
    void closeBatch(const BatchPlan &plan);
    void pull();
    bool useTop();
    Reply retrieve(int n); // RETR, checked to be a message
    void batch(int first, int last, bool headersOnly, const Each &each, Then then);
    void requireOpen() const;

    [[noreturn]] void failRefused(const QString &step, const Reply &reply);
    [[noreturn]] void failParser(const QString &step);
    [[noreturn]] void failUnrelated(const QString &step);

    bool m_open = false;
    bool m_pipelining = true;
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
