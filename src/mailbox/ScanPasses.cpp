// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/ScanPasses.h"

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
    const auto write = [&](int r, const MailMessage &header) {
        writeHeaderRow(list, r, header);
        lastHeaderDate = shortDate(header.date());
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
    if (count < 1) {
        release();
        return;
    }
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
        release();
        // After the headers (sent behind them), where it also shows a reply left over from
        // them: the listing's lines must be numbers and ids, not another reply's.
        const QHash<int, QString> ids = session.uniqueIds();
        for (int r = 1; r <= count; ++r)
            list.setUid(r, ids.value(r));
    } catch (const Pop3ProtocolError &) {
        held.clear();
        release();
        list.clearDataRows();
        lastHeaderDate.clear();
        throw;
    } catch (...) {
        release();
        throw;
    }
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
