// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QDateTime>
#include <QString>
#include <functional>

class MessageList;
class MailMessage;
class MailboxSession;
class Pop3Session;
namespace learning {
class SpamScorer;
}

// The two passes of a header scan as plain code over a session and the message list; the
// window's scan drives the progress controls and pumps events through the callbacks.
namespace scan {

// "M/M", "M/A", "T/H" or "Autre": exact, case-sensitive comparison of type/subtype.
QString typeCode(const QString &contentType);
// Short date "dd/MM/yyyy" and long time "HH:mm:ss" in local time; empty for an invalid date.
QString shortDate(const QDateTime &when);
QString longTime(const QDateTime &when);

// Writes the header of message r into row r (sender, subject, date and time, type, empty mark);
// shortDate, when given, receives the short date written. The date is in the time zone read
// last (localclock::readZone(), as a pass does at its start).
void writeHeaderRow(MessageList &list, int r, const MailMessage &header, QString *shortDate = nullptr);

// Rows held back while the headers are already read: as long as over() says no, each header
// read is parsed and kept; begin() runs once before the first row is written, or at the end
// of a pass that wrote none (an empty mailbox, a failure, all read before over()).
struct RowHold
{
    std::function<bool()> over;
    std::function<void()> begin;
};

// Reads the headers of messages 1..count into rows 1..count, pipelined when the server allows,
// then the unique ids of the rows (POP3's UIDL, IMAP's UIDs). lastHeaderDate follows the short date of each header
// written; afterRow(r) runs after each row. The rows reach the list's views in one batch
// (MessageList::Batch): an afterRow that lets a view repaint announces them first. Rows read before a failure are written, with their
// ids when the session is still in step. A server out of step (ProtocolError) leaves every
// row empty: the rows read may show other messages than their numbers'.
//
// With a scorer, each header block is also scored, in a thread beside the one that reads the
// server (the scorer must outlive the pass); the rows read keep their scores and what a
// deletion learns from them (MessageList::setScores). Without one, the rows have no score.
void headerPass(MailboxSession &session, MessageList &list, int count, QString &lastHeaderDate,
                const std::function<void(int)> &afterRow, const RowHold &hold = {},
                const learning::SpamScorer *scorer = nullptr);
void headerPass(Pop3Session &session, MessageList &list, int count, QString &lastHeaderDate,
                const std::function<void(int)> &afterRow, const RowHold &hold = {},
                const learning::SpamScorer *scorer = nullptr);

// Reads the attachments of messages 1..m (POP3: each message whole; IMAP: its structure) and
// writes their count ("_" for none, "?" when unknown) and names into columns 4 and 6 of the rows that exist. afterPart(r) runs after each part (the progress step), afterMessage(r)
// after each message. A server out of step empties those two columns of every row.
void attachmentPass(MailboxSession &session, MessageList &list, int m,
                    const std::function<void(int)> &afterPart, const std::function<void(int)> &afterMessage);

} // namespace scan
