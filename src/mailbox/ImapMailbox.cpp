// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/ImapMailbox.h"

namespace {

// A row without a UID (a scan that failed before it) names no message.
quint32 uidOf(const QString &id)
{
    bool ok = false;
    const quint32 uid = id.toUInt(&ok);
    if (!ok || uid == 0)
        throw MessageGone(QStringLiteral("Message inconnu du serveur : relancez la réception des messages"));
    return uid;
}

} // namespace

void ImapMailbox::setCertificateDecision(CertificateDecision decide) { m_session.setCertificateDecision(std::move(decide)); }

void ImapMailbox::open(const MailAccount &account, Access access)
{
    m_session.open(account);
    m_session.select(access != Access::Change);
}

void ImapMailbox::headers(int first, int last, const Each &each)
{
    m_session.headers(first, last, [&](int n, quint32 uid, quint32, const QByteArray &header) {
        m_ids.insert(n, QString::number(uid));
        each(n, header);
    });
}

Removal ImapMailbox::removalKind()
{
    const QString junk = ImapResponseParser::mailboxName(m_session.junkFolder());
    // Without either, only a plain EXPUNGE could remove them, and it would also remove what
    // other programs marked \Deleted.
    if (!m_session.hasCapability("UIDPLUS") && !(m_session.hasCapability("MOVE") && !junk.isEmpty()))
        return {Removal::Kind::Refused, {}};
    return junk.isEmpty() ? Removal{Removal::Kind::DestroyNoJunk, {}} : Removal{Removal::Kind::ToJunk, junk};
}

void ImapMailbox::attachments(int first, int last, const EachAttachments &each,
                              const std::function<void(int n)> &afterPart)
{
    m_session.structures(first, last, [&](int n, quint32, const AttachmentInfo &info) {
        afterPart(n);
        each(n, info);
    });
}

QByteArray ImapMailbox::message(int, const QString &id) { return m_session.message(uidOf(id)); }

// One step under the scan's UIDVALIDITY: a mailbox renumbered since cannot mislead it.
int ImapMailbox::remove(const QList<RemovalRow> &rows, const QString &idScope, const Removal &how,
                        const RemovalEvents &events)
{
    QList<QString> ids;
    for (const RemovalRow &row : rows) {
        if (row.id.isEmpty())
            events.rowChanged(row);
        else
            ids << row.id;
    }
    events.step();
    int removed = 0;
    if (!ids.isEmpty()) {
        QList<quint32> uids;
        uids.reserve(ids.size());
        for (const QString &id : std::as_const(ids))
            uids << uidOf(id);
        removed = m_session.remove(idScope.toUInt(), uids,
                                   how.kind == Removal::Kind::ToJunk ? ImapSession::Removal::ToJunk
                                                                     : ImapSession::Removal::Expunge);
    }
    events.step();
    return removed;
}

bool ImapMailbox::watch(const NewMail &onNewMail, const Lost &onLost, int renewalMs)
{
    m_session.setIdleRenewal(renewalMs);
    return m_session.startIdle(onNewMail, onLost);
}
