// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/MailFactory.h"

#include <QStringList>

namespace mailfactory {

namespace {

QByteArray encodeWord(const QString &text)
{
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 128;
    if (ascii)
        return text.toUtf8();
    return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}

QByteArray quotedPrintable(const QString &text)
{
    QByteArray out;
    int lineLength = 0;
    const QByteArray utf8 = text.toUtf8();
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c == '\n') {
            out += "\r\n";
            lineLength = 0;
            continue;
        }
        if (c == '\r')
            continue;
        QByteArray piece;
        if ((c >= 33 && c <= 126 && c != '=') || c == ' ')
            piece = QByteArray(1, char(c));
        else
            piece = "=" + QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
        if (lineLength + piece.size() > 75) {
            out += "=\r\n";
            lineLength = 0;
        }
        out += piece;
        lineLength += int(piece.size());
    }
    return out + "\r\n";
}

QByteArray textPart(const QByteArray &subtype, const QString &body)
{
    return "Content-Type: text/" + subtype + "; charset=utf-8\r\n"
           "Content-Transfer-Encoding: quoted-printable\r\n\r\n" + quotedPrintable(body);
}

QByteArray base64Lines(const QByteArray &data)
{
    const QByteArray b64 = data.toBase64();
    QByteArray out;
    for (qsizetype i = 0; i < b64.size(); i += 76)
        out += b64.mid(i, 76) + "\r\n";
    return out;
}

QByteArray multipart(const QByteArray &subtype, const QByteArray &boundary, const QList<QByteArray> &parts)
{
    QByteArray out = "Content-Type: multipart/" + subtype + "; boundary=\"" + boundary + "\"\r\n\r\n"
                     "This is a multi-part message in MIME format.\r\n";
    for (const QByteArray &p : parts)
        out += "--" + boundary + "\r\n" + p;
    return out + "--" + boundary + "--\r\n";
}

} // namespace

QByteArray build(const Mail &mail)
{
    QByteArray head = mail.extraHeaders;
    head += "From: " + mail.from + "\r\n";
    head += "To: " + mail.to + "\r\n";
    head += "Subject: " + encodeWord(mail.subject) + "\r\n";
    if (!mail.date.isEmpty())
        head += "Date: " + mail.date + "\r\n";
    head += "MIME-Version: 1.0\r\n";

    QByteArray body;
    if (!mail.text.isEmpty() && !mail.html.isEmpty())
        body = multipart("alternative", "alt-7c1f", {textPart("plain", mail.text), textPart("html", mail.html)});
    else if (!mail.html.isEmpty())
        body = textPart("html", mail.html);
    else
        body = textPart("plain", mail.text);

    if (!mail.attachments.isEmpty()) {
        QList<QByteArray> parts{body};
        for (const Attachment &a : mail.attachments)
            parts << "Content-Type: " + a.contentType + "; name=\"" + encodeWord(a.fileName) + "\"\r\n"
                     "Content-Disposition: attachment; filename=\"" + encodeWord(a.fileName) + "\"\r\n"
                     "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(a.content);
        body = multipart("mixed", "mix-3a9e", parts);
    }
    return head + body;
}

QList<QByteArray> realisticMailbox(int n)
{
    static const QStringList senders = {
        QStringLiteral("Service Client <service-client@banque-exemple.fr>"),
        QStringLiteral("La Lettre du Jardin <newsletter@jardin-exemple.fr>"),
        QStringLiteral("Promo Flash <offres@promo-flash.example>"),
        QStringLiteral("Marie Dupont <marie.dupont@example.org>"),
        QStringLiteral("noreply@notifications.example.com"),
        QStringLiteral("Gagnant <winner@lottery-prize.example>"),
    };
    static const QStringList subjects = {
        QStringLiteral("Votre relevé de compte est disponible"),
        QStringLiteral("Les semis de décembre : nos conseils"),
        QStringLiteral("-70 % sur tout le site, aujourd'hui seulement !"),
        QStringLiteral("Re: déjeuner jeudi ?"),
        QStringLiteral("Nouvelle connexion à votre compte"),
        QStringLiteral("Félicitations, vous avez gagné"),
    };
    QList<QByteArray> out;
    out.reserve(n);
    for (int i = 0; i < n; ++i) {
        Mail m;
        const int k = i % senders.size();
        m.from = senders[k].toUtf8();
        m.subject = subjects[k] + QStringLiteral(" #%1").arg(i + 1);
        m.date = QByteArray("Mon, 07 Dec 2026 ") + QByteArray::number(10 + i / 3600 % 10) + ":" +
                 QByteArray::number(i / 60 % 60).rightJustified(2, '0') + ":" +
                 QByteArray::number(i % 60).rightJustified(2, '0') + " +0100";
        const QByteArray id = QByteArray::number(0x5f3a0000 + i, 16);
        m.extraHeaders =
            "Return-Path: <bounce-" + id + "@mx.example>\r\n"
            "Received: from mx" + QByteArray::number(i % 7) + ".example (mx.example [192.0.2." +
            QByteArray::number(i % 250) + "])\r\n\tby mail.example.net (Postfix) with ESMTPS id " + id +
            "\r\n\tfor <bob@example.net>; Mon, 07 Dec 2026 10:15:00 +0100 (CET)\r\n"
            "Received: from localhost (localhost [127.0.0.1])\r\n\tby mx.example (Postfix) with ESMTP id A" + id +
            "\r\n\tfor <bob@example.net>; Mon, 07 Dec 2026 10:14:58 +0100 (CET)\r\n"
            "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example; s=mail;\r\n\th=from:to:subject:date:message-id;"
            " bh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;\r\n\tb=dGhpcyBpcyBub3QgYSByZWFsIHNpZ25hdHVyZSBqdXN0IGZpbGxlciBieXRlcw==\r\n"
            "Message-ID: <" + id + "@mail.example>\r\n"
            "List-Unsubscribe: <mailto:unsubscribe-" + id + "@example>\r\n"
            "X-Mailer: Mailer 4.2\r\n";
        m.text = QStringLiteral("Bonjour,\n\nCeci est le message numéro %1.\n\nCordialement.\n").arg(i + 1);
        if (i % 3 == 1)
            m.html = QStringLiteral("<html><body><p>Bonjour,</p><p>Message numéro %1.</p></body></html>").arg(i + 1);
        out << build(m);
    }
    return out;
}

} // namespace mailfactory
