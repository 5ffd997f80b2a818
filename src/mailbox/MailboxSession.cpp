// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/MailboxSession.h"

#include "mailbox/ImapMailbox.h"
#include "mailbox/Pop3Mailbox.h"

QList<QString> MailboxSession::uniqueIdsByNumber()
{
    const QHash<int, QString> ids = uniqueIds();
    QList<QString> byNumber;
    for (auto it = ids.cbegin(); it != ids.cend(); ++it) {
        if (it.key() < 1)
            continue;
        if (it.key() >= byNumber.size())
            byNumber.resize(qsizetype(it.key()) + 1);
        byNumber[it.key()] = it.value();
    }
    return byNumber;
}

bool MailboxSession::watch(const NewMail &, const Lost &, int)
{
    return false;
}

std::unique_ptr<MailboxSession> makeMailboxSession(const MailAccount &account)
{
    if (account.protocol == MailAccount::Protocol::Imap)
        return std::make_unique<ImapMailbox>();
    return std::make_unique<Pop3Mailbox>();
}
