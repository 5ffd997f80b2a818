// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include "message/MailMessage.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

#include <ctime>

namespace {

// Test mails are written with LF and sent as a POP3 server gives them: CRLF.
QByteArray crlf(QByteArray text)
{
    text.replace("\n", "\r\n");
    return text;
}

template<size_t N>
QByteArray bytes(const char (&literal)[N])
{
    return QByteArray(literal, qsizetype(N - 1));
}

MailMessage parseLf(const QByteArray &text)
{
    return MailMessage::parse(crlf(text));
}

MailMessage withHeader(const QByteArray &header)
{
    return parseLf("Message-ID: <1@test>\n" + header + "\n\n");
}

QStringList kinds(const MailMessage &mail)
{
    QStringList out;
    for (const MailPart &part : mail.parts())
        out << (part.kind == MailPart::Text ? QStringLiteral("T:") + part.contentType
                                            : QStringLiteral("A:") + part.contentType + QLatin1Char(':') + part.fileName);
    return out;
}

const QByteArray mixedWithTwoAttachments = R"(From: Jean Dupont <jean@example.fr>
To: moi@example.fr
Subject: Documents
Date: Tue, 15 Oct 2024 14:30:00 +0200
MIME-Version: 1.0
Content-Type: multipart/mixed; boundary="sep1"

This is a multi-part message in MIME format.

--sep1
Content-Type: text/plain; charset=iso-8859-1
Content-Transfer-Encoding: quoted-printable

Voici les pi=E8ces.
Bonne journ=E9e
--sep1
Content-Type: application/pdf
Content-Disposition: attachment;
 filename*0*=UTF-8''R%C3%A9sum%C3%A9;
 filename*1="_2024.pdf"
Content-Transfer-Encoding: base64

JVBERi0xLjQKJcOkw7zDtsOfCg==
--sep1
Content-Type: application/msword; name="=?UTF-8?B?UsOpcG9uc2UuZG9j?="
Content-Disposition: attachment
Content-Transfer-Encoding: base64

AAEC/w==
--sep1--
)";

} // namespace

class MailMessageTest : public QObject
{
    Q_OBJECT

    // The scan's reading of a header block shows in the list what the whole parse gives.
    static void verifyListFields(const QByteArray &raw)
    {
        const MailMessage all = MailMessage::parse(raw);
        const MailMessage listed = MailMessage::parseListFields(raw);
        QCOMPARE(listed.senderAddress(), all.senderAddress());
        QCOMPARE(listed.listedSender(), all.listedSender());
        QCOMPARE(listed.subject(), all.subject());
        QCOMPARE(listed.date(), all.date());
        QCOMPARE(listed.contentType(), all.contentType());
    }
    static void verifyListFieldsOfHeader(const QByteArray &header)
    {
        verifyListFields(crlf("Message-ID: <1@test>\n" + header + "\n\n"));
    }
private slots:
    void initTestCase()
    {
        // A zone with an offset, so that "local time" is visible in the results.
        qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        tzset();
    }

    void subjects_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("subject");
        QTest::newRow("utf-8 B") << QByteArray("Subject: =?UTF-8?B?Q2Fmw6kgY3LDqG1l?=") << QStringLiteral("Café crème");
        QTest::newRow("latin-1 Q") << QByteArray("Subject: =?ISO-8859-1?Q?Caf=E9_cr=E8me?=") << QStringLiteral("Café crème");
        QTest::newRow("lower-case encoding") << QByteArray("Subject: =?utf-8?q?=C3=A9t=C3=A9?=") << QStringLiteral("été");
        QTest::newRow("word among text") << QByteArray("Subject: Re: =?utf-8?Q?Bonjour_=C3=A0_tous?= !")
                                         << QStringLiteral("Re: Bonjour à tous !");
        QTest::newRow("character split over two words")
            << QByteArray("Subject: =?UTF-8?Q?Caf=C3?= =?UTF-8?Q?=A9_noir?=") << QStringLiteral("Café noir");
        QTest::newRow("folded header") << QByteArray("Subject: =?UTF-8?B?QWxs?=\n =?UTF-8?B?w7QgIQ==?=")
                                       << QStringLiteral("Allô !");
        QTest::newRow("unknown charset") << QByteArray("Subject: =?x-nonsense?Q?caf=E9?=") << QStringLiteral("café");
        QTest::newRow("no space before word") << QByteArray("Subject: Prix:=?utf-8?Q?_10_=E2=82=AC?=")
                                              << QStringLiteral("Prix: 10 €");
        QTest::newRow("raw utf-8") << QByteArray("Subject: R\xC3\xA9union d'\xC3\xA9t\xC3\xA9")
                                   << QStringLiteral("Réunion d'été");
        QTest::newRow("raw latin-1") << QByteArray("Subject: R\xE9union \x80 5") << QStringLiteral("Réunion € 5");
        QTest::newRow("windows-1252 labelled latin-1") << QByteArray("Subject: =?iso-8859-1?Q?5_=80_=96_promo?=")
                                                       << QStringLiteral("5 € – promo");
        QTest::newRow("empty") << QByteArray("Subject:") << QString();
        QTest::newRow("absent") << QByteArray("X-Other: 1") << QString();
        // Control characters show where they stand; a fold's TAB is a blank.
        QTest::newRow("control characters") << QByteArray("Subject: a\x1b" "b\x7f" "c =?UTF-8?Q?=01d=C2=9De=0D?=\n\tf")
                                            << QStringLiteral("a\uFFFDb\uFFFDc \uFFFDd\uFFFDe\uFFFD f");
        QTest::newRow("NUL") << bytes("Subject: a\0b") << QStringLiteral("a\uFFFDb");
        // Raw 8-bit text that is not UTF-8 is read in the charset the message's text declares.
        QTest::newRow("raw gb2312, the text's charset")
            << QByteArray("Subject: \xC8\xAB\xD0\xC2\xD4\xAD\xD7\xB0\nContent-Type: text/plain; charset=gb2312")
            << QStringLiteral("\u5168\u65b0\u539f\u88c5");
        QTest::newRow("raw big5, the text part's charset")
            << QByteArray("Subject: \xA4\xA4\xA4\xE5\nContent-Type: multipart/alternative; boundary=b\n\n"
                          "--b\nContent-Type: text/plain; charset=big5\n\nx\n--b--")
            << QStringLiteral("\u4e2d\u6587");
        QTest::newRow("raw utf-8 whatever the text's charset")
            << QByteArray("Subject: caf\xC3\xA9\nContent-Type: text/plain; charset=gb2312") << QStringLiteral("caf\u00e9");
        QTest::newRow("two Subject fields") << QByteArray("Subject: vrai\nX: 1\nSubject: inject\u00e9") << QStringLiteral("vrai");
        // Each word decoded on its own, padding and all; a character split between two words
        // of one charset comes out whole.
        QTest::newRow("padded base64 words") << QByteArray("Subject: =?UTF-8?B?YQ==?= =?UTF-8?B?Yg==?= =?UTF-8?B?Yw==?=")
                                             << QStringLiteral("abc");
        QTest::newRow("character split over padded words") << QByteArray("Subject: =?UTF-8?B?5Lit5g==?=\n =?UTF-8?B?lofkuLvpopg=?=")
                                                           << QStringLiteral("\u4e2d\u6587\u4e3b\u9898");
        QTest::newRow("gb2312 split over words") << QByteArray("Subject: =?gb2312?B?1g==?= =?GB2312?B?0M7E?=") << QStringLiteral("\u4e2d\u6587");
        QTest::newRow("charsets side by side") << QByteArray("Subject: =?UTF-8?B?w6k=?= =?iso-8859-1?Q?=E8?= =?utf-8?q?_!?=")
                                               << QStringLiteral("\u00e9\u00e8 !");
        QTest::newRow("trailing blanks") << QByteArray("Subject:  Promo =?UTF-8?Q?=C3=A9t=C3=A9?=  ") << QStringLiteral("Promo \u00e9t\u00e9  ");
    }
    void subjects()
    {
        QFETCH(QByteArray, header);
        QFETCH(QString, subject);
        QCOMPARE(withHeader(header).subject(), subject);
        verifyListFieldsOfHeader(header);
    }

    void senders_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("text");
        QTest::newRow("name and address") << QByteArray("From: Jean Dupont <jean@example.fr>")
                                          << QStringLiteral("jean@example.fr") << QStringLiteral("Jean Dupont <jean@example.fr>");
        QTest::newRow("bare address") << QByteArray("From: jean@example.fr") << QStringLiteral("jean@example.fr")
                                      << QStringLiteral("jean@example.fr");
        QTest::newRow("angle address only") << QByteArray("From: <jean@example.fr>") << QStringLiteral("jean@example.fr")
                                            << QStringLiteral("jean@example.fr");
        QTest::newRow("encoded name") << QByteArray("From: =?UTF-8?Q?Ren=C3=A9e?= <renee@example.fr>")
                                      << QStringLiteral("renee@example.fr") << QStringLiteral("Renée <renee@example.fr>");
        QTest::newRow("quoted name with comma") << QByteArray("From: \"Dupont, Jean\" <j@example.fr>")
                                                << QStringLiteral("j@example.fr") << QStringLiteral("\"Dupont, Jean\" <j@example.fr>");
        QTest::newRow("old comment form") << QByteArray("From: jean@example.fr (Jean)") << QStringLiteral("jean@example.fr")
                                          << QStringLiteral("Jean <jean@example.fr>");
        QTest::newRow("several mailboxes") << QByteArray("From: a@example.fr, B <b@example.fr>")
                                           << QStringLiteral("a@example.fr") << QStringLiteral("a@example.fr");
        QTest::newRow("two From headers") << QByteArray("From: first@example.fr\nFrom: second@example.fr")
                                          << QStringLiteral("first@example.fr") << QStringLiteral("first@example.fr");
        QTest::newRow("empty group, then a mailbox") << QByteArray("From: Liste:;\nFrom: g@example.fr") << QString()
                                                     << QStringLiteral("Liste:;");
        QTest::newRow("group") << QByteArray("From: Equipe: a@example.fr, b@example.fr;") << QStringLiteral("a@example.fr")
                               << QStringLiteral("a@example.fr");
        QTest::newRow("local address") << QByteArray("From: MAILER-DAEMON") << QStringLiteral("MAILER-DAEMON")
                                       << QStringLiteral("MAILER-DAEMON");
        // No address to match a blacklist pattern; the display text shows what the header says.
        QTest::newRow("name without address") << QByteArray("From: =?UTF-8?Q?Ren=C3=A9e?= Dupont <>") << QString()
                                              << QStringLiteral("Renée Dupont <>");
        QTest::newRow("empty group") << QByteArray("From: undisclosed-recipients:;") << QString()
                                     << QStringLiteral("undisclosed-recipients:;");
        QTest::newRow("windows-1252 labelled latin-1") << QByteArray("From: =?iso-8859-1?Q?=80uro_Club?= <e@example.fr>")
                                                       << QStringLiteral("e@example.fr") << QStringLiteral("€uro Club <e@example.fr>");
        QTest::newRow("empty") << QByteArray("From:") << QString() << QString();
        QTest::newRow("absent") << QByteArray("Subject: x") << QString() << QString();
        QTest::newRow("control characters") << QByteArray("From: =?UTF-8?Q?N=1Bom=C2=8D?= <\"a\x1b" "b\"@example.fr>")
                                            << QStringLiteral("\"a\uFFFDb\"@example.fr")
                                            << QStringLiteral("N\uFFFDom\uFFFD <\"a\uFFFDb\"@example.fr>");
        QTest::newRow("controls without address") << QByteArray("From: =?UTF-8?Q?N=7Fom?= <>") << QString()
                                                  << QStringLiteral("N\uFFFDom <>");
        QTest::newRow("name in padded words") << QByteArray("From: =?UTF-8?B?SmVhbg==?= =?UTF-8?B?bmU=?= <j@example.fr>")
                                              << QStringLiteral("j@example.fr") << QStringLiteral("Jeanne <j@example.fr>");
        // No mailbox parsed: the last word holding an "@" is the address, as mail readers take it.
        QTest::newRow("address without brackets") << QByteArray("From: Jeanne Martin jeanne.martin@fai.example")
                                                  << QStringLiteral("jeanne.martin@fai.example")
                                                  << QStringLiteral("Jeanne Martin jeanne.martin@fai.example");
        QTest::newRow("NUL in an unquoted name") << bytes("From: Sp\0am <spam@evil.example>") << QStringLiteral("spam@evil.example")
                                                 << QStringLiteral("Sp\uFFFDam <spam@evil.example>");
        QTest::newRow("raw gb2312 name") << QByteArray("From: \xC0\xEE\xC3\xF7 <li@example.cn>\nContent-Type: text/plain; charset=gb2312")
                                         << QStringLiteral("li@example.cn") << QStringLiteral("\u674e\u660e <li@example.cn>");
        QTest::newRow("NUL in the name") << bytes("From: \"Sp\0am\" <spam@evil.example>") << QStringLiteral("spam@evil.example")
                                         << QStringLiteral("Sp\uFFFDam <spam@evil.example>");
        // An internationalised domain reads as written in both, never as its punycode.
        QTest::newRow("internationalised domain") << QByteArray("From: Jean <jean@\xC3\xA9t\xC3\xA9.example>")
                                                  << QStringLiteral("jean@été.example") << QStringLiteral("Jean <jean@été.example>");
    }
    void senders()
    {
        QFETCH(QByteArray, header);
        QFETCH(QString, address);
        QFETCH(QString, text);
        const MailMessage mail = withHeader(header);
        QCOMPARE(mail.senderAddress(), address);
        QCOMPARE(mail.senderText(), text);
        verifyListFieldsOfHeader(header);
    }

    void recipients_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("recipients");
        QTest::newRow("to and cc") << QByteArray("To: A <a@example.fr>, b@example.fr\nCc: \"C\" <c@example.fr>")
                                   << QStringLiteral("a@example.fr, b@example.fr, c@example.fr");
        QTest::newRow("two To headers") << QByteArray("To: a@example.fr\nTo: b@example.fr")
                                        << QStringLiteral("a@example.fr, b@example.fr");
        QTest::newRow("group members") << QByteArray("To: Liste: a@example.fr, b@example.fr;")
                                       << QStringLiteral("a@example.fr, b@example.fr");
        QTest::newRow("undisclosed") << QByteArray("To: undisclosed-recipients:;") << QString();
        QTest::newRow("cc only") << QByteArray("Cc: c@example.fr") << QStringLiteral("c@example.fr");
        QTest::newRow("none") << QByteArray("Subject: x") << QString();
    }
    void recipients()
    {
        QFETCH(QByteArray, header);
        QFETCH(QString, recipients);
        QCOMPARE(withHeader(header).recipients(), recipients);
    }

    void dates_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QDateTime>("utc");
        const auto utc = [](int y, int mo, int d, int h, int mi, int s) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
        };
        QTest::newRow("summer +0200") << QByteArray("Date: Tue, 15 Oct 2024 14:30:05 +0200") << utc(2024, 10, 15, 12, 30, 5);
        QTest::newRow("winter -0500") << QByteArray("Date: 3 Jan 2024 23:10:00 -0500") << utc(2024, 1, 4, 4, 10, 0);
        QTest::newRow("named zone") << QByteArray("Date: Wed, 03 Jan 2024 12:00:00 GMT") << utc(2024, 1, 3, 12, 0, 0);
        QTest::newRow("comment after zone") << QByteArray("Date: Wed, 3 Jan 2024 12:00:00 +0000 (UTC)")
                                            << utc(2024, 1, 3, 12, 0, 0);
        QTest::newRow("two Date fields") << QByteArray("Date: Wed, 03 Jan 2024 12:00:00 GMT\nDate: Thu, 04 Jan 2024 12:00:00 GMT")
                                         << utc(2024, 1, 3, 12, 0, 0);
        QTest::newRow("absent") << QByteArray("Subject: x") << QDateTime();
        QTest::newRow("empty") << QByteArray("Date:") << QDateTime();
        QTest::newRow("garbage") << QByteArray("Date: bientôt, peut-être") << QDateTime();
    }
    void dates()
    {
        QFETCH(QByteArray, header);
        QFETCH(QDateTime, utc);
        const QDateTime date = withHeader(header).date();
        verifyListFieldsOfHeader(header);
        QCOMPARE(date.isValid(), utc.isValid());
        if (!utc.isValid())
            return;
        QCOMPARE(date.timeSpec(), Qt::LocalTime);
        QCOMPARE(date.toUTC(), utc);
    }
    void dateIsShownInLocalTime()
    {
        const QDateTime date = withHeader("Date: Tue, 15 Oct 2024 12:30:00 +0000").date();
        QCOMPARE(date.time(), QTime(14, 30)); // Paris summer time
        QCOMPARE(date.date(), QDate(2024, 10, 15));
    }

    // The scan tells "multipart/mixed" from "Multipart/Mixed": the case must survive.
    void contentTypes_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("type");
        QTest::newRow("mixed") << QByteArray("Content-Type: multipart/mixed; boundary=\"x\"") << QStringLiteral("multipart/mixed");
        QTest::newRow("case kept") << QByteArray("Content-Type: Multipart/Mixed; boundary=x") << QStringLiteral("Multipart/Mixed");
        QTest::newRow("upper html") << QByteArray("Content-Type: TEXT/HTML") << QStringLiteral("TEXT/HTML");
        QTest::newRow("folded params") << QByteArray("Content-Type: multipart/alternative;\n\tboundary=\"b\"")
                                       << QStringLiteral("multipart/alternative");
        QTest::newRow("spaces and comment") << QByteArray("Content-Type:  text/html (page) ; charset=utf-8")
                                            << QStringLiteral("text/html");
        QTest::newRow("absent") << QByteArray("Subject: x") << QString();
    }
    void contentTypes()
    {
        QFETCH(QByteArray, header);
        QFETCH(QString, type);
        QCOMPARE(withHeader(header).contentType(), type);
        verifyListFieldsOfHeader(header);
    }

    // What TOP gives: headers only, with or without the blank line, even without a final
    // line break; LF-only servers too.
    void headerBlocks_data()
    {
        QTest::addColumn<QByteArray>("raw");
        const QByteArray headers = "From: a@example.fr\r\nSubject: Test\r\nContent-Type: multipart/mixed; boundary=z";
        QTest::newRow("blank line") << headers + "\r\n\r\n";
        QTest::newRow("no blank line") << headers + "\r\n";
        QTest::newRow("no final break") << headers;
        QByteArray lf = headers;
        QTest::newRow("LF only") << lf.replace("\r\n", "\n") + "\n\n";
    }
    void headerBlocks()
    {
        QFETCH(QByteArray, raw);
        const MailMessage mail = MailMessage::parse(raw);
        QCOMPARE(mail.senderAddress(), QStringLiteral("a@example.fr"));
        QCOMPARE(mail.subject(), QStringLiteral("Test"));
        QCOMPARE(mail.contentType(), QStringLiteral("multipart/mixed"));
        QCOMPARE(mail.attachmentCount(), 0);
        QVERIFY(mail.body().isEmpty());
        verifyListFields(raw);
    }

    // Blocks the scan's reading cannot take as plain fields, and fields it keeps among many
    // it skips: the list shows what the whole parse gives.
    void listFieldsOfOddBlocks_data()
    {
        QTest::addColumn<QByteArray>("raw");
        const QByteArray fields = "From: A <a@example.fr>\r\nSubject: =?UTF-8?Q?Caf=C3=A9?=\r\n"
                                  "Date: Tue, 15 Oct 2024 14:30:05 +0200\r\nContent-Type: text/html\r\n";
        QTest::newRow("among trace fields")
            << "Received: from mx (mx [192.0.2.1])\r\n\tby here; Tue, 15 Oct 2024 14:30:06 +0200\r\n" + fields
                   + "DKIM-Signature: v=1; a=rsa-sha256;\r\n b=abc\r\n\r\n";
        QTest::newRow("names in other cases") << QByteArray("FROM: b@example.fr\r\nsubject: x\r\ncontent-TYPE: Text/Html\r\n\r\n");
        QTest::newRow("folded fields") << QByteArray("Subject: un\r\n deux\r\nFrom: C\r\n <c@example.fr>\r\n\r\n");
        QTest::newRow("mbox From line") << "From someone@example.fr Tue Oct 15 14:30:05 2024\r\n" + fields;
        QTest::newRow("blank before the colon") << QByteArray("Subject : x\r\nFrom : d@example.fr\r\n\r\n");
        QTest::newRow("fold first") << " folded\r\n" + fields;
        QTest::newRow("line without colon") << "X-A: 1\r\ngarbage here\r\n" + fields;
        QTest::newRow("8-bit name") << "X-\xE9t\xE9: 1\r\n" + fields;
        QTest::newRow("body after the block") << fields + "\r\nFrom: body@example.fr\r\n";
        QTest::newRow("two From fields") << QByteArray("From: e@example.fr\r\nX: 1\r\nFrom: f@example.fr\r\n\r\n");
        QTest::newRow("none listed") << QByteArray("X-A: 1\r\nX-B: 2\r\n\r\n");
        // Repeated fields, read without building the message as the message parser reads them.
        QTest::newRow("empty group, then a mailbox") << QByteArray("From: Liste:;\r\nFrom: g@example.fr\r\n\r\n");
        QTest::newRow("two Subject fields") << QByteArray("Subject: premier\r\nSubject: =?UTF-8?Q?second_=C3=A9?=\r\n\r\n");
        QTest::newRow("a Date, then an unreadable one")
            << QByteArray("Date: Tue, 15 Oct 2024 14:30:05 +0200\r\nDate: hier\r\n\r\n");
        QTest::newRow("two Content-Type fields") << QByteArray("Content-Type: text/html\r\nContent-Type: multipart/mixed\r\n\r\n");
        QTest::newRow("raw 8-bit subject and name") << QByteArray("Subject: caf\xE9\r\nFrom: Andr\xE9 <h@example.fr>\r\n\r\n");
        QTest::newRow("From parsed in part") << QByteArray("From: \"J D\" <j@example.fr@x.example,(b@y:\x0c\n tt\r\n\r\n");
        QTest::newRow("NUL in a value") << QByteArray("Subject: a\0b\r\nFrom: i@exa\0mple.fr\r\n\r\n", 37);
        QTest::newRow("empty") << QByteArray();
    }
    void listFieldsOfOddBlocks()
    {
        QFETCH(QByteArray, raw);
        verifyListFields(raw);
    }

    void singlePartBodies_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("html");
        QTest::newRow("no content type") << QByteArray("Subject: x\n\nLigne 1\nLigne 2\n")
                                         << QStringLiteral("Ligne 1\nLigne 2\n") << false;
        QTest::newRow("latin-1 quoted-printable")
            << QByteArray("Content-Type: text/plain; charset=ISO-8859-1\nContent-Transfer-Encoding: quoted-printable\n\n"
                          "D=E9j=E0 =80 vu=\n ici\n")
            << QStringLiteral("Déjà € vu ici\n") << false;
        QTest::newRow("utf-8 base64") << QByteArray("Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n"
                                                    "w6l0w6kK\n")
                                      << QStringLiteral("été\n") << false;
        QTest::newRow("koi8-r through iconv")
            << QByteArray("Content-Type: text/plain; charset=koi8-r\n\n\xF0\xD2\xC9\xD7\xC5\xD4\n")
            << QStringLiteral("Привет\n") << false;
        QTest::newRow("unknown charset, latin-1 bytes")
            << QByteArray("Content-Type: text/plain; charset=x-martian\n\ncaf\xE9\n") << QStringLiteral("café\n") << false;
        QTest::newRow("utf-8 label, an invalid byte")
            << QByteArray("Content-Type: text/plain; charset=utf-8\n\ncaf\xE9 \xC3\xA0\n") << QStringLiteral("caf\uFFFD \u00e0\n") << false;
        QTest::newRow("bad byte in a known charset")
            << QByteArray("Content-Type: text/plain; charset=shift_jis\n\nab\x81\n") << QStringLiteral("ab\uFFFD\n") << false;
        QTest::newRow("control characters")
            << QByteArray("Content-Type: text/plain; charset=us-ascii\n\na\x81" "b\x8D" "c\x1B" "d\x7F" "e\tf\rg\x0C\n")
            << QStringLiteral("a\uFFFDb\uFFFDc\uFFFDd\uFFFDe\tf\rg\uFFFD\n") << false;
        QTest::newRow("html") << QByteArray("Content-Type: text/html; charset=utf-8\n\n<p>\xC3\xA9</p>\n")
                              << QStringLiteral("<p>é</p>\n") << true;
        // A Content-Type that cannot be read is text/plain; charset=us-ascii.
        QTest::newRow("unreadable content type") << QByteArray("Content-Type: text plain; charset=koi8-r\n\nBonjour \xC3\xA0 tous\n")
                                                 << QStringLiteral("Bonjour \u00e0 tous\n") << false;
        QTest::newRow("two Content-Type fields")
            << QByteArray("Content-Type: text/html\nContent-Type: multipart/mixed; boundary=x\n\n<p>a</p>\n--x--\n")
            << QStringLiteral("<p>a</p>\n--x--\n") << true;
        // Stray CRs and NULs at a line end never leave a CR LF behind (fuzz/corpus/mailmessage/cr-crlf).
        QTest::newRow("CR before the line end") << QByteArray("Subject: x\n\nLigne 1\r\nLigne 2\r\r\n")
                                                << QStringLiteral("Ligne 1\nLigne 2\n") << false;
        QTest::newRow("NUL between CR and LF") << QByteArrayLiteral("Subject: x\n\nA\r\0\nB\0\0\r\r\n\n")
                                               << QStringLiteral("A\nB\n\n") << false;
    }
    void singlePartBodies()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QString, body);
        QFETCH(bool, html);
        const MailMessage mail = parseLf(raw);
        QCOMPARE(mail.body(), body);
        QCOMPARE(mail.html(), html ? body : QString());
        QVERIFY(mail.parts().isEmpty());
    }

    void singlePartAttachment()
    {
        const MailMessage mail = parseLf("Content-Type: application/pdf; name=\"facture.pdf\"\n"
                                         "Content-Transfer-Encoding: base64\n\nJVBERg==\n");
        QVERIFY(mail.body().isEmpty());
        QCOMPARE(kinds(mail), QStringList{QStringLiteral("A:application/pdf:facture.pdf")});
        QCOMPARE(mail.parts()[0].content, QByteArray("%PDF"));
    }

    void mixedWithAttachments()
    {
        const MailMessage mail = parseLf(mixedWithTwoAttachments);
        QCOMPARE(mail.contentType(), QStringLiteral("multipart/mixed"));
        QCOMPARE(mail.body(), QStringLiteral("This is a multi-part message in MIME format."));
        QCOMPARE(kinds(mail), (QStringList{QStringLiteral("T:text/plain"),
                                           QStringLiteral("A:application/pdf:Résumé_2024.pdf"),
                                           QStringLiteral("A:application/msword:Réponse.doc")}));
        QCOMPARE(mail.parts()[0].text, QStringLiteral("Voici les pièces.\nBonne journée"));
        QCOMPARE(mail.attachmentCount(), 2);
        QVERIFY(mail.html().isEmpty());

        QTemporaryDir dir;
        const QString path = dir.filePath(mail.parts()[2].fileName);
        QVERIFY(mail.saveAttachment(2, path));
        QVERIFY(mail.saveAttachment(1, path)); // replaces the earlier file
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("%PDF-1.4\n%\xC3\xA4\xC3\xBC\xC3\xB6\xC3\x9F\n"));
        QVERIFY(!mail.saveAttachment(0, dir.filePath("text")));  // a text part
        QVERIFY(!mail.saveAttachment(3, dir.filePath("none")));  // out of range
        QVERIFY(!mail.saveAttachment(1, dir.filePath("missing/folder/x")));
        QVERIFY(!QFile::exists(dir.filePath("text")));
    }

    void alternative()
    {
        const MailMessage mail = parseLf(R"(Content-Type: multipart/alternative; boundary=alt

--alt
Content-Type: text/plain; charset=utf-8

Bonjour
--alt
Content-Type: text/html; charset=utf-8

<b>Bonjour</b>
--alt--
)");
        QCOMPARE(mail.contentType(), QStringLiteral("multipart/alternative"));
        QVERIFY(mail.body().isEmpty());
        QCOMPARE(kinds(mail), (QStringList{QStringLiteral("T:text/plain"), QStringLiteral("T:text/html")}));
        QCOMPARE(mail.html(), QStringLiteral("<b>Bonjour</b>"));
        QCOMPARE(mail.attachmentCount(), 0);
    }

    // The usual shape of a mail client's message: mixed[alternative[plain, related[html,
    // images]], files]. Every leaf is a part, in order; names come from either header.
    void nestedMultiparts()
    {
        const MailMessage mail = parseLf(R"(Content-Type: multipart/mixed; boundary=m

--m
Content-Type: multipart/alternative; boundary=a

--a
Content-Type: text/plain

texte
--a
Content-Type: multipart/related; boundary=r

--r
Content-Type: text/html

<img src="cid:logo@x"><img src="cid:photo@x">
--r
Content-Type: image/png
Content-ID: <logo@x>
Content-Transfer-Encoding: base64

iVBORw==
--r
Content-Type: image/jpeg; name=photo.jpg
Content-Disposition: inline
Content-ID: <photo@x>

jpeg
--r--
--a--
--m
Content-Type: application/octet-stream
Content-Disposition: attachment

data
--m
Content-Type: text/plain; name="notes.txt"

a text file
--m
Content-Type: text/csv
Content-Disposition: attachment

a,b
--m--
)");
        QCOMPARE(kinds(mail), (QStringList{
                                  QStringLiteral("T:text/plain"),
                                  QStringLiteral("T:text/html"),
                                  QStringLiteral("A:image/png:"),
                                  QStringLiteral("A:image/jpeg:photo.jpg"),
                                  QStringLiteral("A:application/octet-stream:"),
                                  QStringLiteral("A:text/plain:notes.txt"),
                                  QStringLiteral("A:text/csv:"),
                              }));
        QCOMPARE(mail.attachmentCount(), 5);
        QCOMPARE(mail.html(), QStringLiteral("<img src=\"cid:logo@x\"><img src=\"cid:photo@x\">"));
        QCOMPARE(mail.parts()[2].contentId, QStringLiteral("logo@x"));
        QCOMPARE(mail.parts()[2].content, QByteArray("\x89PNG"));
        QCOMPARE(mail.parts()[5].content, QByteArray("a text file"));
        QVERIFY(mail.parts()[5].text.isEmpty());
    }

    // A forwarded mail is one attachment, saved as the mail it is; its own parts are not
    // mixed into the forwarding mail's.
    void forwardedMessages_data()
    {
        QTest::addColumn<QByteArray>("partHeaders");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("named after subject") << QByteArray("Content-Type: message/rfc822") << QStringLiteral("Offre 50% _ ici.eml");
        QTest::newRow("own name") << QByteArray("Content-Type: message/rfc822\nContent-Disposition: attachment; filename=\"fwd.eml\"")
                                  << QStringLiteral("fwd.eml");
    }
    void forwardedMessages()
    {
        QFETCH(QByteArray, partHeaders);
        QFETCH(QString, fileName);
        const MailMessage mail = parseLf("Content-Type: multipart/mixed; boundary=f\n\n--f\nContent-Type: text/plain\n\n"
                                         "voir ci-joint\n--f\n" + partHeaders + "\n\n"
                                         "From: spam@example.com\nSubject: Offre 50% / ici\n"
                                         "Content-Type: multipart/mixed; boundary=in\n\n--in\nContent-Type: text/plain\n\n"
                                         "inner text\n--in\nContent-Type: image/gif; name=a.gif\n\nGIF\n--in--\n"
                                         "--f--\n");
        QCOMPARE(mail.parts().size(), 2);
        QCOMPARE(mail.attachmentCount(), 1);
        const MailPart &forwarded = mail.parts()[1];
        QCOMPARE(forwarded.kind, MailPart::Attachment);
        QCOMPARE(forwarded.fileName, fileName);
        const MailMessage inner = MailMessage::parse(forwarded.content);
        QCOMPARE(inner.senderAddress(), QStringLiteral("spam@example.com"));
        QCOMPARE(inner.parts().size(), 2);
        QCOMPARE(inner.parts()[0].text, QStringLiteral("inner text"));
        QVERIFY(!forwarded.content.contains("\n\n")); // saved with CRLF throughout
    }

    // The name made from a forwarded mail's subject shows its control characters as "_".
    void forwardedNameWithoutControlCharacters()
    {
        const MailMessage mail = parseLf("Content-Type: multipart/mixed; boundary=f\n\n--f\n"
                                         "Content-Type: message/rfc822\n\n"
                                         "Subject: \x7f" "a\x1b" "b =?UTF-8?Q?=C2=81=C2=85?=\n\nx\n--f--\n");
        QCOMPARE(kinds(mail), QStringList{QStringLiteral("A:message/rfc822:_a_b _\u2026.eml")});
    }

    // Names in the encodings mailers use; and since they come from the sender, they must
    // not lead a saver out of its folder.
    void fileNames_data()
    {
        QTest::addColumn<QByteArray>("disposition");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("rfc 2231 latin-1") << QByteArray("attachment; filename*=iso-8859-1''r%E9sum%E9.pdf")
                                          << QStringLiteral("résumé.pdf");
        QTest::newRow("raw utf-8") << QByteArray("attachment; filename=\"r\xC3\xA9sum\xC3\xA9.pdf\"")
                                   << QStringLiteral("résumé.pdf");
        QTest::newRow("raw latin-1") << QByteArray("attachment; filename=\"r\xE9sum\xE9.pdf\"") << QStringLiteral("résumé.pdf");
        QTest::newRow("unquoted with spaces") << QByteArray("attachment; filename=mon fichier.txt")
                                              << QStringLiteral("mon fichier.txt");
        QTest::newRow("parent folders") << QByteArray("attachment; filename=\"../../.bashrc\"") << QStringLiteral(".bashrc");
        QTest::newRow("absolute") << QByteArray("attachment; filename=\"/etc/passwd\"") << QStringLiteral("passwd");
        QTest::newRow("windows path") << QByteArray("attachment; filename=\"C:\\\\Users\\\\x\\\\doc.pdf\"") << QStringLiteral("doc.pdf");
        QTest::newRow("encoded slash") << QByteArray("attachment; filename=\"=?UTF-8?Q?=2E=2E=2Fx=2Etxt?=\"") << QStringLiteral("x.txt");
        QTest::newRow("control characters") << QByteArray("attachment; filename=\"=?UTF-8?Q?a=0Ab=09c=2Etxt?=\"") << QStringLiteral("abc.txt");
        QTest::newRow("padded words") << QByteArray("attachment; filename=\"=?UTF-8?B?5Lit5g==?= =?UTF-8?B?lofkuLvpopg=?=.pdf\"")
                                      << QStringLiteral("\u4e2d\u6587\u4e3b\u9898.pdf");
        QTest::newRow("C1 control") << QByteArray("attachment; filename=\"a\x9D" "b.txt\"") << QStringLiteral("ab.txt");
        QTest::newRow("dot dot") << QByteArray("attachment; filename=\"..\"") << QString();
        QTest::newRow("no semicolon") << QByteArray("attachment filename=\"x.txt\"") << QStringLiteral("x.txt");
    }
    void fileNames()
    {
        QFETCH(QByteArray, disposition);
        QFETCH(QString, fileName);
        const MailMessage mail = parseLf("Content-Type: multipart/mixed; boundary=h\n\n--h\n"
                                         "Content-Type: application/octet-stream\nContent-Disposition: "
                                         + disposition + "\n\nx\n--h--\n");
        QCOMPARE(kinds(mail), QStringList{QStringLiteral("A:application/octet-stream:") + fileName});
    }

    void malformed_data()
    {
        QTest::addColumn<QByteArray>("raw");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("blank lines") << QByteArray("\r\n\r\n\r\n");
        QTest::newRow("binary") << bytes("\x00\x01\xFF\xFE garbage \x00\x00");
        QTest::newRow("NULs") << bytes("From: a\0b@example.fr\r\nSubject: x\0y\r\n\r\nbody\0\r\n");
        QTest::newRow("NULs in parts") << bytes("Content-Type: multipart/mixed; boundary=n\r\n\r\n--n\r\n"
                                                "Content-Type: text/html; name=\"a\0b\"\r\n\r\n\0\r\n--n\0--\r\n"
                                                "Content-Type: text/plain\r\n\r\nx\0y\r\n--n--\r\n");
        QTest::newRow("no colon") << QByteArray("this is not a header\r\nnor this\r\n\r\nbody\r\n");
        QTest::newRow("missing boundary") << crlf("Content-Type: multipart/mixed\n\n--x\nContent-Type: text/plain\n\nhi\n--x--\n");
        QTest::newRow("unclosed multipart") << crlf("Content-Type: multipart/mixed; boundary=u\n\n--u\nContent-Type: text/plain\n\nhi");
        QTest::newRow("truncated base64") << crlf("Content-Type: multipart/mixed; boundary=t\n\n--t\n"
                                                  "Content-Type: image/png; name=a.png\nContent-Transfer-Encoding: base64\n\niVBORw0KG");
        QTest::newRow("bad encoding name") << crlf("Content-Type: text/plain\nContent-Transfer-Encoding: x-rot13\n\nabc\n");
        QTest::newRow("empty content type") << crlf("Content-Type:\nContent-Disposition: ;;;\n\nabc\n");
        QTest::newRow("broken encoded words") << crlf("Subject: =?utf-8?B?!!!?= =?utf-8?Q?=ZZ?= =?=?=\nFrom: =?x?B?@@?= <>\n\n");
        QTest::newRow("garbage dates") << crlf("Date: Mon, 99 Foo 99999 99:99:99 +9999\n\n");
        QByteArray deep;
        for (int i = 0; i < 200; ++i)
            deep += "Content-Type: multipart/mixed; boundary=b" + QByteArray::number(i) + "\r\n\r\n--b" + QByteArray::number(i) + "\r\n";
        QTest::newRow("deep nesting") << deep;
    }
    void malformed()
    {
        QFETCH(QByteArray, raw);
        const MailMessage mail = MailMessage::parse(raw);
        QVERIFY(!mail.date().isValid());
        QStringList texts{mail.senderAddress(), mail.senderText(), mail.subject(), mail.recipients(), mail.body(), mail.html()};
        for (const MailPart &part : mail.parts()) {
            texts << part.text << part.fileName;
            QVERIFY(part.kind == MailPart::Text || part.text.isEmpty());
        }
        for (const QString &text : texts)
            QVERIFY(!text.contains(QChar(0)));
    }

    // Spam arrives cut and scrambled: no damaged version of a real mail may crash the parser.
    void damagedMailNeverCrashes()
    {
        const QByteArray good = crlf(mixedWithTwoAttachments);
        QRandomGenerator random(12345);
        for (int round = 0; round < 1500; ++round) {
            QByteArray bad = good.left(random.bounded(good.size() + 1));
            const int flips = random.bounded(8);
            for (int i = 0; i < flips && !bad.isEmpty(); ++i)
                bad[random.bounded(bad.size())] = char(random.bounded(256));
            const MailMessage mail = MailMessage::parse(bad);
            int attachments = 0;
            for (const MailPart &part : mail.parts())
                attachments += part.kind == MailPart::Attachment;
            QCOMPARE(mail.attachmentCount(), attachments);
        }
    }
};

QTEST_GUILESS_MAIN(MailMessageTest)
#include "test_mailmessage.moc"
