// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// Builds raw RFC 5322 messages (CRLF line ends) for tests, benchmarks and the demo mailbox.
namespace mailfactory {

struct Attachment {
    QString fileName;
    QByteArray content;
    QByteArray contentType = "application/octet-stream";
};

struct Mail {
    QByteArray from = "Alice Martin <alice@example.org>";
    QByteArray to = "bob@example.net";
    QString subject = QStringLiteral("Bonjour");
    QByteArray date = "Mon, 07 Dec 2026 10:15:00 +0100";
    QString text;                 // plain-text body (or part)
    QString html;                 // HTML body (or part)
    QList<Attachment> attachments;
    QByteArray extraHeaders;      // raw header lines, each ended by CRLF
};

// A single-part text/plain or text/html message, multipart/alternative when both text and
// html are given, wrapped in multipart/mixed when there are attachments. Non-ASCII subjects
// are encoded (RFC 2047, UTF-8), bodies are UTF-8 quoted-printable, attachments base64.
QByteArray build(const Mail &mail);

// n messages with realistic headers (trace, authentication and list headers, encoded
// subjects, several sender domains), small bodies.
QList<QByteArray> realisticMailbox(int n);

} // namespace mailfactory
