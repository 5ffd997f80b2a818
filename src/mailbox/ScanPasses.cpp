// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/ScanPasses.h"

#include <exception>
#include <vector>

#include "core/SafeFile.h"
#include "mailbox/MailMessage.h"
#include "mailbox/MessageList.h"
#include "mailbox/Pop3Session.h"

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

void writeHeaderRow(MessageList &list, int r, const MailMessage &header)
{
    const QDateTime when = header.date();
    list.setCells(r, MessageList::From,
                  {header.senderAddress(), header.subject(),
                   when.isValid() ? shortDate(when) + QStringLiteral("  ") + longTime(when) : QString(),
                   typeCode(header.contentType())});
    list.setCell(r, MessageList::Mark, QString());
}

void headerPass(Pop3Session &session, MessageList &list, int count, QString &lastHeaderDate,
                const std::function<void(int)> &afterRow, const RowHold &hold)
{
    std::vector<std::pair<int, MailMessage>> held;
    bool begun = false;
    int written = 0;
    const auto write = [&](int r, const MailMessage &header) {
        writeHeaderRow(list, r, header);
        lastHeaderDate = shortDate(header.date());
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
                MailMessage header = MailMessage::parseListFields(bytes);
                if (!begun && hold.over && !hold.over()) {
                    held.emplace_back(r, std::move(header));
                    return;
                }
                release();
                write(r, header);
            },
            Pop3Session::Then::UniqueIds);
    } catch (const Pop3ProtocolError &) {
        outOfStep();
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    release();
    // Sent behind the headers, or asked now when the pass stopped short and the session is
    // still in step: the rows written keep their ids even then, so that a deletion can tell
    // their messages from others with the same subject. The listing's lines must be numbers
    // and ids, not another reply's.
    QHash<int, QString> ids;
    try {
        ids = session.uniqueIds();
    } catch (const Pop3ProtocolError &) {
        outOfStep();
        throw;
    } catch (...) {
        if (!failure)
            throw;
    }
    for (int r = 1; r <= written; ++r)
        list.setUid(r, ids.value(r));
    if (failure)
        std::rethrow_exception(failure);
}

void attachmentPass(Pop3Session &session, MessageList &list, int m,
                    const std::function<void(int)> &afterPart, const std::function<void(int)> &afterMessage)
{
    if (m < 1)
        return;
    try {
        session.messages(1, m, [&](int r, const QByteArray &bytes) {
            const MailMessage message = MailMessage::parse(bytes);
            // Rows beyond the list (the count grew since the header pass) are dropped by setCell.
            list.setCell(r, MessageList::Attachments, QStringLiteral("_"));
            QString names;
            int count = 0;
            for (const MailPart &part : message.parts()) {
                if (part.kind == MailPart::Attachment) {
                    ++count;
                    // The name the attachment will be saved under, so an unnamed part is listed too.
                    names += attachments::safeFileName(part.fileName, count) + QLatin1Char('|');
                }
                if (count > 0)
                    list.setCell(r, MessageList::Attachments, QString::number(count));
                afterPart(r);
            }
            if (!names.isEmpty())
                list.setCell(r, MessageList::AttachmentNames, names);
            afterMessage(r);
        });
    } catch (const Pop3ProtocolError &) {
        for (int r = 1; r < list.rows(); ++r) {
            list.setCell(r, MessageList::Attachments, QString());
            list.setCell(r, MessageList::AttachmentNames, QString());
        }
        throw;
    }
}

} // namespace scan
