// SPDX-License-Identifier: GPL-3.0-or-later
// MailboxSession::remove over each protocol: what each row's event says, in order, what the
// count returned covers, and when the removals take effect.
#include <QtTest>

#include "mailbox/MailboxSession.h"
#include "support/DovecotServer.h"
#include "support/FakePop3Server.h"

using Fault = FakePop3Server::Fault;

namespace {

QByteArray mail(const QByteArray &subject)
{
    return "From: <promo@spam.example>\r\nSubject: " + subject + "\r\n\r\nTexte\r\n";
}

// The rows' events as "changed 2", "refused 1"; betweens counts the pauses offered.
struct Recorder
{
    QStringList told;
    int betweens = 0;
    RemovalEvents events()
    {
        return {[this](const RemovalRow &r) { told << QStringLiteral("changed %1").arg(r.number); },
                [this](const RemovalRow &r) { told << QStringLiteral("refused %1").arg(r.number); },
                [this] { ++betweens; }};
    }
};

} // namespace

class MailboxRemovalTest : public QObject
{
    Q_OBJECT

private slots:
    // POP3: each row checked against the server's subject and id, one beyond the end left alone,
    // a refused DELE told and passed; nothing is deleted before close(), nor at all when the run
    // is stopped from between.
    void pop3ChecksEachRowAndDeletesAtClose()
    {
        FakePop3Server server;
        server.mailbox = {mail("Un"), mail("Deux"), mail("Trois")};
        server.breakCommand("DELE", Fault::Err, 1);
        QVERIFY(server.start());
        const QHash<int, QString> ids = server.uids();
        const QList<RemovalRow> rows{{5, QStringLiteral("x"), QStringLiteral("Cinq")},
                                     {3, ids[3], QStringLiteral("Trois")},
                                     {2, ids[2], QStringLiteral("Autre")},
                                     {1, ids[1], QStringLiteral("Un")}};
        {
            const auto session = makeMailboxSession(server.account());
            QVERIFY(!session->removesAtOnce() && !session->canWatch());
            session->open(server.account(), MailboxSession::Access::Change);
            RemovalEvents stopping;
            stopping.between = [] { throw Error(QStringLiteral("arrêt")); };
            QVERIFY_THROWS_EXCEPTION(Error, session->remove(rows, {}, {}, stopping));
        }
        QVERIFY(!server.received("DELE"));
        const auto session = makeMailboxSession(server.account());
        session->open(server.account(), MailboxSession::Access::Change);
        Recorder recorder;
        QCOMPARE(session->remove(rows, {}, {}, recorder.events()), 1);
        QCOMPARE(recorder.told, (QStringList{QStringLiteral("changed 5"), QStringLiteral("changed 2"),
                                             QStringLiteral("refused 1")}));
        QVERIFY(recorder.betweens >= rows.size());
        QCOMPARE(server.mailbox.size(), 3);
        session->close();
        QCOMPARE(server.mailbox, (QList<QByteArray>{mail("Un"), mail("Deux")}));
    }

    // IMAP: by UID under the scan's UIDVALIDITY, at once; a row without an id is told and left,
    // and another scope removes nothing.
    void imapRemovesByIdAtOnce()
    {
        DovecotServer dovecot;
        QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText()));
        const QList<QByteArray> box{mail("Un"), mail("Deux"), mail("Trois")};
        dovecot.setMessages(box);
        const auto session = makeMailboxSession(dovecot.imapAccount());
        QVERIFY(session->removesAtOnce() && session->canWatch());
        session->open(dovecot.imapAccount(), MailboxSession::Access::Change);
        session->headers(1, session->messageCount(), [](int, const QByteArray &) {});
        const MessageIds ids = session->uniqueIdsByNumber();
        const QList<RemovalRow> rows{{3, ids[3], QStringLiteral("Trois")}, {2, {}, QStringLiteral("Deux")},
                                     {1, ids[1], QStringLiteral("Un")}};
        const Removal toJunk{Removal::Kind::ToJunk, QStringLiteral("Junk")};
        Recorder recorder;
        QVERIFY_THROWS_EXCEPTION(MailboxChanged,
                                 session->remove(rows, session->idScope() + QLatin1Char('1'), toJunk, recorder.events()));
        QCOMPARE(dovecot.storedMessages(), box);
        recorder.told.clear();
        QCOMPARE(session->remove(rows, session->idScope(), toJunk, recorder.events()), 2);
        QCOMPARE(recorder.told, QStringList{QStringLiteral("changed 2")});
        QCOMPARE(dovecot.storedMessages(), QList<QByteArray>{box[1]});
        QCOMPARE(dovecot.storedMessages(QStringLiteral("Junk")), (QList<QByteArray>{box[0], box[2]}));
    }
};

QTEST_GUILESS_MAIN(MailboxRemovalTest)
#include "test_mailboxremoval.moc"
