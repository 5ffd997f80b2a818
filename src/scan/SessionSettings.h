// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "core/Error.h"

#include "mailbox/MailboxSession.h"
#include "mailbox/SessionOpening.h"

class MessageList;

// While one lives, sessions opened here never ask about a certificate (CertificateToConfirm): the
// operation runs without the user (a timer tick or the tray).
class UnattendedScope
{
public:
    UnattendedScope();
    ~UnattendedScope();
    UnattendedScope(const UnattendedScope &) = delete;
    UnattendedScope &operator=(const UnattendedScope &) = delete;

private:
    bool m_was;
};

// True while an UnattendedScope lives.
bool runsUnattended();

// Opens session on account with the records of dataFolder, as openSession of SessionOpening.h
// does, the window's way: a certificate to confirm is asked of the user, unless the operation
// runs unattended. Returns what could not be recorded (a yes to a certificate, a server's
// encryption), for the status line; empty when all was. The user, when there, was told in a box
// already.
QString openSession(MailboxSession &session, const MailAccount &account, const QString &dataFolder,
                    MailboxSession::Access access);

// The list was read from another account than account, the one the fields name now (another
// server, port, user or protocol): an operation on its rows would act on the wrong mailbox,
// whose numbers and ids may well match. Says so in a box; true when the operation must not run.
bool refusedForAnotherAccount(const MessageList &list, const MailAccount &account);

// A user action that would start a server operation while one runs is refused with a beep.
// True when refused.
bool refusedWhileBusy();
