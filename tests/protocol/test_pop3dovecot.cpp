// SPDX-License-Identifier: GPL-3.0-or-later
// The POP3 session against a real Dovecot, plain and implicit TLS.
#include <QtTest>

#include "core/Error.h"
#include "protocol/pop3/Pop3Session.h"
#include "support/DovecotServer.h"

namespace {

QByteArray mail(int i, const QByteArray &body = {})
{
    return "Return-Path: <sender" + QByteArray::number(i) + "@example.org>\r\n"
           "From: \"Expéditeur " + QByteArray::number(i) + "\" <sender" + QByteArray::number(i) + "@example.org>\r\n"
           "To: pelicorde@example.com\r\n"
           "Subject: Message " + QByteArray::number(i) + "\r\n"
           "Date: Mon, 3 Jun 2024 10:00:00 +0200\r\n"
           "Message-ID: <" + QByteArray::number(i) + "@example.org>\r\n"
           "\r\n"
           + (body.isEmpty() ? "Corps du message " + QByteArray::number(i) + "\r\n" : body);
}

QByteArray headerOf(const QByteArray &m)
{
    return m.left(m.indexOf("\r\n\r\n") + 4);
}

} // namespace

class Pop3DovecotTest : public QObject
{
    Q_OBJECT
    DovecotServer dovecot;

private slots:
    void initTestCase()
    {
        QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText()));
    }

    void cleanupTestCase()
    {
        dovecot.stop();
        QVERIFY(!dovecot.isRunning());
    }

    void both_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("plain") << false;
        QTest::newRow("tls") << true;
    }

    // Count, header, whole message byte for byte, unique ids, capabilities.
    void reading_data() { both_data(); }
    void reading()
    {
        QFETCH(bool, tls);
        const QList<QByteArray> box{
            mail(1),
            mail(2, ".starts with a dot\r\n..two dots\r\n.\r\nthe line above is one dot\r\n"),
            mail(3, "no line end at the end"),
        };
        dovecot.setMessages(box);

        Pop3Session s;
        s.open(dovecot.account(tls));
        QCOMPARE(s.messageCount(), 3);
        QVERIFY(s.canPipeline());
        QVERIFY(s.capabilities().contains(QStringLiteral("TOP")));
        QCOMPARE(s.header(1), headerOf(box[0]));
        QCOMPARE(s.message(1), box[0]);
        QCOMPARE(s.message(2), box[1]);
        // POP3 ends every reply with a line end: the last line comes back completed.
        QCOMPARE(s.message(3), box[2] + "\r\n");
        const QHash<int, QString> ids = s.uniqueIds();
        QCOMPARE(ids.size(), 3);
        QCOMPARE(QSet<QString>(ids.cbegin(), ids.cend()).size(), 3);
        QVERIFY(!ids.value(1).isEmpty());
    }

    void emptyMailbox()
    {
        dovecot.setMessages({});
        Pop3Session s;
        s.open(dovecot.account());
        QCOMPARE(s.messageCount(), 0);
        QVERIFY(s.uniqueIds().isEmpty());
        int calls = 0;
        s.headers(1, 0, [&](int, const QByteArray &) { ++calls; });
        QCOMPARE(calls, 0);
        s.quit();
    }

    // QUIT makes a deletion real; a session released without QUIT deletes nothing.
    void deletion_data() { both_data(); }
    void deletion()
    {
        QFETCH(bool, tls);
        const QList<QByteArray> box{mail(1), mail(2), mail(3)};
        dovecot.setMessages(box);
        {
            Pop3Session s;
            s.open(dovecot.account(tls));
            QVERIFY(s.remove(2));
            QVERIFY(!s.remove(2)); // already marked
            QVERIFY(!s.remove(9)); // no such message
        } // released without QUIT
        {
            Pop3Session s;
            s.open(dovecot.account(tls));
            QCOMPARE(s.messageCount(), 3);
            QVERIFY(s.remove(2));
            s.quit();
        }
        QCOMPARE(dovecot.storedMessages(), (QList<QByteArray>{box[0], box[2]}));
        Pop3Session s;
        s.open(dovecot.account(tls));
        QCOMPARE(s.messageCount(), 2);
        QCOMPARE(s.message(2), box[2]);
    }

    void wrongPassword()
    {
        MailAccount a = dovecot.account();
        a.password = QStringLiteral("faux");
        Pop3Session s;
        try {
            s.open(a);
            QFAIL("logged in with a wrong password");
        } catch (const Error &e) {
            QVERIFY2(e.text().startsWith(QStringLiteral("Identification refusée par le serveur 127.0.0.1:")),
                     qPrintable(e.text()));
        }
    }

    // A pipelined pass gives exactly what one command at a time gives.
    void pipelinedEqualsOneAtATime_data() { both_data(); }
    void pipelinedEqualsOneAtATime()
    {
        QFETCH(bool, tls);
        QList<QByteArray> box;
        for (int i = 1; i <= 50; ++i)
            box << mail(i, i % 7 == 0 ? QByteArray(".dot\r\n").repeated(i) : QByteArray());
        dovecot.setMessages(box);

        QList<QByteArray> pipelined, sequential, whole;
        QList<int> order;
        {
            Pop3Session s;
            s.open(dovecot.account(tls));
            QVERIFY(s.canPipeline());
            s.headers(1, 50, [&](int n, const QByteArray &h) {
                order << n;
                pipelined << h;
            });
            s.messages(1, 50, [&](int, const QByteArray &m) { whole << m; });
        }
        {
            Pop3Session s;
            s.open(dovecot.account(tls));
            s.setPipelining(false);
            QVERIFY(!s.canPipeline());
            s.headers(1, 50, [&](int, const QByteArray &h) { sequential << h; });
        }
        QList<int> expectedOrder;
        QList<QByteArray> expectedHeaders;
        for (int i = 1; i <= 50; ++i) {
            expectedOrder << i;
            expectedHeaders << headerOf(box[i - 1]);
        }
        QCOMPARE(order, expectedOrder);
        QCOMPARE(pipelined, expectedHeaders);
        QCOMPARE(sequential, expectedHeaders);
        QCOMPARE(whole, box);
    }

    void addedMessageComesLast()
    {
        dovecot.setMessages({mail(1)});
        dovecot.addMessage(mail(2));
        Pop3Session s;
        s.open(dovecot.account());
        QCOMPARE(s.messageCount(), 2);
        QCOMPARE(s.message(2), mail(2));
    }
};

QTEST_GUILESS_MAIN(Pop3DovecotTest)
#include "test_pop3dovecot.moc"
