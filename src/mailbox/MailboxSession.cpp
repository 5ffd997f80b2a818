// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/MailboxSession.h"

#include "core/SafeFile.h"
#include "mailbox/MailMessage.h"

namespace {

// IMAP: the INBOX, EXAMINEd for reading so that nothing sets \Seen; messages named by UID.
class ImapMailbox final : public MailboxSession
{
public:
    void setCertificateDecision(CertificateDecision decide) override { m_session.setCertificateDecision(std::move(decide)); }
    void open(const MailAccount &account, Access access) override
    {
        m_session.open(account);
        m_session.select(access != Access::Change);
    }
    bool encrypted() const override { return m_session.encrypted(); }
    int loginDelay() override { return 0; }
    int messageCount() override { return m_session.messageCount(); }
    // The passes are pipelined in chunks already; nothing to gain from sending them earlier.
    void headersAhead(int, int) override {}
    void headers(int first, int last, const Each &each) override
    {
        m_session.headers(first, last, [&](int n, quint32 uid, quint32, const QByteArray &header) {
            m_ids.insert(n, QString::number(uid));
            each(n, header);
        });
    }
    QHash<int, QString> uniqueIds() override { return m_ids; }
    QString idScope() const override { return QString::number(m_session.uidValidity()); }
    Removal removalKind() override
    {
        const QString junk = ImapResponseParser::mailboxName(m_session.junkFolder());
        // Without either, only a plain EXPUNGE could remove them, and it would also remove what
        // other programs marked \Deleted.
        if (!m_session.hasCapability("UIDPLUS") && !(m_session.hasCapability("MOVE") && !junk.isEmpty()))
            return {Removal::Kind::Refused, {}};
        return junk.isEmpty() ? Removal{} : Removal{Removal::Kind::ToJunk, junk};
    }
    void attachments(int first, int last, const EachAttachments &each,
                     const std::function<void(int n)> &afterPart) override
    {
        m_session.structures(first, last, [&](int n, quint32, const AttachmentInfo &info) {
            afterPart(n);
            each(n, info);
        });
    }
    QByteArray message(int, const QString &id) override { return m_session.message(uidOf(id)); }
    bool idsIdentify() const override { return true; }
    QByteArray header(int) override { throw Error(unsupported()); }
    bool remove(int) override { throw Error(unsupported()); }
    void headersAhead(const QList<int> &) override {}
    void removeAhead(const QList<int> &) override {}
    int removeByIds(const QString &scope, const QList<QString> &ids, bool toJunk) override
    {
        QList<quint32> uids;
        uids.reserve(ids.size());
        for (const QString &id : ids)
            uids << uidOf(id);
        return m_session.remove(scope.toUInt(), uids,
                                toJunk ? ImapSession::Removal::ToJunk : ImapSession::Removal::Expunge);
    }
    void close() override { m_session.logout(); }

private:
    // A row without a UID (a scan that failed before it) names no message.
    static quint32 uidOf(const QString &id)
    {
        bool ok = false;
        const quint32 uid = id.toUInt(&ok);
        if (!ok || uid == 0)
            throw MessageGone(QStringLiteral("Message inconnu du serveur : relancez la réception des messages"));
        return uid;
    }
    static QString unsupported() { return QStringLiteral("Opération sans objet sur une boîte IMAP"); }

    ImapSession m_session;
    QHash<int, QString> m_ids;
};

} // namespace

QList<QString> MailboxSession::uniqueIdsByNumber()
{
    const QHash<int, QString> ids = uniqueIds();
    QList<QString> byNumber;
    for (auto it = ids.cbegin(); it != ids.cend(); ++it) {
        if (it.key() < 1)
            continue;
        if (it.key() >= byNumber.size())
            byNumber.resize(qsizetype(it.key()) + 1);
        byNumber[it.key()] = it.value();
    }
    return byNumber;
}

std::unique_ptr<MailboxSession> makeMailboxSession(const MailAccount &account)
{
    if (account.protocol == MailAccount::Protocol::Imap)
        return std::make_unique<ImapMailbox>();
    return std::make_unique<Pop3Mailbox>();
}

Pop3Mailbox::Pop3Mailbox() : m_own(std::make_unique<Pop3Session>()), m_session(*m_own) {}

Pop3Mailbox::Pop3Mailbox(Pop3Session &session) : m_session(session) {}

void Pop3Mailbox::setCertificateDecision(CertificateDecision decide) { m_session.setCertificateDecision(std::move(decide)); }

void Pop3Mailbox::open(const MailAccount &account, Access access)
{
    if (access == Access::Scan)
        m_session.askCountAhead();
    m_session.open(account);
}

bool Pop3Mailbox::encrypted() const { return m_session.encrypted(); }
int Pop3Mailbox::loginDelay() { return m_session.loginDelay(); }
int Pop3Mailbox::messageCount() { return m_session.messageCount(); }

void Pop3Mailbox::headersAhead(int first, int last)
{
    m_session.headersAhead(first, last, Pop3Session::Then::UniqueIds);
}

void Pop3Mailbox::headers(int first, int last, const Each &each)
{
    m_session.headers(first, last, each, Pop3Session::Then::UniqueIds);
}

QHash<int, QString> Pop3Mailbox::uniqueIds() { return m_session.uniqueIds(); }
QList<QString> Pop3Mailbox::uniqueIdsByNumber() { return m_session.uniqueIdsByNumber(); }

// POP3 cannot tell the structure without the message: each is read whole.
void Pop3Mailbox::attachments(int first, int last, const EachAttachments &each,
                              const std::function<void(int n)> &afterPart)
{
    m_session.messages(first, last, [&](int n, const QByteArray &bytes) {
        const MailMessage message = MailMessage::parse(bytes);
        AttachmentInfo info;
        for (const MailPart &part : message.parts()) {
            // The name the attachment will be saved under, so an unnamed part is listed too.
            if (part.kind == MailPart::Attachment)
                info.names << attachments::safeFileName(part.fileName, ++info.count);
            afterPart(n);
        }
        each(n, info);
    });
}

QByteArray Pop3Mailbox::message(int n, const QString &) { return m_session.message(n); }
QByteArray Pop3Mailbox::header(int n) { return m_session.header(n); }
bool Pop3Mailbox::remove(int n) { return m_session.remove(n); }
void Pop3Mailbox::headersAhead(const QList<int> &numbers) { m_session.headersAhead(numbers); }
void Pop3Mailbox::removeAhead(const QList<int> &numbers) { m_session.removeAhead(numbers); }

int Pop3Mailbox::removeByIds(const QString &, const QList<QString> &, bool)
{
    throw Error(QStringLiteral("Opération sans objet sur une boîte POP3"));
}

void Pop3Mailbox::close() { m_session.quit(); }
