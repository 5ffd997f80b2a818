// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "mailbox/Pop3Session.h"

// The account of a mailbox session from the connection fields as typed: the port read as the TLS
// rule reads it (110 when not a number), the receiving address as the user name; IMAP on ports
// 143 and 993 or for a server written "imap://host", POP3 otherwise.
Pop3Account sessionAccount(const QString &server, const QString &portText, const QString &address,
                           const QString &password, bool tls);
