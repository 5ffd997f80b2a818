// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/SeenMail.h"

#include <algorithm>

#include "mailbox/MessageList.h"

namespace {

// The rows a count covers: a list shorter than its count (a scan that stopped) has no more.
int lastRow(const MessageList &list, int count) { return std::min(count, list.rows() - 1); }

bool everyRowHasId(const MessageList &list, int count)
{
    for (int r = 1; r <= lastRow(list, count); ++r)
        if (!list.uids().has(r))
            return false;
    return lastRow(list, count) == count;
}

} // namespace

SeenMail SeenMail::of(const MessageList &list, int count)
{
    SeenMail seen;
    seen.m_known = true;
    seen.m_count = count;
    if (!list.idScope().isEmpty()) {
        seen.m_kind = Kind::Uids;
        seen.m_scope = list.idScope();
        for (int r = 1; r <= lastRow(list, count); ++r)
            seen.m_nextUid = std::max(seen.m_nextUid, list.uid(r).toUInt() + 1);
    } else if (everyRowHasId(list, count)) {
        seen.m_kind = Kind::Ids;
        seen.m_ids = list.uids();
        seen.m_ids.truncate(qsizetype(count) + 1);
    }
    return seen;
}

QList<int> SeenMail::newRows(const MessageList &list, int count) const
{
    QList<int> rows;
    const int last = lastRow(list, count);
    if (m_kind == Kind::Uids && list.idScope() == m_scope) {
        // A row without its UID (a pass that stopped before it) is told by the next scan.
        for (int r = 1; r <= last; ++r)
            if (const quint32 uid = list.uid(r).toUInt(); uid >= m_nextUid)
                rows << r;
    } else if (m_kind == Kind::Ids && list.idScope().isEmpty() && everyRowHasId(list, count)) {
        QSet<QByteArrayView> seen;
        seen.reserve(m_ids.size());
        for (qsizetype n = 0; n < m_ids.size(); ++n)
            if (m_ids.has(n))
                seen.insert(m_ids.bytes(n));
        for (int r = 1; r <= last; ++r)
            if (!seen.contains(list.uids().bytes(r)))
                rows << r;
    } else {
        // New messages take the highest numbers on the server.
        for (int r = std::max(m_count, 0) + 1; r <= last; ++r)
            rows << r;
    }
    return rows;
}

SeenMail SeenMail::with(const SeenMail &later) const
{
    SeenMail both = later;
    if (m_known && m_kind == Kind::Uids && later.m_kind == Kind::Uids && m_scope == later.m_scope)
        both.m_nextUid = std::max(m_nextUid, later.m_nextUid);
    else if (m_known && m_kind == Kind::Ids && later.m_kind == Kind::Ids)
        for (qsizetype n = 0, next = both.m_ids.size(); n < m_ids.size(); ++n)
            if (m_ids.has(n))
                both.m_ids.set(next++, m_ids.bytes(n));
    // Otherwise the later count alone: the ids seen before may not name what it counted.
    return both;
}

void SeenMail::shrinkTo(int count) { m_count = std::min(m_count, count); }
