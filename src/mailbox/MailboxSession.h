// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

#include "protocol/imap/ImapStructure.h"
#include "protocol/MailConnection.h"
#include "protocol/MailboxErrors.h"
#include "protocol/MessageIds.h"
#include "mailbox/Removal.h"

// One operation's conversation with an account's mailbox, POP3 or IMAP alike: what the scan,
// the preview, the attachment saving, the deletion and pelicorde-check ask of a server. Messages
// are numbered 1..count in the server's order; each has an id (POP3's UIDL, IMAP's UID) that
// the list keeps with its row. Failures throw Error (ProtocolError, EncryptionWithdrawn,
// LoginRefused, MailboxChanged, ExpungeUnsupported, MessageGone) with a French text. Releasing
// the session drops the connection without ending it: nothing changes unless close() was called.
class MailboxSession
{
public:
    using Each = std::function<void(int n, const QByteArray &header)>;
    using EachAttachments = std::function<void(int n, const AttachmentInfo &attachments)>;
    // Scan: reads, the count asked right behind the login where the protocol allows; Read: reads
    // only (IMAP's EXAMINE: nothing set \Seen); Change: may remove messages.
    enum class Access { Scan, Read, Change };

    virtual ~MailboxSession() = default;

    virtual void setCertificateDecision(CertificateDecision decide) = 0;
    // Logs in and opens the mailbox. Without implicit TLS the session upgrades whenever the server
    // offers it, never falling back to clear text; a certificate the CAs do not validate goes to
    // the certificate decision (see openSession in SessionOpening.h).
    virtual void open(const MailAccount &account, Access access) = 0;
    virtual bool encrypted() const = 0;
    virtual int loginDelay() = 0; // seconds the server asks between logins; 0 when none
    virtual int messageCount() = 0;

    // The headers of first..last, in order, with the ids for uniqueIdsByNumber() afterwards; the first
    // commands may be sent ahead, before the caller reads anything.
    virtual void headersAhead(int first, int last) = 0;
    // attachments() will be asked after headers(): a session that can read them along with the
    // headers does so, and attachments() then hands them over.
    virtual void attachmentsAhead() {}
    virtual void headers(int first, int last, const Each &each) = 0;
    // The ids indexed by message number (index 0 and numbers without an id empty); empty when
    // the server gives none.
    virtual MessageIds uniqueIdsByNumber() = 0;
    // What the ids hold under (IMAP's UIDVALIDITY); empty when they stand alone.
    virtual QString idScope() const = 0;
    // What a removal would do to this mailbox's messages: moved to the server's \Junk folder,
    // destroyed, or refused when the server cannot remove chosen messages only. Known: what can
    // be told without asking the server anything more, Kind::Unknown otherwise.
    enum class Lookup { Ask, Known };
    virtual Removal removalKind(Lookup lookup = Lookup::Ask) = 0;

    // The attachments of messages first..last, as MailMessage counts and names them (unknown
    // for a message IMAP describes past the limits); afterPart(n) after each part read, for a
    // progress bar.
    virtual void attachments(int first, int last, const EachAttachments &each,
                             const std::function<void(int n)> &afterPart) = 0;
    // Message n whole, by its id where the ids name messages for good.
    virtual QByteArray message(int n, const QString &id) = 0;

    // Removes the rows' messages in the order given, each only while it is still its row's: by id
    // under idScope where ids name messages for good (MailboxChanged, nothing removed, when the
    // mailbox no longer holds under it), otherwise by number once the server's subject and id
    // are checked against the row's. A row that no longer matches, or has no id where one is
    // needed, stays (events.changed); one the server refuses stays too (events.refused) and the
    // run goes on. how: to its folder (ToJunk) or destroyed. Returns how many were removed; a
    // failure midway throws (RemovalFailed tells how many had gone already).
    virtual int remove(const QList<RemovalRow> &rows, const QString &idScope, const Removal &how,
                       const RemovalEvents &events) = 0;
    // Whether remove() takes effect as it goes rather than at close(): after a failure the
    // mailbox may then have changed.
    virtual bool removesAtOnce() const = 0;

    // New mail told on a connection kept open for it. Whether this mailbox can be watched at all,
    // known before connecting.
    virtual bool canWatch() const { return false; }
    using NewMail = std::function<void(int count)>;
    using Lost = std::function<void(const Error &error)>;
    // Once opened for reading: keeps the connection waiting for new mail, renewing the wait every
    // renewalMs, and returns once it waits; false when the server does not offer it. Then, while
    // the event loop runs, onNewMail(count) when mail comes and onLost(error) once when the
    // connection ends, both from within its signals (release the session from the event loop,
    // not in them). No other call may be made but leave().
    virtual bool watch(const NewMail &onNewMail, const Lost &onLost, int renewalMs);
    virtual bool watching() const { return false; }
    // Ends the session without waiting for the server; the session is to be released then.
    virtual void leave() {}

    virtual void close() = 0; // ends the session, so that removals take effect
};

// The session of account's protocol.
std::unique_ptr<MailboxSession> makeMailboxSession(const MailAccount &account);
