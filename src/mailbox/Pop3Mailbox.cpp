// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/Pop3Mailbox.h"

#include "core/SafeFile.h"
#include "message/MailMessage.h"
#include "mailbox/MessageList.h"

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

MessageIds Pop3Mailbox::uniqueIdsByNumber() { return m_session.uniqueIdsByNumber(); }

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

// Whether message row.number on the server is still the one the row shows.
bool Pop3Mailbox::stillTheSame(const RemovalRow &row, const QHash<int, QString> &ids)
{
    const MailMessage header = MailMessage::parse(m_session.header(row.number));
    // Compared as text, not through the ANSI code page: there, two Cyrillic or Chinese subjects
    // of the same length both read as a row of '?' and pass for the same.
    if (MessageList::kept(header.subject()) != row.subject)
        return false;
    // Subjects repeat (newsletters, notifications, spam runs); the unique id does not. When the
    // server gives ids, a row without one cannot be told from its neighbours.
    if (row.id.isEmpty() && ids.isEmpty())
        return true;
    return !row.id.isEmpty() && ids.value(row.number) == row.id;
}

// DELE marks only: nothing is deleted unless close() sends QUIT, so a run that fails or is given
// up midway (the session released) deletes nothing.
int Pop3Mailbox::remove(const QList<RemovalRow> &rows, const QString &, const Removal &, const RemovalEvents &events)
{
    // A row beyond the mailbox's end stands for a message that is gone: asking the server for
    // it would only fail the whole run.
    const int count = m_session.messageCount();
    const QHash<int, QString> ids = rows.isEmpty() ? QHash<int, QString>() : m_session.uniqueIds();

    // In steps of many rows: their headers asked in one go, then the deletions of those that
    // still match; a link's round trip is paid per step, not twice per message.
    constexpr int kStep = 2000;
    int removed = 0;
    for (qsizetype from = 0; from < rows.size(); from += kStep) {
        events.step();
        const QList<RemovalRow> step = rows.mid(from, kStep);
        QList<int> onServer;
        for (const RemovalRow &row : step)
            if (row.number <= count)
                onServer << row.number;
        m_session.headersAhead(onServer);
        QList<RemovalRow> same;
        QList<int> numbers;
        for (const RemovalRow &row : step) {
            if (row.number <= count && stillTheSame(row, ids)) {
                same << row;
                numbers << row.number;
            } else {
                events.rowChanged(row);
            }
            events.step();
        }
        m_session.removeAhead(numbers);
        for (const RemovalRow &row : same) {
            if (m_session.remove(row.number))
                ++removed;
            else
                events.rowRefused(row);
            events.step();
        }
    }
    return removed;
}

void Pop3Mailbox::close() { m_session.quit(); }
