// SPDX-License-Identifier: GPL-3.0-or-later
// The deletion of marked messages through the real window, against Dovecot and the scripted
// server: the confirmation, the checks that a row still stands for its message, and the
// faults that must leave the mailbox as it was.
#include <QtTest>

#include <QLabel>
#include <QLineEdit>

#include "core/ServerOperation.h"
#include "attachments/AttachmentSaving.h"
#include "deletion/Deletion.h"
#include "message/MailMessage.h"
#include "mailbox/MessageList.h"
#include "protocol/pop3/Pop3Session.h"
#include "preview/Preview.h"
#include "protocol/SessionAccount.h"
#include "scan/SessionSettings.h"
#include "support/DovecotServer.h"
#include "support/FakeImapServer.h"
#include "support/FakePop3Server.h"
#include "support/LearningMail.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"
#include "window/PelicordeFP.h"

using Fault = FakePop3Server::Fault;

namespace {

const QString Warning = QStringLiteral(
    "Attention :\n\nCette suppression des messages sur le serveur est irréversible.\n\nVoulez-vous continuer ?");
const QString ToJunk = QStringLiteral("Attention :\n\nLes messages cochés seront déplacés dans le dossier Indésirables "
                                      "(« Junk ») du serveur.\n\nVoulez-vous continuer ?");
const QString Definitive = QStringLiteral("Attention :\n\nLes messages cochés seront supprimés définitivement du serveur : "
                                          "cette suppression est irréversible.\n\nVoulez-vous continuer ?");
const QString NothingRemoved = QStringLiteral("\n\nAucun message n'a été supprimé.");
const QString Changed =
    QStringLiteral("Abandon de la suppression, car entre-temps les mails ont changé sur le serveur !!!");
const QString Refused = QStringLiteral("Erreur durant la suppression du message sur le serveur");
const QString Failure =
    QStringLiteral("Erreur durant la reception des messages\n\nVérifiez les informations Pop3 entrées");

QByteArray mail(const QString &subject, const QByteArray &from = "Promo <promo@spam.example>")
{
    mailfactory::Mail m;
    m.from = from;
    m.subject = subject;
    m.text = QStringLiteral("Texte de « %1 ».").arg(subject);
    return mailfactory::build(m);
}

QList<QByteArray> mails(const QStringList &subjects)
{
    QList<QByteArray> out;
    for (const QString &s : subjects)
        out << mail(s);
    return out;
}

// The commands of the deletion's own session (the re-scan that follows logs in again).
QList<QByteArray> deletionSession(const FakePop3Server &server)
{
    // A session starts with CAPA (asking for STLS) then USER.
    QList<QByteArray> out;
    const QList<QByteArray> &all = server.commands;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const bool next = all[i] == "CAPA" && i + 1 < all.size() && all[i + 1].startsWith("USER");
        if (next && !out.isEmpty())
            break;
        out << all[i];
    }
    return out;
}

// The commands of one verb in the deletion's session, e.g. "DELE 4".
QList<QByteArray> commandsOf(const FakePop3Server &server, const QByteArray &verb)
{
    QList<QByteArray> out;
    for (const QByteArray &c : deletionSession(server))
        if (c.startsWith(verb))
            out << c;
    return out;
}

} // namespace

class DeletionTest : public QObject
{
    Q_OBJECT

    WindowFixture m_w;
    RecordingPrompter m_prompter;
    DovecotServer m_dovecot;
    TForm1 *m_form = nullptr;

    // The list as a scan of messages on the window's account would have left it; uids as the
    // server gave them.
    void fillList(const QList<QByteArray> &box, const QHash<int, QString> &uids = {})
    {
        MessageList &list = *m_form->list;
        list.setMailbox(sessionAccountKey(m_form->account()), {}, {});
        list.setRows(int(box.size()) + 1);
        list.clearDataRows();
        for (int r = 1; r <= box.size(); ++r) {
            const MailMessage m = MailMessage::parse(box[r - 1]);
            list.setCell(r, MessageList::From, m.senderAddress());
            list.setCell(r, MessageList::Subject, m.subject());
            list.setUid(r, uids.value(r));
        }
    }

    QStringList listedSubjects() const
    {
        QStringList out;
        for (int r = 1; r < m_form->list->rows(); ++r)
            out << m_form->list->cell(r, MessageList::Subject);
        return out;
    }

    void mark(std::initializer_list<int> rows, const QString &value = QStringLiteral("1"))
    {
        for (int r : rows)
            m_form->list->setCell(r, MessageList::Mark, value);
    }

    QList<QStringList> cells() const
    {
        QList<QStringList> out;
        for (int r = 1; r < m_form->list->rows(); ++r) {
            QStringList row;
            for (int c = 0; c < MessageList::ColumnCount; ++c)
                row << m_form->list->cell(r, c);
            out << row;
        }
        return out;
    }

    QHash<int, QString> dovecotUids()
    {
        Pop3Session s;
        s.open(m_dovecot.account());
        const QHash<int, QString> ids = s.uniqueIds();
        s.quit();
        return ids;
    }

    // Another mail client deletes message n behind the program's back.
    void deleteBehindBack(int n)
    {
        Pop3Session s;
        s.open(m_dovecot.account());
        QVERIFY(s.remove(n));
        s.quit();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_w.prepareFolders());
        QVERIFY2(m_dovecot.start(), qPrintable(m_dovecot.errorText()));
        QVERIFY(m_w.create());
        m_form = m_w.form.get();
    }

    void cleanupTestCase()
    {
        m_w.form.reset();
        m_dovecot.stop();
    }

    void init() { m_prompter.reset(); }

    // Annuler, and a press while another server operation runs: no connection, marks kept.
    void cancelAndBusyTouchNothing()
    {
        FakePop3Server server;
        QVERIFY(server.start());
        server.mailbox = mails({QStringLiteral("Un"), QStringLiteral("Deux")});
        m_w.pointAt(server.account());
        fillList(server.mailbox);
        mark({2});

        m_prompter.answers = {false};
        deleteMarked(*m_form);
        QCOMPARE(m_prompter.questions, QStringList{Warning});
        QVERIFY(m_prompter.infos.isEmpty());
        QCOMPARE(m_prompter.beeps, 0);

        m_prompter.reset();
        {
            ServerOperation running;
            deleteMarked(*m_form);
        }
        QCOMPARE(m_prompter.beeps, 1);
        QVERIFY(m_prompter.questions.isEmpty());

        QCOMPARE(server.connections, 0);
        QCOMPARE(m_form->list->cell(2, MessageList::Mark), QStringLiteral("1"));
        QCOMPARE(server.mailbox.size(), 2);
    }

    // The sixth tick and the tray's "Vérifier" while the warning waits: no scan runs under it,
    // so the blacklisted row the user unticked stays unticked. "Oui" deletes only what was
    // marked, and its re-scan answers the requests; "Annuler" leaves the list as it was, and
    // the deferred scan follows the answer.
    void scanRequestsWaitForTheWarning_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Oui") << true;
        QTest::newRow("Annuler") << false;
    }
    void scanRequestsWaitForTheWarning()
    {
        QFETCH(bool, yes);
        const QString blacklist = m_form->dataFolder + QStringLiteral("/Liste-noire.txt");
        const auto removeBlacklist = qScopeGuard([&] { QFile::remove(blacklist); });
        QFile file(blacklist);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("promo@spam.example\t00/00/0000\r\n");
        file.close();
        FakePop3Server server;
        server.mailbox = {mail(QStringLiteral("Promo 1")), mail(QStringLiteral("Lettre"), "Alice <alice@example.org>"),
                          mail(QStringLiteral("Promo 2"))};
        const QList<QByteArray> box = server.mailbox;
        QVERIFY(server.start());
        m_w.pointAt(server.account());
        m_form->BitBtn2Click();
        QVERIFY(m_form->list->isMarked(1) && !m_form->list->isMarked(2) && m_form->list->isMarked(3));
        m_form->list->setCell(3, MessageList::Mark, QString()); // the user keeps "Promo 2"
        const QList<QStringList> before = cells();
        server.commands.clear();
        const int connections = server.connections;

        QList<QStringList> inside;
        int connectionsInside = -1;
        m_prompter.answers = {yes};
        m_prompter.whileShown = [&](const QString &) {
            m_form->check.minuteCounter = 5;
            m_form->Timer2Timer();
            m_form->VerifierMails1Click();
            inside = cells();
            connectionsInside = server.connections;
        };
        deleteMarked(*m_form);
        m_prompter.whileShown = nullptr;
        QCOMPARE(connectionsInside, connections);
        QCOMPARE(inside, before);
        if (yes) {
            QCOMPARE(commandsOf(server, "DELE"), QList<QByteArray>{"DELE 1"});
            QCOMPARE(server.mailbox, box.mid(1));
            QCOMPARE(server.connections, connections + 2);
            QCoreApplication::processEvents();
            QCOMPARE(server.connections, connections + 2);
        } else {
            QCOMPARE(cells(), before);
            QCOMPARE(server.connections, connections);
            QTRY_COMPARE(server.connections, connections + 1);
            QCOMPARE(server.mailbox, box);
        }
    }

    // Two marked rows still standing for their messages are deleted, the higher number first;
    // a cell holding anything but "1" is not a mark. Over IMAP they go to the Junk folder, by
    // their UIDs: another client renumbering the mailbox meanwhile changes nothing.
    void markedRowsDeleted_data() { bothProtocols(); }
    void markedRowsDeleted()
    {
        QFETCH(bool, imap);
        const QList<QByteArray> box = mails({QStringLiteral("Un"), QStringLiteral("Deux"), QStringLiteral("Trois"),
                                             QStringLiteral("Quatre"), QStringLiteral("Cinq")});
        m_dovecot.setMessages(box);
        m_w.pointAt(imap ? m_dovecot.imapAccount() : m_dovecot.account());
        if (imap)
            m_form->BitBtn2Click();
        else
            fillList(box, dovecotUids());
        mark({2, 4});
        mark({3}, QStringLiteral("x"));
        mark({5}, QStringLiteral("1 "));
        if (imap)
            deleteBehindBack(1);
        deleteMarked(*m_form);
        QVERIFY(m_prompter.infos.isEmpty());
        QCOMPARE(m_prompter.questions, QStringList{imap ? ToJunk : Warning});
        QCOMPARE(m_dovecot.storedMessages(), (QList<QByteArray>{box[imap ? 2 : 0], box[2], box[4]}.mid(imap ? 1 : 0)));
        // The re-scan shows what is left, unmarked.
        QCOMPARE(listedSubjects(), (QStringList{QStringLiteral("Un"), QStringLiteral("Trois"), QStringLiteral("Cinq")}.mid(imap ? 1 : 0)));
        for (int r = 1; r <= 3 - int(imap); ++r)
            QCOMPARE(m_form->list->cell(r, MessageList::Mark), QString());
        if (imap) {
            QCOMPARE(m_dovecot.storedMessages(QStringLiteral("Junk")), (QList<QByteArray>{box[1], box[3]}));
            return;
        }

        // The order and the closing QUIT, as the server saw them.
        FakePop3Server server;
        QVERIFY(server.start());
        server.mailbox = box;
        m_w.pointAt(server.account());
        fillList(server.mailbox, server.uids());
        mark({1, 2, 4, 5});
        deleteMarked(*m_form);
        QVERIFY(m_prompter.infos.isEmpty());
        QCOMPARE(commandsOf(server, "DELE"), (QList<QByteArray>{"DELE 5", "DELE 4", "DELE 2", "DELE 1"}));
        QCOMPARE(server.largestBurst, 4); // the four checks in one write, the four deletions in another
        QCOMPARE(deletionSession(server).last(), QByteArray("QUIT"));
        QCOMPARE(server.mailbox, (QList<QByteArray>{box[2]}));
    }

    // Suggested ticks are deleted as any tick, the warning saying how many there are; the
    // deletion then teaches the score, off the window: what went as spam, the unticked rows as
    // legitimate, and a suggestion the user unticked as legitimate too.
    void deletionLearns_data() { bothProtocols(); }
    void deletionLearns()
    {
        QFETCH(bool, imap);
        using namespace learningmail;
        // The other tests' deletions teach the score too: this one starts from its own store,
        // and leaves none behind.
        const QString store = learning::LearnedStore::pathIn(m_form->dataFolder);
        const auto removeStore = [&] {
            for (const char *suffix : {"", "-wal", "-shm"})
                QFile::remove(store + QLatin1String(suffix));
        };
        QThreadPool::globalInstance()->waitForDone(); // the lessons of the deletions before
        removeStore();
        const auto cleanup = qScopeGuard(removeStore);
        trainStore(m_form->dataFolder);
        const QList<QByteArray> box{wholeMail(spam(100)), wholeMail(ham(100)), wholeMail(spam(101)),
                                    wholeMail(spam(102)), mail(QStringLiteral("Promo"))};
        m_dovecot.setMessages(box);
        m_w.pointAt(imap ? m_dovecot.imapAccount() : m_dovecot.account());
        m_form->BitBtn2Click();
        QVERIFY(m_form->list->isSuggestion(1) && m_form->list->isSuggestion(3) && m_form->list->isSuggestion(4));
        mark({5});
        m_form->list->setCell(4, MessageList::Mark, QString()); // a suggestion the user does not want
        deleteMarked(*m_form);
        QVERIFY(m_prompter.infos.isEmpty());
        const QString question = imap ? ToJunk : Warning;
        const QString ask = QStringLiteral("\n\nVoulez-vous continuer ?");
        QCOMPARE(m_prompter.questions,
                 QStringList{question.left(question.size() - ask.size())
                             + QStringLiteral("\n\nDont 2 des 3 messages cochés suggérés par le score appris.") + ask});
        QCOMPARE(m_dovecot.storedMessages(), (QList<QByteArray>{box[1], box[3]}));
        // spam(100), spam(101) and the promotion as spam; ham(100) and spam(102) as legitimate.
        QTRY_COMPARE(learned(m_form->dataFolder), std::pair(23, 22));
    }

    // Messages renumbered by another client: a row whose subject no longer matches, one beyond
    // the new end of the mailbox, one differing only in letter case and one whose Cyrillic
    // subject has the same length (the same in the ANSI code page) are left on the server,
    // each with its box; the row that still matches is deleted.
    void subjectCheckRefuses()
    {
        const QList<QByteArray> box = mails({QStringLiteral("Alpha"), QStringLiteral("Bravo"), QStringLiteral("Привет"),
                                             QStringLiteral("Delta"), QStringLiteral("Echo")});
        m_dovecot.setMessages(box);
        m_w.pointAt(m_dovecot.account());
        fillList(box, dovecotUids());
        m_form->list->setCell(1, MessageList::Subject, QStringLiteral("alpha"));
        m_form->list->setCell(3, MessageList::Subject, QStringLiteral("Прощай"));
        mark({1, 2, 3, 4, 5});
        deleteBehindBack(4);

        deleteMarked(*m_form);
        QCOMPARE(m_prompter.infos, (QStringList{Changed, Changed, Changed, Changed}));
        QCOMPARE(m_dovecot.storedMessages(), (QList<QByteArray>{box[0], box[2], box[4]}));
    }

    // Two messages with the same subject: after a renumbering the row of the first stands for
    // the second. The unique id tells them apart; a matching id lets the deletion through.
    void uniqueIdCheckRefuses()
    {
        const QList<QByteArray> box = mails({QStringLiteral("Facture"), QStringLiteral("Lettre d'information"),
                                             QStringLiteral("Lettre d'information"), QStringLiteral("Rappel")});
        m_dovecot.setMessages(box);
        m_w.pointAt(m_dovecot.account());
        fillList(box, dovecotUids());
        mark({2, 4});
        // The list was 1 Facture, 2 Lettre, 3 Lettre, 4 Rappel; Facture goes behind the back:
        // now 1 Lettre (row 2's message), 2 Lettre (row 3's), 3 Rappel.
        deleteBehindBack(1);

        deleteMarked(*m_form);
        QCOMPARE(m_prompter.infos, (QStringList{Changed, Changed}));
        QCOMPARE(m_dovecot.storedMessages(), (QList<QByteArray>{box[1], box[2], box[3]}));

        // The re-scan recorded the ids of the messages as they are now: they match, both go.
        QCOMPARE(listedSubjects(), (QStringList{QStringLiteral("Lettre d'information"),
                                                QStringLiteral("Lettre d'information"), QStringLiteral("Rappel")}));
        QVERIFY(!m_form->list->uid(1).isEmpty());
        mark({1, 3});
        m_prompter.reset();
        deleteMarked(*m_form);
        QVERIFY(m_prompter.infos.isEmpty());
        QCOMPARE(m_dovecot.storedMessages(), (QList<QByteArray>{box[2]}));
    }

    // A scan stopped at TOP 4 over 1 "Note", 2 spam "Réunion" (marked), 3 a friend's "Réunion",
    // 4 "Fin"; another client then removes message 1. The rows kept their ids when the session
    // stayed in step; without one (the connection dropped) a row stands for no message in
    // particular. Either way "Oui" deletes neither "Réunion".
    void failedScanKeepsRowsApart_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("TOP 4 refused") << int(Fault::Err);
        QTest::newRow("connection dropped at TOP 4") << int(Fault::Drop);
    }
    void failedScanKeepsRowsApart()
    {
        QFETCH(int, fault);
        FakePop3Server server;
        server.mailbox = mails({QStringLiteral("Note"), QStringLiteral("Réunion"), QStringLiteral("Réunion"), QStringLiteral("Fin")});
        server.mailbox[2] = mail(QStringLiteral("Réunion"), "Amie <amie@example.org>");
        server.breakCommand("TOP", Fault(fault), 4);
        QVERIFY(server.start());
        m_w.pointAt(server.account());
        m_form->BitBtn2Click();
        for (int r = 1; r <= 3; ++r)
            QCOMPARE(m_form->list->uid(r), Fault(fault) == Fault::Err ? server.uids().value(r) : QString());
        mark({2});
        const QList<QByteArray> left = server.mailbox = server.mailbox.mid(1);
        m_prompter.reset();
        deleteMarked(*m_form);
        QCOMPARE(m_prompter.infos.value(0), Changed);
        QCOMPARE(server.mailbox, left);
    }

    // IMAP servers without a Junk folder, without UIDPLUS, or whose mailbox was recreated since
    // the scan (UIDVALIDITY): the warning says what will happen (the folder list asked by the
    // deletion, before it), the box why nothing did. A Junk
    // folder named in modified UTF-7 is shown decoded and named on the wire as the server sent it.
    void imapRemovalFaults_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QByteArray>("sent"); // the removal's commands
        QTest::addColumn<QByteArray>("capabilities"); // the server's own when not empty
        const QByteArray noJunk = "* LIST (\\HasNoChildren) \".\" Archives\r\n$ OK done";
        const QString unsupported = QStringLiteral("Le serveur ne sait pas effacer seulement les messages cochés (il n'offre "
                                                   "pas UIDPLUS). Pelicorde ne les efface donc pas : la commande EXPUNGE de ce "
                                                   "serveur effacerait aussi les messages que d'autres logiciels ont marqués "
                                                   "pour suppression.") + NothingRemoved;
        QTest::newRow("no Junk folder") << QByteArray("LIST") << noJunk << Definitive << QString()
                                        << QByteArray("UID STORE 2 +FLAGS.SILENT (\\Deleted)|UID EXPUNGE 2") << QByteArray();
        // Known from the scan: refused before the warning, which would promise what cannot be done.
        QTest::newRow("no UIDPLUS") << QByteArray("CAPABILITY") << QByteArray("* CAPABILITY IMAP4rev1 SPECIAL-USE\r\n$ OK done")
                                    << QString() << unsupported << QByteArray() << QByteArray();
        QTest::newRow("Junk named in UTF-7") << QByteArray("LIST") << QByteArray("* LIST (\\Junk) \".\" Ind&AOk-sirables\r\n$ OK done")
                                             << QString(ToJunk).replace(QStringLiteral("« Junk »"), QStringLiteral("« Indésirables »"))
                                             << QString() << QByteArray("UID MOVE 2 Ind&AOk-sirables") << QByteArray();
        // MOVE without UIDPLUS: only the folder list, asked before the warning, tells that
        // nothing can be removed.
        QTest::newRow("MOVE, no UIDPLUS, no Junk folder")
            << QByteArray("LIST") << noJunk << QString() << unsupported << QByteArray()
            << QByteArray("* CAPABILITY IMAP4rev1 SPECIAL-USE MOVE\r\n$ OK done");
        QTest::newRow("UIDVALIDITY changed") << QByteArray("SELECT") << QByteArray("* 3 EXISTS\r\n* OK [UIDVALIDITY 8] new\r\n$ OK done")
                                             << ToJunk << Changed + NothingRemoved << QByteArray() << QByteArray();
        // The deletion's failure, in the server's words, and what had left already.
        const QString stopped = QStringLiteral("Erreur durant la suppression des messages sur le serveur\n\nLe serveur "
                                               "127.0.0.1:<port> a refusé la commande UID MOVE : [SERVERBUG] Panne\n\n");
        QTest::newRow("UID MOVE refused") << QByteArray("UID MOVE") << QByteArray("$ NO [SERVERBUG] Panne") << ToJunk
                                          << stopped + QStringLiteral("Aucun message n'a été supprimé.")
                                          << QByteArray("UID MOVE 2 Junk") << QByteArray();
        QTest::newRow("UID MOVE stopped midway")
            << QByteArray("UID MOVE") << QByteArray("* 2 EXPUNGE\r\n$ NO [SERVERBUG] Panne") << ToJunk
            << stopped + QStringLiteral("Déjà déplacés dans le dossier « Junk » avant l'erreur : 1 des 1 messages cochés.")
            << QByteArray("UID MOVE 2 Junk") << QByteArray();
    }
    void imapRemovalFaults()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, response);
        QFETCH(QString, warning);
        QFETCH(QString, box);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, capabilities);
        FakeImapServer server;
        if (!capabilities.isEmpty())
            server.script["CAPABILITY"] = capabilities;
        server.script[command] = response;
        QVERIFY(server.start());
        MailAccount account = server.account();
        account.protocol = MailAccount::Protocol::Imap;
        m_w.pointAt(account);
        m_form->BitBtn2Click();
        // The folder list is the deletion's to ask.
        QVERIFY(std::none_of(server.commands.cbegin(), server.commands.cend(), [](const QByteArray &c) { return c.contains(" LIST "); }));
        mark({2});
        server.commands.clear();
        deleteMarked(*m_form);
        QCOMPARE(m_prompter.questions, warning.isEmpty() ? QStringList() : QStringList{warning});
        QCOMPARE(m_prompter.infos,
                 box.isEmpty() ? QStringList() : QStringList{box.replace(QLatin1String("<port>"), QString::number(server.port()))});
        QByteArrayList removal;
        for (const QByteArray &c : std::as_const(server.commands))
            if (c.contains(" UID "))
                removal << c.mid(c.indexOf(' ') + 1);
        QCOMPARE(removal.join('|'), sent);
    }

    // Rows read from one account are never acted on in another that the fields name since, even
    // where numbers and ids match (two accounts of one server sharing a UIDVALIDITY here): the
    // deletion, the preview and the attachment saving say so and touch nothing. A scan of the
    // new account makes its rows the ones acted on.
    void anotherAccountsRowsAreLeftAlone_data() { bothProtocols(); }
    void anotherAccountsRowsAreLeftAlone()
    {
        QFETCH(bool, imap);
        const QList<QByteArray> box = mails({QStringLiteral("Un"), QStringLiteral("Deux")});
        m_dovecot.setMessages(box);
        m_w.pointAt(imap ? m_dovecot.imapAccount() : m_dovecot.account());
        m_form->BitBtn2Click();
        QCOMPARE(listedSubjects(), (QStringList{QStringLiteral("Un"), QStringLiteral("Deux")}));
        m_form->Edit15->setText(m_dovecot.otherUser());
        mark({1});
        m_prompter.reset();
        const QString another = QStringLiteral("La liste affichée provient d'un autre compte : relevez d'abord les "
                                               "messages de ce compte.");
        deleteMarked(*m_form);
        m_form->currentRow = 1;
        previewMessage(*m_form, 1);
        saveAttachments(*m_form);
        QCOMPARE(m_prompter.infos, QStringList(3, another));
        QVERIFY(m_prompter.questions.isEmpty());
        QVERIFY(m_form->Label7->isHidden()); // no preview pane
        QCOMPARE(m_dovecot.storedMessages(), box);

        m_form->BitBtn2Click();
        mark({1});
        m_prompter.reset();
        deleteMarked(*m_form);
        QCOMPARE(m_prompter.questions.size(), 1);
        QCOMPARE(m_dovecot.storedMessages(), QList<QByteArray>{box[1]});
    }

    // A refused DELE shows its box and the run goes on; a failure in the middle of the run drops
    // the session without QUIT, so the deletions already asked for do not happen.
    void faults()
    {
        const QList<QByteArray> box = mails({QStringLiteral("Un"), QStringLiteral("Deux"), QStringLiteral("Trois")});
        {
            FakePop3Server server;
            QVERIFY(server.start());
            server.mailbox = box;
            server.breakCommand("DELE", Fault::Err, 3);
            m_w.pointAt(server.account());
            fillList(server.mailbox, server.uids());
            mark({1, 3});
            deleteMarked(*m_form);
            QCOMPARE(m_prompter.infos, QStringList{Refused});
            QCOMPARE(deletionSession(server).last(), QByteArray("QUIT"));
            QCOMPARE(commandsOf(server, "DELE"), (QList<QByteArray>{"DELE 3", "DELE 1"}));
            QCOMPARE(server.mailbox, (QList<QByteArray>{box[1], box[2]}));
        }
        for (const auto &[verb, fault] : {std::pair{QByteArray("TOP"), Fault::Drop}, std::pair{QByteArray("TOP"), Fault::Err},
                                          std::pair{QByteArray("DELE"), Fault::Drop}}) {
            m_prompter.reset();
            FakePop3Server server;
            QVERIFY(server.start());
            server.mailbox = box;
            server.breakCommand(verb, fault, 1);
            m_w.pointAt(server.account());
            fillList(server.mailbox, server.uids());
            mark({1, 3});
            deleteMarked(*m_form);
            // The re-scan, which meets the same fault on TOP 1, may add its own box.
            QCOMPARE(m_prompter.infos.value(0), Failure + (fault == Fault::Err ? QStringLiteral("\n\nLe serveur a refusé une commande")
                                                                             : QStringLiteral("\n\nConnexion coupée par le serveur")));
            // Every check passes before any deletion is asked for.
            QCOMPARE(commandsOf(server, "DELE").value(0), verb == "DELE" ? QByteArray("DELE 3") : QByteArray());
            QVERIFY(!deletionSession(server).contains("QUIT"));
            QCOMPARE(server.mailbox, box);
            if (verb == "DELE")
                QCOMPARE(listedSubjects(), (QStringList{QStringLiteral("Un"), QStringLiteral("Deux"), QStringLiteral("Trois")}));
        }
        // Login refused: the same box, then the re-scan's own.
        m_prompter.reset();
        FakePop3Server server;
        QVERIFY(server.start());
        server.mailbox = box;
        MailAccount wrong = server.account();
        wrong.password = QStringLiteral("faux");
        m_w.pointAt(wrong);
        fillList(server.mailbox, server.uids());
        deleteMarked(*m_form);
        const QString login = QStringLiteral("\n\nIdentification refusée par le serveur (mot de passe ou adresse)");
        QCOMPARE(m_prompter.infos, (QStringList{Failure + login, QStringLiteral("Erreur durant la reception des messages") + login}));
        QCOMPARE(server.connections, 2);
        QCOMPARE(server.mailbox, box);
    }
};

QTEST_MAIN(DeletionTest)
#include "test_deletion.moc"
