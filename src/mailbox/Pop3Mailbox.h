// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <memory>

#include "mailbox/MailboxSession.h"
#include "protocol/pop3/Pop3Session.h"

// A POP3 session as a mailbox session, the caller's own or one made here. Its ids (UIDL) do not
// name messages for good: a removal checks each row against the server's header and id, then
// deletes by number, which takes effect at close() (QUIT) only.
class Pop3Mailbox final : public MailboxSession
{
public:
    Pop3Mailbox();
    explicit Pop3Mailbox(Pop3Session &session);

    void setCertificateDecision(CertificateDecision decide) override;
    void open(const MailAccount &account, Access access) override;
    bool encrypted() const override;
    int loginDelay() override;
    int messageCount() override;
    void headersAhead(int first, int last) override;
    void headers(int first, int last, const Each &each) override;
    MessageIds uniqueIdsByNumber() override;
    QString idScope() const override { return {}; }
    Removal removalKind(Lookup) override { return {}; }
    void attachments(int first, int last, const EachAttachments &each,
                     const std::function<void(int n)> &afterPart) override;
    QByteArray message(int n, const QString &id) override;
    int remove(const QList<RemovalRow> &rows, const QString &idScope, const Removal &how,
               const RemovalEvents &events) override;
    bool removesAtOnce() const override { return false; }
    void close() override;

private:
    bool stillTheSame(const RemovalRow &row, const QHash<int, QString> &ids);

    std::unique_ptr<Pop3Session> m_own;
    Pop3Session &m_session;
};
