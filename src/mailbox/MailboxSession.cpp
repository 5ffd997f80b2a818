// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/MailboxSession.h"

#include "mailbox/ImapMailbox.h"
#include "mailbox/Pop3Mailbox.h"

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
