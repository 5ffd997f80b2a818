// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// One leaf of a message, as the preview and the attachment saver see it.
//
// Classification (parts are the leaves of the MIME tree, depth first, in message order):
// - Text: a text/* leaf that carries no file name and is not "Content-Disposition: attachment";
//   a leaf whose Content-Type cannot be read is text/plain; charset=us-ascii.
//   Both halves of a multipart/alternative are Text parts, the plain one first as written.
// - Attachment: every other leaf: any non-text leaf (images of a multipart/related included,
//   named or not), a text leaf with a file name or an attachment disposition, and a
//   message/rfc822 part (a forwarded mail) taken whole, not descended into. A disposition or
//   type whose parameters lack their ';' ("attachment filename=\"x.txt\"") is read as if it
//   had one.
// Multipart containers themselves are never parts.
struct MailPart
{
    enum Kind { Text, Attachment };
    Kind kind = Text;
    QString contentType;   // type/subtype as written, without parameters
    QString text;          // Text: transfer-decoded, converted from its charset, LF line ends
    // Attachment: the file name (RFC 2231 and RFC 2047 decoded), reduced to a bare name: no
    // folder part, no control characters; "" when the part names none. A forwarded mail
    // without a name of its own is named after its subject + ".eml" ("message.eml" when
    // it has no subject), its control characters made "_".
    QString fileName;
    QByteArray content;    // Attachment: transfer-decoded bytes (a forwarded mail: its raw text)
    QString contentId;     // Content-ID without the angle brackets, "" when none

    bool isHtml() const;

    // For readers of a message's structure that classify its leaves as parse() does: the
    // fileName a plain name parameter gives, and the one a forwarded mail without a name gets
    // from its Subject as written (null: none).
    static QString bareName(const QString &name);
    static QString forwardedName(QByteArrayView subject);
};

// A mail parsed from what the POP3 server sent: a header block (TOP n 0; it may lack the
// closing blank line) or a whole message (RETR). CRLF or LF line ends. Every accessor gives
// an empty value (invalid date) for what the mail lacks or what cannot be made sense of.
// Of repeated From, Subject, Date and Content-Type fields the first counts.
// The sender, recipient and subject texts hold no control character: a C1 character is read
// as Windows-1252 where the code page defines it, a TAB becomes a blank, and every other
// control character (C0, DEL, C1) becomes U+FFFD, so that it shows where it stands.
class MailMessage
{
public:
    // Never throws; malformed or garbage input gives an empty message.
    static MailMessage parse(const QByteArray &raw);
    // What the message list shows of a header block, for a scan of many: sender, subject, date
    // and content type as parse() gives them (the sender's text when it has no address);
    // every other accessor is empty. A block of plain fields is read field by field, without
    // building the message (a few times cheaper).
    static MailMessage parseListFields(const QByteArray &raw);

    // Address part of the first mailbox of the first From (a group's first member counts);
    // when it names none, the last word of the field that holds an "@", as mail readers take
    // it; else empty.
    QString senderAddress() const { return m_senderAddress; }
    // That mailbox as display text: "Name <address>", or the address alone when unnamed.
    // When From names no mailbox ("Name <>", an empty group, words that do not parse): the
    // From value as decoded text.
    QString senderText() const { return m_senderText; }
    // What the list's sender cell shows: the address, or, when the From field holds none, what
    // it says (decoded), so that the user and the blacklist still see something.
    QString listedSender() const { return m_senderAddress.isEmpty() ? m_senderText : m_senderAddress; }
    // The bare addresses of To then Cc, in header order, joined by ", " (group members
    // included, names left out).
    QString recipients() const { return m_recipients; }
    // Encoded-words decoded (see mailtext::headerText), leading blanks dropped, trailing ones
    // kept; raw 8-bit text read as UTF-8 when valid, else in the charset the message's text
    // declares, else Windows-1252; text labelled ISO-8859-1 read as Windows-1252.
    QString subject() const { return m_subject; }
    // From the Date header, in local time; invalid when absent or unparsable.
    QDateTime date() const { return m_dated ? QDateTime::fromSecsSinceEpoch(m_dateSecs) : QDateTime(); }
    // The same instant in seconds since 1970-01-01 UTC, for lists of many (a QDateTime in local
    // time reads the time zone at each conversion); false when date() is invalid.
    bool dateSecs(qint64 &secs) const
    {
        secs = m_dateSecs;
        return m_dated;
    }
    // Top-level type/subtype with the parameters dropped, letter case as written;
    // empty when the mail has no Content-Type header.
    QString contentType() const { return m_contentType; }
    // Single-part mail: its text when it is a Text leaf, else "" (it is then parts()[0]).
    // Multipart mail: the preamble before the first boundary (often "" or a one-line
    // notice); the text parts themselves are in parts().
    QString body() const { return m_body; }
    // The HTML for the HTML view: a single-part text/html body, else the first text/html
    // Text part; "" when none.
    QString html() const { return m_html; }
    // Multipart mail: every leaf (see MailPart). Single-part mail: empty when its body is
    // text (it is body()), one Attachment otherwise.
    const QList<MailPart> &parts() const { return m_parts; }
    int attachmentCount() const;
    // Writes the decoded content of parts()[partIndex], which must be an Attachment, to
    // path, replacing any file there. False when the index is not an attachment or the
    // file cannot be written.
    bool saveAttachment(int partIndex, const QString &path) const;

private:
    static MailMessage parse(const QByteArray &raw, bool listFields);
    // From the first mailbox's address (null when the field names none), the From field as
    // written and the charset for its raw 8-bit text.
    void setSender(const char *address, QByteArrayView field, const QByteArray &charset);

    QString m_senderAddress;
    QString m_senderText;
    QString m_recipients;
    QString m_subject;
    qint64 m_dateSecs = 0;
    bool m_dated = false;
    QString m_contentType;
    QString m_body;
    QString m_html;
    QList<MailPart> m_parts;
};
