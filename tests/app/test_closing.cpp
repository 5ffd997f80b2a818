// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include "app/Startup.h"
#include "core/ServerOperation.h"
#include "mailbox/MessageList.h"
#include "mailbox/NewMailWatcher.h"
#include "support/DovecotServer.h"
#include "support/FakePop3Server.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"
#include "tray/NewMailWatch.h"
#include "tray/Tray.h"
#include "window/PelicordeFP.h"

// Closing the main window while a server operation talks to the server: the operation is given
// up at once (its session dropped without QUIT), shows no box, and the process ends. Runs the
// real event loop of the process, as the program does.
class ClosingTest : public QObject
{
    Q_OBJECT

    WindowFixture m_w;
    RecordingPrompter m_prompter;

    // The program's windows on account, past their first show.
    void startOn(const MailAccount &account)
    {
        createWindows(DesignWorkArea);
        QTRY_VERIFY(!Form1->firstShow);
        Form1->Edit3->setText(account.protocol == MailAccount::Protocol::Imap ? "imap://" + account.host : account.host);
        Form1->Edit4->setText(QString::number(account.port));
        Form1->Edit15->setText(account.user);
        Form1->Edit16->setText(account.password);
        Form1->CheckBox2->setChecked(account.tls);
    }

    // Runs the event loop of the process, closing the window by close() once ready() holds. The
    // loop must be left by the close, well before a stalled server's 30 s: 1 otherwise.
    static int runClosingWhen(const std::function<bool()> &ready, const std::function<void()> &close)
    {
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (ready()) {
                closer.stop();
                close();
            }
        });
        closer.start(5);
        QTimer bound;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        bound.start(15000);
        return QApplication::exec();
    }

private slots:
    void initTestCase() { QVERIFY(m_w.prepareFolders()); }

    void init() { m_prompter.reset(); }

    void cleanup() { destroyWindows(); }

    // A server that takes the connection and never greets, or one whose header of message 2
    // comes late: the close box ends the process at once, without the scan's error box.
    void closeDuringAScan_data()
    {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<FakePop3Server::Fault>("fault");
        QTest::addColumn<int>("message");
        QTest::newRow("never greets") << QByteArray("GREETING") << FakePop3Server::Fault::Stall << 0;
        QTest::newRow("late header") << QByteArray("TOP") << FakePop3Server::Fault::Delay << 2;
    }
    void closeDuringAScan()
    {
        QFETCH(QByteArray, verb);
        QFETCH(FakePop3Server::Fault, fault);
        QFETCH(int, message);
        FakePop3Server server;
        server.mailbox = mailfactory::realisticMailbox(3);
        server.breakCommand(verb, fault, message);
        server.delayMs = 300;
        QVERIFY(server.start());
        startOn(server.account());
        m_prompter.reset();

        QTimer::singleShot(0, Form1, [] { Form1->BitBtn2Click(); });
        const auto waiting = [&] { return verb == "GREETING" ? server.connections > 0 : server.received(verb); };
        QCOMPARE(runClosingWhen(waiting, [] { Form1->close(); }), 0);
        QVERIFY2(m_prompter.infos.isEmpty(), qPrintable(m_prompter.infos.join(QLatin1Char('|'))));
        QVERIFY(m_prompter.errors.isEmpty());
        QCOMPARE(server.connections, 1);
    }

    // "&Quitter" while a deletion waits for the server's answer to its first DELE: no QUIT goes
    // out, so the server deletes nothing, no box shows and no re-scan follows.
    void quitDuringADeletion()
    {
        FakePop3Server server;
        for (const char *subject : {"Un", "Deux", "Trois"}) {
            mailfactory::Mail m;
            m.subject = QLatin1String(subject);
            server.mailbox << mailfactory::build(m);
        }
        const QList<QByteArray> box = server.mailbox;
        server.breakCommand("DELE", FakePop3Server::Fault::Delay, 3);
        server.delayMs = 500;
        QVERIFY(server.start());
        startOn(server.account());
        Form1->BitBtn2Click();
        QCOMPARE(Form1->list->rows(), 4);
        Form1->list->setCell(1, MessageList::Mark, QStringLiteral("1"));
        Form1->list->setCell(3, MessageList::Mark, QStringLiteral("1"));
        const int connections = server.connections;
        m_prompter.reset();

        QTimer::singleShot(0, Form1, [] { Form1->BitBtn4Click(); });
        QCOMPARE(runClosingWhen([&] { return server.received("DELE"); }, [] { Form1->Quitter1->trigger(); }), 0);
        QCOMPARE(m_prompter.questions.size(), 1);
        QVERIFY2(m_prompter.infos.isEmpty(), qPrintable(m_prompter.infos.join(QLatin1Char('|'))));
        QVERIFY(m_prompter.errors.isEmpty());
        QVERIFY(!server.received("QUIT"));
        QCOMPARE(server.mailbox, box);
        QCOMPARE(server.connections, connections + 1);
    }

    // "Quitter" from the tray during a scan, as one ends or between two, while new mail keeps the
    // idle watch starting them back to back: every time the event loop is left, the watch off.
    void quitDuringBackToBackScans()
    {
        DovecotServer dovecot;
        QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText()));
        setTrayAvailabilityCheck([] { return true; });
        const auto noTray = qScopeGuard([] { setTrayAvailabilityCheck(nullptr); });
        for (int trial = 0; trial < 18; ++trial) {
            enum When { DuringAScan, AsAScanEnds, BetweenScans } const when = When(trial % 3);
            dovecot.setMessages(mailfactory::realisticMailbox(40));
            startOn(dovecot.imapAccount());
            Form1->BitBtn2Click();
            Form1->BitBtn6Click();
            NewMailWatcher *watcher = Form1->watcher;
            watcher->setTiming({.settleMs = 0, .longestWaitMs = 0, .spacingMs = 0, .perMinute = 0}); // a check each
            QTRY_VERIFY(watcher->idling());
            int scans = 0;
            connect(Form1, &TForm1::scanEnded, [&] { ++scans; });
            QTimer mail;
            connect(&mail, &QTimer::timeout, [&] { dovecot.addMessage(mailfactory::realisticMailbox(1).first()); });
            mail.start(20);
            // Each scan finds new mail: its beep is one of its last steps, which let events in.
            m_prompter.atBeep = [&, clicked = false]() mutable {
                if (when == AsAScanEnds && scans >= trial / 3 % 3 && !std::exchange(clicked, true))
                    QMetaObject::invokeMethod(Form1->Quitter1, &QAction::trigger, Qt::QueuedConnection);
            };
            const auto ready = [&] { return when != AsAScanEnds && scans > trial / 3 % 3 && ServerOperation::busy() == (when == DuringAScan); };
            QVERIFY2(runClosingWhen(ready, [] { Form1->Quitter1->trigger(); }) == 0, qPrintable(QString::number(trial)));
            QCOMPARE(watcher->state(), NewMailWatcher::State::Off);
            m_prompter.reset();
            destroyWindows();
        }
    }
};

QTEST_MAIN(ClosingTest)
#include "test_closing.moc"
