// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/ImapMailbox.h"

#include <algorithm>
#include <charconv>

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
    m_session.open(account, access != Access::Change ? ImapSession::Inbox::Examined : ImapSession::Inbox::Selected);
}

void ImapMailbox::headers(int first, int last, const Each &each)
{
    if (first >= 1 && m_ids.size() <= last)
        m_ids.resize(qsizetype(last) + 1);
    const auto eachHeader = [&](int n, quint32 uid, const QByteArray &header) {
        char digits[12];
        const auto end = std::to_chars(digits, digits + sizeof digits, uid).ptr;
        m_ids.set(n, QByteArrayView(digits, end - digits));
        each(n, header);
    };
    if (!m_withStructures)
        return m_session.headers(first, last, eachHeader);
    m_attachments.assign(size_t(last) + 1, {});
    m_read.assign(size_t(last) + 1, false);
    m_session.headers(first, last, eachHeader, [&](int n, quint32, const AttachmentInfo &info) {
        m_attachments[size_t(n)] = info;
        m_read[size_t(n)] = true;
    });
}

Removal ImapMailbox::removalKind(Lookup lookup)
{
    // Without either, only a plain EXPUNGE could remove them, and it would also remove what
    // other programs marked \Deleted.
    const bool uidPlus = m_session.hasCapability("UIDPLUS");
    const bool move = m_session.hasCapability("MOVE");
    if (!uidPlus && !move)
        return {Removal::Kind::Refused, {}};
    // The folder list is a round trip of every scan, for a deletion now and then.
    if (lookup == Lookup::Known)
        return {Removal::Kind::Unknown, {}};
    const QString junk = ImapResponseParser::mailboxName(m_session.junkFolder());
    if (!uidPlus && junk.isEmpty())
        return {Removal::Kind::Refused, {}};
    return junk.isEmpty() ? Removal{Removal::Kind::DestroyNoJunk, {}} : Removal{Removal::Kind::ToJunk, junk};
}

void ImapMailbox::attachments(int first, int last, const EachAttachments &each,
                              const std::function<void(int n)> &afterPart)
{
    if (first >= 1 && size_t(last) < m_read.size() && std::all_of(m_read.begin() + first, m_read.begin() + last + 1, [](bool r) { return r; })) {
        for (int n = first; n <= last; ++n) {
            afterPart(n);
            each(n, m_attachments[size_t(n)]);
        }
        return;
    }
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
