// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "protocol/imap/ImapSession.h"
#include "mailbox/MailboxSession.h"

#include <vector>

// IMAP as a mailbox session: the INBOX, EXAMINEd for reading so that nothing sets \Seen;
// messages named by UID, which name them for good under the UIDVALIDITY, so that a removal
// goes by UIDs alone and takes effect at once. The INBOX can be watched with IDLE.
class ImapMailbox final : public MailboxSession
{
public:
    void setCertificateDecision(CertificateDecision decide) override;
    void open(const MailAccount &account, Access access) override;
    bool encrypted() const override { return m_session.encrypted(); }
    int loginDelay() override { return 0; }
    int messageCount() override { return m_session.messageCount(); }
    // The passes are pipelined in chunks already; nothing to gain from sending them earlier.
    void headersAhead(int, int) override {}
    void attachmentsAhead() override { m_withStructures = true; }
    void headers(int first, int last, const Each &each) override;
    MessageIds uniqueIdsByNumber() override { return m_ids; }
    QString idScope() const override { return QString::number(m_session.uidValidity()); }
    Removal removalKind(Lookup lookup) override;
    void attachments(int first, int last, const EachAttachments &each,
                     const std::function<void(int n)> &afterPart) override;
    QByteArray message(int n, const QString &id) override;
    int remove(const QList<RemovalRow> &rows, const QString &idScope, const Removal &how,
               const RemovalEvents &events) override;
    bool removesAtOnce() const override { return true; }
    bool canWatch() const override { return true; }
    bool watch(const NewMail &onNewMail, const Lost &onLost, int renewalMs) override;
    bool watching() const override { return m_session.idling(); }
    void leave() override { m_session.leave(); }
    void close() override { m_session.logout(); }

private:
    ImapSession m_session;
    MessageIds m_ids; // by message number, as the rows take them
    bool m_withStructures = false;
    // Read with the headers, by message number; read[n] once attachments[n] is.
    std::vector<AttachmentInfo> m_attachments;
    std::vector<bool> m_read;
};
