// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "core/Error.h"
#include <memory>

#include "mailbox/MailboxSession.h"
#include "mailbox/SessionOpening.h"

class TForm1;

// The account of a mailbox session, from the main window's fields: server Edit3, port Edit4
// (110 when not a number), user Edit15, password Edit16, implicit TLS when CheckBox2 is ticked.
MailAccount accountFromWindow(const TForm1 &form);

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

// Opens session with the window's account and data folder, as openSession of SessionOpening.h
// does: a certificate to confirm is asked of the user, unless the operation runs unattended.
// Returns what could not be recorded (a yes to a certificate, a server's encryption), for the
// status line; empty when all was. The user, when there, was told in a box already.
QString openSession(MailboxSession &session, const TForm1 &form, MailboxSession::Access access);

// A session of the protocol of the window's account, not opened yet.
std::unique_ptr<MailboxSession> windowSession(const TForm1 &form);

// The list was read from another account than the one the fields name now (another server,
// port, user or protocol): an operation on its rows would act on the wrong mailbox, whose
// numbers and ids may well match. Says so in a box; true when the operation must not run.
bool refusedForAnotherAccount(const TForm1 &form);

// A user action that would start a server operation while one runs is refused with a beep.
// True when refused.
bool refusedWhileBusy();
