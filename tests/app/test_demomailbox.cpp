// SPDX-License-Identifier: GPL-3.0-or-later
// GLib names a struct member "signals": include it before Qt defines that word.
#include <gmime/gmime.h>

#include <QtTest>

#include "support/DemoMailbox.h"

#include <QRegularExpression>
#include <memory>

namespace {

struct Unref {
    void operator()(gpointer p) const { g_object_unref(p); }
};

std::unique_ptr<GMimeMessage, Unref> parse(const QByteArray &raw)
{
    std::unique_ptr<GMimeStream, Unref> stream(g_mime_stream_mem_new_with_buffer(raw.constData(), raw.size()));
    std::unique_ptr<GMimeParser, Unref> parser(g_mime_parser_new_with_stream(stream.get()));
    return std::unique_ptr<GMimeMessage, Unref>(g_mime_parser_construct_message(parser.get(), nullptr));
}

QByteArray bareSender(GMimeMessage *message)
{
    InternetAddressList *from = g_mime_message_get_from(message);
    if (!from || internet_address_list_length(from) < 1)
        return {};
    InternetAddress *a = internet_address_list_get_address(from, 0);
    return INTERNET_ADDRESS_IS_MAILBOX(a) ? QByteArray(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a)))
                                          : QByteArray();
}

} // namespace

class DemoMailboxTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { g_mime_init(); }
    void cleanupTestCase() { g_mime_shutdown(); }

    // Each message is clean RFC 5322 with CRLF line ends, and the set covers what the list shows:
    // every type code, encoded French subjects, and one message with two named attachments.
    void messagesAreWellFormedAndVaried()
    {
        const QList<QByteArray> all = demo::messages();
        QVERIFY(all.size() >= 18 && all.size() <= 24);
        QSet<QByteArray> types;
        int accented = 0;
        int withTwoAttachments = 0;
        for (int i = 0; i < all.size(); ++i) {
            const QByteArray &raw = all[i];
            QVERIFY2(raw.contains("\r\n\r\n"), qPrintable(QString::number(i + 1)));
            QCOMPARE(raw.count('\n'), raw.count("\r\n"));
            QCOMPARE(raw.count('\r'), raw.count("\r\n"));
            const QByteArray head = raw.left(raw.indexOf("\r\n\r\n"));
            for (char c : head)
                QVERIFY2(uchar(c) < 128, "8-bit byte in the header");
            for (const QByteArray &line : raw.split('\n'))
                QVERIFY(line.size() <= 998);

            auto message = parse(raw);
            QVERIFY(message);
            QVERIFY(bareSender(message.get()).contains('@'));
            QVERIFY(g_mime_message_get_date(message.get()));
            const QString subject = QString::fromUtf8(g_mime_message_get_subject(message.get()));
            QVERIFY(!subject.isEmpty());
            if (subject.contains(QRegularExpression(QStringLiteral("[éèêàùçœÉ]"))))
                ++accented;

            GMimeContentType *ct = g_mime_object_get_content_type(g_mime_message_get_mime_part(message.get()));
            char *mimeType = g_mime_content_type_get_mime_type(ct); // allocated for the caller
            types.insert(QByteArray(mimeType));
            g_free(mimeType);

            int attachments = 0;
            GMimePartIter *it = g_mime_part_iter_new(GMIME_OBJECT(message.get()));
            do {
                GMimeObject *part = g_mime_part_iter_get_current(it);
                if (part && GMIME_IS_PART(part) && g_mime_part_is_attachment(GMIME_PART(part))) {
                    ++attachments;
                    QVERIFY(g_mime_part_get_filename(GMIME_PART(part)));
                }
            } while (g_mime_part_iter_next(it));
            g_mime_part_iter_free(it);
            if (attachments == 2)
                ++withTwoAttachments;
        }
        QCOMPARE(types, (QSet<QByteArray>{"text/plain", "text/html", "multipart/alternative", "multipart/mixed"}));
        QVERIFY(accented >= 5);
        QCOMPARE(withTwoAttachments, 1);
    }

    // The blacklist is entries of pattern, TAB, placeholder date, CR LF; a case-sensitive substring
    // search of its patterns in the bare senders catches exactly the spams.
    void blacklistCatchesExactlyTheSpam()
    {
        const QByteArray file = demo::blacklist();
        QVERIFY(file.endsWith("\r\n"));
        QList<QByteArray> patterns;
        for (const QByteArray &line : file.chopped(1).split('\n')) {
            QVERIFY(line.endsWith('\r'));
            const QList<QByteArray> fields = line.chopped(1).split('\t');
            QCOMPARE(fields.size(), 2);
            QVERIFY(!fields[0].isEmpty());
            QCOMPARE(fields[1], QByteArray("00/00/0000"));
            patterns << fields[0];
        }

        const QList<QByteArray> all = demo::messages();
        QList<int> caught;
        for (int i = 0; i < all.size(); ++i) {
            const QByteArray sender = bareSender(parse(all[i]).get());
            for (const QByteArray &p : patterns)
                if (sender.contains(p)) {
                    caught << i + 1;
                    break;
                }
        }
        QCOMPARE(caught, demo::spamNumbers());
        QVERIFY(caught.size() >= 5);
    }
};

QTEST_GUILESS_MAIN(DemoMailboxTest)
#include "test_demomailbox.moc"
