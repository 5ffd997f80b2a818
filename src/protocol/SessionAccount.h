// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "protocol/MailConnection.h"

// The account of a mailbox session from the connection fields as typed: the port read as the TLS
// rule reads it (110 when not a number), the receiving address as the user name; IMAP on ports
// 143 and 993 or for a server written "imap://host" or "imaps://host" (implicit TLS), POP3
// otherwise or for "pop3://host" and "pop3s://host" (implicit TLS); a scheme's own port (143,
// 993, 110, 995) when the port field holds no number.
MailAccount sessionAccount(const QString &server, const QString &portText, const QString &address,
                           const QString &password, bool tls);

// The mailbox an account names, whatever its password and TLS: protocol, server (in any letter
// case), port and user. Rows read from one mailbox must never be acted on in another.
QString sessionAccountKey(const MailAccount &account);
