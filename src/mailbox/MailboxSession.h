// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

#include "mailbox/ImapSession.h"
#include "mailbox/Pop3Session.h"
#include "mailbox/Removal.h"

// A server out of step with its commands, whichever the protocol.
using ProtocolError = ProtocolError;

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
    // Logs in (the TLS and certificate rules of Pop3Session::open) and opens the mailbox.
    virtual void open(const MailAccount &account, Access access) = 0;
    virtual bool encrypted() const = 0;
    virtual int loginDelay() = 0; // seconds the server asks between logins; 0 when none
    virtual int messageCount() = 0;

    // The headers of first..last, in order, with the ids for uniqueIds() afterwards; the first
    // commands may be sent ahead, before the caller reads anything.
    virtual void headersAhead(int first, int last) = 0;
    virtual void headers(int first, int last, const Each &each) = 0;
    // The ids by message number; empty when the server gives none.
    virtual QHash<int, QString> uniqueIds() = 0;
    // The same, indexed by message number (index 0 and numbers without an id empty).
    virtual QList<QString> uniqueIdsByNumber();
    // What the ids hold under (IMAP's UIDVALIDITY); empty when they stand alone.
    virtual QString idScope() const = 0;
    // What a removal would do to this mailbox's messages: moved to the server's \Junk folder,
    // destroyed, or refused when the server cannot remove chosen messages only.
    virtual Removal removalKind() = 0;

    // The attachments of messages first..last, as MailMessage counts and names them (unknown
    // for a message IMAP describes past the limits); afterPart(n) after each part read, for a
    // progress bar.
    virtual void attachments(int first, int last, const EachAttachments &each,
                             const std::function<void(int n)> &afterPart) = 0;
    // Message n whole, by its id where the ids name messages for good.
    virtual QByteArray message(int n, const QString &id) = 0;

    // Whether an id names its message for good within idScope(): a removal then goes by ids
    // alone; otherwise each message is checked against its row (header(n)) and removed by number.
    virtual bool idsIdentify() const = 0;
    virtual QByteArray header(int n) = 0;
    virtual bool remove(int n) = 0; // false when the server refuses it
    // header(n) / remove(n) of each of numbers asked now, in one go where the protocol allows,
    // their answers left for those calls: a run over scattered messages is not a round trip each.
    virtual void headersAhead(const QList<int> &numbers) = 0;
    virtual void removeAhead(const QList<int> &numbers) = 0;
    // The messages with these ids, provided the mailbox holds under scope still (MailboxChanged
    // otherwise): moved to removalKind()'s folder when toJunk, else destroyed. Returns how many
    // left; a failure midway throws RemovalFailed, which tells how many had left already.
    virtual int removeByIds(const QString &scope, const QList<QString> &ids, bool toJunk) = 0;

    virtual void close() = 0; // ends the session, so that removals take effect
};

// The session of account's protocol.
std::unique_ptr<MailboxSession> makeMailboxSession(const MailAccount &account);

// A POP3 session as a mailbox session, the caller's own or one made here.
class Pop3Mailbox final : public MailboxSession
{
public:
    Pop3Mailbox();
    explicit Pop3Mailbox(Pop3Session &session);

    void setCertificateDecision(CertificateDecision decide) override;
    void open(const MailAccount &account, Access access) override;
    bool encrypted() const override;
    int loginDelay() override;
    int messageCount() override;
    void headersAhead(int first, int last) override;
    void headers(int first, int last, const Each &each) override;
    QHash<int, QString> uniqueIds() override;
    QList<QString> uniqueIdsByNumber() override;
    QString idScope() const override { return {}; }
    Removal removalKind() override { return {}; }
    void attachments(int first, int last, const EachAttachments &each,
                     const std::function<void(int n)> &afterPart) override;
    QByteArray message(int n, const QString &id) override;
    bool idsIdentify() const override { return false; }
    QByteArray header(int n) override;
    bool remove(int n) override;
    void headersAhead(const QList<int> &numbers) override;
    void removeAhead(const QList<int> &numbers) override;
    int removeByIds(const QString &scope, const QList<QString> &ids, bool toJunk) override;
    void close() override;

private:
    std::unique_ptr<Pop3Session> m_own;
    Pop3Session &m_session;
};
