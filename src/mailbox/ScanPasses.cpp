// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/ScanPasses.h"

#include <exception>
#include <optional>
#include <vector>

#include "core/LocalClock.h"
#include "message/MailMessage.h"
#include "mailbox/Pop3Mailbox.h"
#include "mailbox/MessageList.h"
#include "mailbox/RowScores.h"

namespace scan {

QString typeCode(const QString &contentType)
{
    if (contentType == QLatin1String("multipart/mixed"))
        return QStringLiteral("M/M");
    if (contentType == QLatin1String("multipart/alternative"))
        return QStringLiteral("M/A");
    if (contentType == QLatin1String("text/html"))
        return QStringLiteral("T/H");
    return QStringLiteral("Autre");
}

QString shortDate(const QDateTime &when)
{
    return when.isValid() ? when.toLocalTime().toString(QStringLiteral("dd/MM/yyyy")) : QString();
}

QString longTime(const QDateTime &when)
{
    return when.isValid() ? when.toLocalTime().toString(QStringLiteral("HH:mm:ss")) : QString();
}

void writeHeaderRow(MessageList &list, int r, const MailMessage &header, QString *shortDate)
{
    qint64 secs = 0;
    QString when;
    if (header.dateSecs(secs))
        when = localclock::dateTimeText(secs, shortDate);
    else if (shortDate)
        shortDate->clear();
    list.setCells(r, MessageList::From, {header.listedSender(), header.subject(), when, typeCode(header.contentType())});
    list.setTick(r, MessageList::TickedBy::Nobody);
}

void headerPass(MailboxSession &session, MessageList &list, int count, QString &lastHeaderDate,
                const std::function<void(int)> &afterRow, const RowHold &hold, const learning::SpamScorer *scorer)
{
    // Scores of another reading of the mailbox would stand beside these rows.
    list.setScores(nullptr);
    std::optional<RowScoring> scoring;
    if (scorer && count >= 1)
        scoring.emplace(*scorer, count + 1);
    // The rows reach the views in batches: afterRow announces them before it lets a view repaint.
    const MessageList::Batch batch(list);
    std::vector<std::pair<int, MailMessage>> held;
    bool begun = false;
    int written = 0;
    localclock::readZone();
    const auto write = [&](int r, const MailMessage &header) {
        writeHeaderRow(list, r, header, &lastHeaderDate);
        written = r;
        afterRow(r);
    };
    const auto release = [&] {
        if (begun)
            return;
        begun = true;
        if (hold.begin)
            hold.begin();
        for (const auto &[r, header] : held)
            write(r, header);
        held.clear();
    };
    const auto outOfStep = [&] {
        scoring.reset();
        held.clear();
        release();
        list.clearDataRows();
        lastHeaderDate.clear();
    };
    if (count < 1) {
        release();
        return;
    }
    std::exception_ptr failure;
    try {
        session.headers(
            1, count,
            [&](int r, const QByteArray &bytes) {
                if (scoring)
                    scoring->add(r, bytes);
                MailMessage header = MailMessage::parseListFields(bytes);
                if (!begun && hold.over && !hold.over()) {
                    held.emplace_back(r, std::move(header));
                    return;
                }
                release();
                write(r, header);
            });
    } catch (const ProtocolError &) {
        outOfStep();
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    release();
    list.announce();
    // Sent behind the headers, or asked now when the pass stopped short and the session is
    // still in step: the rows written keep their ids even then, so that a deletion can tell
    // their messages from others with the same subject. The listing's lines must be numbers
    // and ids, not another reply's.
    MessageIds ids;
    try {
        ids = session.uniqueIdsByNumber();
    } catch (const ProtocolError &) {
        outOfStep();
        throw;
    } catch (...) {
        if (!failure)
            throw;
    }
    list.setUids(std::move(ids), written);
    if (scoring)
        list.setScores(scoring->finish());
    if (failure)
        std::rethrow_exception(failure);
}

void headerPass(Pop3Session &session, MessageList &list, int count, QString &lastHeaderDate,
                const std::function<void(int)> &afterRow, const RowHold &hold, const learning::SpamScorer *scorer)
{
    Pop3Mailbox mailbox(session);
    headerPass(mailbox, list, count, lastHeaderDate, afterRow, hold, scorer);
}

void attachmentPass(MailboxSession &session, MessageList &list, int m,
                    const std::function<void(int)> &afterPart, const std::function<void(int)> &afterMessage)
{
    if (m < 1)
        return;
    try {
        session.attachments(
            1, m,
            [&](int r, const AttachmentInfo &info) {
                // Rows beyond the list (the count grew since the header pass) are dropped by setCell.
                // "?": the server's description of the message went past the limits.
                list.setCell(r, MessageList::Attachments,
                             !info.known ? QStringLiteral("?") : info.count > 0 ? QString::number(info.count) : QStringLiteral("_"));
                if (!info.names.isEmpty())
                    list.setCell(r, MessageList::AttachmentNames, info.names.join(QLatin1Char('|')) + QLatin1Char('|'));
                afterMessage(r);
            },
            afterPart);
    } catch (const ProtocolError &) {
        for (int r = 1; r < list.rows(); ++r) {
            list.setCell(r, MessageList::Attachments, QString());
            list.setCell(r, MessageList::AttachmentNames, QString());
        }
        throw;
    }
}

} // namespace scan
