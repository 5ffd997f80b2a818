// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QList>
#include <QMetaObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>

#include "core/Error.h"
#include "protocol/imap/ImapResponseParser.h"
#include "protocol/imap/ImapStructure.h"
#include "protocol/MailConnection.h"
#include "protocol/MailboxErrors.h"

class QTimer;

// One IMAP4rev1 conversation (RFC 3501) with the INBOX of one account, for one operation of the
// program, or a connection kept for IDLE. The same rules as Pop3Session: every wait runs a local
// event loop; every failure throws Error with a French text naming the server and the step; the
// limits of SessionLimits apply (the header cap to each fetched header or structure, the message cap
// to a fetched message, the listing cap to every other response and to the bytes of responses
// nobody asked for during one command, the hour to the whole session). A server out of step
// throws ProtocolError: a tagged response with an unknown tag, or out of order (but among the
// chunks of one pass, which a server may run together), a fetched message missing, twice or not
// asked for. Nothing read sets \Seen. Releasing the session drops the connection without LOGOUT.
class ImapSession : public MailConnection
{
public:
    // n: the message's number in the mailbox; header: its whole header block and the blank
    // line, as the server gives them.
    using EachHeader = std::function<void(int n, quint32 uid, const QByteArray &header)>;
    using EachStructure = std::function<void(int n, quint32 uid, const AttachmentInfo &attachments)>;
    using NewMail = std::function<void(int count)>;
    using Failure = std::function<void(const Error &error)>;

    ImapSession(); // SessionLimits::defaults()
    explicit ImapSession(const SessionLimits &limits);
    ~ImapSession();
    ImapSession(const ImapSession &) = delete;
    ImapSession &operator=(const ImapSession &) = delete;

    // Whether open() also opens the INBOX: EXAMINE (read-only) or SELECT sent right behind the
    // login, answered in the same round trip.
    enum class Inbox { Closed, Examined, Selected };
    // Connects, reads the greeting and the capabilities, and logs in; returns only when logged
    // in (and the INBOX open, as select()). As Pop3Session::open: without implicit TLS, STARTTLS
    // whenever offered (a refusal or a failed handshake throws, never falling back to clear
    // text), the capabilities said in clear text forgotten and learned again over TLS from the
    // login's answer (asked for when it has none, or first when the clear-text list said
    // LOGINDISABLED, see login()); without it, a server the account says
    // requires TLS throws EncryptionWithdrawn before the password goes out; the same
    // certificate decision. LOGIN, or AUTHENTICATE PLAIN over TLS when the server disables
    // LOGIN; LOGINDISABLED in clear text means no login. A refused login throws LoginRefused.
    void open(const MailAccount &account, Inbox inbox = Inbox::Closed);
    QStringList capabilities() const;                // the server's last list
    bool hasCapability(QByteArrayView name) const;   // "IDLE", "AUTH=PLAIN"

    // EXAMINE INBOX (read-only: nothing the session does changes the mailbox) or SELECT INBOX.
    void select(bool readOnly);
    int messageCount() const { return m_exists; }      // EXISTS, kept current
    quint32 uidValidity() const { return m_uidValidity; }

    // Messages first..last (1 ≤ first, last ≤ messageCount()) in chunks of pipelined FETCH
    // commands, several in flight, each handed over in order as soon as it may be. each may pump
    // events; if it throws, the exception propagates and the session is no longer usable. Messages
    // expunged meanwhile (by another program) throw MailboxChanged: the numbers of the rest moved.
    void headers(int first, int last, const EachHeader &each);
    // The attachments counted and named from BODYSTRUCTURE by the rule MailMessage applies to
    // the whole message (see ImapStructure), without fetching any of its content: the header
    // of a part the structure may tell short is fetched, pipelined behind the pass. A structure
    // past the limits on a response (lists nested too deep, a line too long) is passed over,
    // up to the message cap: that message's attachments are unknown, the pass goes on.
    void structures(int first, int last, const EachStructure &each);
    // Both in one pass, the structure asked in each header's FETCH: the server reads each message
    // once, and no second pass waits for its first answer. A structure past the limits costs its
    // own attachments only: the header is asked again alone. each comes in order; eachStructure
    // too, behind it (later when a part's header is fetched).
    void headers(int first, int last, const EachHeader &each, const EachStructure &eachStructure);
    // The whole message by its UID; MessageGone when the server no longer holds it.
    QByteArray message(quint32 uid);

    // The folder marked \Junk (RFC 6154) as the server names it, empty when there is none.
    QByteArray junkFolder();
    enum class Removal {
        ToJunk,  // moved to junkFolder(): UID MOVE, else UID COPY, \Deleted and UID EXPUNGE
        Expunge, // \Deleted and UID EXPUNGE of exactly these UIDs
    };
    // Removes the messages with these UIDs, provided the mailbox still has the UIDVALIDITY they
    // were read under (MailboxChanged otherwise). Without UIDPLUS (and, to Junk, without MOVE)
    // throws ExpungeUnsupported; ToJunk without a Junk folder throws Error. Both before anything
    // changes. Returns how many messages left the mailbox (UIDs already gone are not counted).
    int remove(quint32 uidValidity, const QList<quint32> &uids, Removal how);

    // IDLE (RFC 2177) on the selected mailbox, false when the server does not offer it. Returns
    // once the server idles; from then on, while the event loop runs, onNewMail(count) is called
    // when mail comes (an EXISTS above the count the EXPUNGEs before it left, also when the count
    // ends as it was), and onFailure(error) once when the connection drops, the server ends it or
    // says what it should not: the session is then unusable. IDLE is renewed
    // (DONE, IDLE) every 25 minutes, within the 29 after which servers may end it; a server silent
    // for the idle limit after DONE fails, so a connection lost without a word is noticed then.
    // Both come from within a signal of the socket: the session may be released from the event
    // loop (a queued call), not in the callback itself. No other call may be made until
    // stopIdle(), after which the session's limits count afresh, as for a new operation.
    bool startIdle(const NewMail &onNewMail, const Failure &onFailure);
    void stopIdle(); // DONE, and the session is usable again
    bool idling() const { return m_idle != Idle::Off; }
    void setIdleRenewal(int ms) { m_idleRenewalMs = ms; }

    void logout(); // LOGOUT; the connection is closed
    // Ends the session without waiting for the server: DONE when idling, LOGOUT, and the
    // connection closes once they are written (within seconds, whatever the server does).
    void leave();

private:
    enum class Took { No, Charged, Expected };
    struct Command
    {
        QByteArray tag;
        QString step;
        qsizetype cap;       // of each untagged response while it runs
        qsizetype strayLeft; // bytes of untagged responses it may get beyond what it expects
        std::function<Took(const ImapResponse &)> take;
        std::function<void(const ImapResponse &)> done;
        bool concurrent = false; // may complete before the commands sent ahead of it
    };
    enum class Idle { Off, Starting, Idling, Renewing };

    QByteArray issue(const QByteArray &command, const QString &step, qsizetype cap,
                     std::function<Took(const ImapResponse &)> take = {},
                     std::function<void(const ImapResponse &)> done = {});
    ImapResponse run(const QByteArray &command, const QString &step, qsizetype cap,
                     std::function<Took(const ImapResponse &)> take = {});
    ImapResponse expectOk(const QByteArray &command, const QString &step,
                          std::function<Took(const ImapResponse &)> take = {});
    bool pending(const QByteArray &tag) const;
    void finish(const QByteArray &tag);
    void waitForContinuation(const QByteArray &tag);
    void readOne(const QString &step);
    void dispatch(const ImapResponse &r, const QString &step);
    ImapResponse readResponse(const QString &step);
    void noticeUntagged(const ImapResponse &r, const QString &step);
    void noticeCode(const ImapResponse &r);
    void updateCap();
    void requireQuiet(const QString &step);
    void send(const QByteArray &bytes);
    void pull();
    void askCapabilities();
    void upgrade();
    void login(const QByteArray &user, const QByteArray &password, Inbox inbox);
    QByteArray issueSelect(bool readOnly);
    void endSelect(const QByteArray &tag, bool readOnly);
    using Take = std::function<Took(const ImapResponse &)>;
    using Done = std::function<void(const ImapResponse &)>;
    // Commands a pass sends behind its chunks as its responses call for them: send(issue) runs
    // before each read and sends them through issue(command, step, done), within the pass's
    // cap; the pass's untagged responses are offered to take first.
    using IssueInPass = std::function<void(const QByteArray &command, const QString &step, Done done)>;
    struct FollowUps
    {
        Take take;
        std::function<bool(const IssueInPass &issue)> send; // false once nothing is left to send
    };
    // ours: whether a FETCH response holds the items asked for (or only, say, flags changed).
    // deliver: false for a response passed over that the pass is to ask again, by its number
    // alone, for againItems; its second response then takes its turn.
    using Deliver = std::function<bool(const ImapResponse &, int n)>;
    void fetchPass(int first, int last, const QByteArray &items, qsizetype cap,
                   const std::function<bool(const ImapResponse &)> &ours, const Deliver &deliver,
                   const FollowUps *followUps = nullptr, const QByteArray &againItems = {});
    void structurePass(int first, int last, const EachHeader *eachHeader, const EachStructure &each);
    void beginIdle();
    void idleStep(const std::function<void()> &body);
    void endIdleWatch();
    void requireOpen() const;
    void requireSelected() const;

    QString current() const; // the step of the oldest command in flight
    [[noreturn]] void failRefused(const QString &step, const ImapResponse &r);
    [[noreturn]] void failParser(const QString &step, ImapProblem problem);
    [[noreturn]] void failChanged();

    bool m_open = false;
    ImapResponseParser m_parser;
    QString m_lastStep;
    std::deque<Command> m_commands; // in flight, oldest first: tagged responses come in this order
    quint64 m_nextTag = 1;
    bool m_wantContinuation = false;
    bool m_gotContinuation = false;
    bool m_greeted = false;
    bool m_preauth = false;
    bool m_loggingOut = false;
    bool m_bye = false;
    qsizetype m_unaskedLeft = 0; // bytes of responses nobody asked for, while no command runs
    QList<QByteArray> m_capabilities;
    bool m_loginDisabledInClear = false; // the list before STARTTLS said LOGINDISABLED
    // The answers of the login and of EXAMINE or SELECT, which may complete behind other commands.
    ImapResponse m_loginAnswer;
    ImapResponse m_selectAnswer;

    bool m_selected = false;
    bool m_readOnly = true;
    int m_exists = 0;
    quint32 m_uidValidity = 0;
    qint64 m_expunged = 0; // EXPUNGE responses seen
    qint64 m_arrivals = 0; // EXISTS responses that told of mail come since the mailbox was selected
    bool m_junkKnown = false;
    QByteArray m_junk;

    Idle m_idle = Idle::Off;
    int m_idleRenewalMs = 25 * 60 * 1000;
    QByteArray m_idleTag;
    qint64 m_idleArrivals = 0; // the arrivals last told to onNewMail
    NewMail m_onNewMail;
    Failure m_onFailure;
    std::unique_ptr<QTimer> m_idleTimer; // the renewal, then the server's answer to DONE
    QList<QMetaObject::Connection> m_idleWatch;
};
