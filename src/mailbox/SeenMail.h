// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QList>
#include <QSet>
#include <QString>

#include "protocol/MessageIds.h"

class MessageList;

// What of a mailbox was seen, to tell new mail by, never by the count alone: a message that
// arrives while another leaves keeps the count as it was.
// - IMAP: the UIDs at or above the UIDNEXT the seen rows were read under are new. UIDs only grow
//   within a UIDVALIDITY, so one past the highest UID seen is that UIDNEXT for every message a
//   later scan can find, and it holds for a scan that stopped part way too.
// - POP3: the UIDL ids not seen are new.
// - Without ids (a POP3 server without UIDL, a pass that stopped before them, another mailbox
//   than the one seen), new mail is what the count grew by: the last messages.
class SeenMail
{
public:
    SeenMail() = default; // nothing seen: every message is new against it

    // What rows 1..count of list hold; count: the messages the scan counted, read or not.
    static SeenMail of(const MessageList &list, int count);

    bool isNull() const { return !m_known; }
    // The rows of list among 1..count whose message was not seen here, in order.
    QList<int> newRows(const MessageList &list, int count) const;
    // What this and a later look that stopped part way saw together: what that one did not
    // read stays unseen.
    SeenMail with(const SeenMail &later) const;
    // Messages left the mailbox (count remain): a count seen cannot stay above them.
    void shrinkTo(int count);

private:
    enum class Kind { Count, Uids, Ids };
    bool m_known = false;
    Kind m_kind = Kind::Count;
    int m_count = 0;
    QString m_scope;       // the UIDVALIDITY the UIDs hold under
    quint32 m_nextUid = 1; // the first UID not seen
    // POP3: the ids seen, in any order (numbers mean nothing here); shared with the list they
    // were read from, and a tenth of what a set of their texts took.
    MessageIds m_ids;
};
