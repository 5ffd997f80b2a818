// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <memory>

#include "core/ServerOperation.h"
#include "protocol/CertificateTrust.h"
#include "mailbox/MessageList.h"
#include "mailbox/NewMailWatcher.h"
#include "support/DovecotServer.h"
#include "support/FakeImapServer.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"
#include "tray/NewMailWatch.h"
#include "tray/Tray.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

// The periodic check and the tray menu against a real mailbox: the re-scan at the sixth tick,
// the new-mail signal it starts, and the cycle that every scan resets.
class TrayCheckTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> m_w;
    std::unique_ptr<DovecotServer> m_server;
    RecordingPrompter m_prompter;

    static bool withTray() { return true; }

    static QByteArray mail(int n)
    {
        mailfactory::Mail m;
        m.subject = QStringLiteral("Message %1").arg(n);
        m.text = QStringLiteral("Texte %1").arg(n);
        return mailfactory::build(m);
    }

    // A window past its first show, its fields on the test mailbox (or account), one scan done,
    // its watch of new mail on timing. The fixture owns it until the case's cleanup.
    TForm1 *checkedWindow(MailAccount account = {}, const NewMailWatcher::Timing &timing = {})
    {
        if (!m_w->create())
            qFatal("the main window could not be created");
        TForm1 *form = m_w->form.get();
        form->showMaximized();
        [&] { QTRY_COMPARE(form->normalGridHeight, form->SG1->height()); }();
        [&] { QTRY_VERIFY(form->Timer2->isActive()); }();
        form->watcher->setTiming(timing);
        m_w->pointAt(account.host.isEmpty() ? m_server->account() : account);
        form->BitBtn2Click();
        m_prompter.reset();
        return form;
    }

    static bool iconPresent(const TForm1 &form) { return form.trayIcon && form.trayIcon->isVisible(); }

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<DovecotServer>();
        QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
    }

    void cleanupTestCase() { m_server.reset(); }

    void init()
    {
        m_w = std::make_unique<WindowFixture>();
        QVERIFY(m_w->prepareFolders());
        m_server->setMessages({mail(1), mail(2)});
        m_prompter.reset();
        setTrayAvailabilityCheck(&TrayCheckTest::withTray);
    }

    void cleanup()
    {
        // The window goes while the notification area is still there, as at the end of a case.
        m_w.reset();
        setTrayAvailabilityCheck(nullptr);
    }

    // New mail while in the tray, as another message is filed away (the count stays as it
    // was): the sixth tick's scan beeps and starts the blink; the restore ends it.
    void sixthTickFindsNewMailAndBlinks()
    {
        auto form = checkedWindow();
        QCOMPARE(form->check.lastMessageCount, 2);
        form->BitBtn6->click();
        QVERIFY(form->isHidden());

        m_server->removeMessage(1);
        m_server->addMessage(mail(3));
        for (int tick = 1; tick <= 5; ++tick)
            form->Timer2Timer();
        QCOMPARE(form->list->cell(1, 1), QStringLiteral("Message 1"));
        QCOMPARE(form->trayIcon->toolTip(), timeText(6));
        QVERIFY(!form->Timer1->isActive());

        form->Timer2Timer();
        QCOMPARE(form->list->cell(2, 1), QStringLiteral("Message 3"));
        QCOMPARE(m_prompter.beeps, 1);
        QVERIFY(form->Timer1->isActive());
        QCOMPARE(form->check.minuteCounter, 0);
        QCOMPARE(form->trayIcon->toolTip(), freshCheckText());
        QCOMPARE(form->StatusBar1->currentMessage(), freshCheckText());
        QVERIFY(form->isHidden());
        // The blink really runs: both pictures come up.
        const QImage steady = form->Image1->pixmap().toImage(), alert = form->Image2->pixmap().toImage();
        QTRY_COMPARE(form->trayIcon->icon().pixmap(16, 16).toImage(), alert);
        QTRY_COMPARE(form->trayIcon->icon().pixmap(16, 16).toImage(), steady);

        // Nothing new at the next re-scan: no beep; the signal stays on until the restore.
        for (int tick = 1; tick <= 6; ++tick)
            form->Timer2Timer();
        QCOMPARE(m_prompter.beeps, 1);
        QVERIFY(form->Timer1->isActive());

        form->TrayMessage(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(!iconPresent(*form));
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(form->check.lastMessageCount, 2);
        QVERIFY(m_prompter.infos.isEmpty());
        QVERIFY(m_prompter.errors.isEmpty());
    }

    // A press of the receive button after three ticks: the next re-scan is six ticks after it.
    void anyScanRestartsTheCycle()
    {
        auto form = checkedWindow();
        for (int tick = 1; tick <= 3; ++tick)
            form->Timer2Timer();
        QCOMPARE(form->StatusBar1->currentMessage(), timeText(4));
        form->BitBtn2->click();
        QCOMPARE(form->check.minuteCounter, 0);
        QCOMPARE(form->StatusBar1->currentMessage(), freshCheckText());

        m_server->addMessage(mail(3));
        for (int tick = 1; tick <= 5; ++tick)
            form->Timer2Timer();
        QCOMPARE(form->check.lastMessageCount, 2);
        form->Timer2Timer();
        QCOMPARE(form->check.lastMessageCount, 3);
        // Found with the window shown: the signal is on but there is no icon; the next
        // reduction ends it, so the icon arrives steady.
        QVERIFY(form->Timer1->isActive());
        QVERIFY(!iconPresent(*form));
        form->BitBtn6->click();
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(form->trayIcon->icon().pixmap(16, 16).toImage(), form->Image1->pixmap().toImage());
    }

    // A failed re-scan is no check: the ticks keep saying it failed, and when, until a scan
    // gets through; the minutes then count from that one.
    void failureIsNoCheck()
    {
        auto form = checkedWindow();
        form->BitBtn6->click();
        form->Edit16->setText(QStringLiteral("faux"));
        const QRegularExpression failed(QStringLiteral("^Échec de la relève à \\d\\d:\\d\\d : Identification "
                                                       "refusée par le serveur \\(mot de passe ou adresse\\)$"));
        for (int tick = 1; tick <= 19; ++tick) {
            form->Timer2Timer();
            const QString tip = form->trayIcon->toolTip();
            QCOMPARE(form->StatusBar1->currentMessage(), tip);
            // Two failed re-scans (ticks 6 and 12), a good one at tick 18.
            QVERIFY2(tick < 6 ? tip == timeText(tick + 1) : tick < 18 ? failed.match(tip).hasMatch()
                                                                     : tip == (tick == 18 ? freshCheckText() : timeText(2)),
                     qPrintable(tip));
            if (tick == 12)
                form->Edit16->setText(m_server->password());
        }
        // Nobody asked for those: no box, which would hold every later check until answered.
        QVERIFY(m_prompter.infos.isEmpty());
        // A scan the user started: its failure is on the line while its box waits, ticks or not.
        form->Edit16->setText(QStringLiteral("faux"));
        QString line;
        m_prompter.whileShown = [&](const QString &) { form->Timer2Timer(); line = form->StatusBar1->currentMessage(); };
        form->BitBtn2Click();
        QVERIFY2(failed.match(line).hasMatch(), qPrintable(line));
    }

    // "&Vérifier les mails reçus" scans with the window left in the tray.
    void checkFromTheMenu()
    {
        auto form = checkedWindow();
        form->BitBtn6->click();
        m_server->addMessage(mail(3));
        form->VerifierMails1->trigger();
        QCOMPARE(form->check.lastMessageCount, 3);
        QVERIFY(form->isHidden());
        QVERIFY(form->Timer1->isActive());
        QCOMPARE(form->trayIcon->toolTip(), freshCheckText());
        QCOMPARE(m_prompter.beeps, 1);
    }

    // The sixth tick during another server operation: its scan waits for the end of that one.
    void rescanDuringAnOperationWaits()
    {
        auto form = checkedWindow();
        form->BitBtn6->click();
        m_server->addMessage(mail(3));
        {
            const ServerOperation running;
            for (int tick = 1; tick <= 6; ++tick)
                form->Timer2Timer();
            QCOMPARE(form->check.minuteCounter, 0);
            // Not checked yet: the tip keeps the last check's time.
            QCOMPARE(form->trayIcon->toolTip(), timeText(6));
            QCOMPARE(form->check.lastMessageCount, 2);
        }
        QTRY_COMPARE(form->check.lastMessageCount, 3);
        QCOMPARE(form->trayIcon->toolTip(), freshCheckText());
        QVERIFY(form->Timer1->isActive());
        QVERIFY(m_prompter.errors.isEmpty());
    }

    // IMAP with IDLE: new mail starts the check at once, no tick needed, and the idle connection
    // holds no operation up; the watch ends when the fields hold another account.
    void newMailAtOnce()
    {
        auto form = checkedWindow(m_server->imapAccount(), {.settleMs = 100, .spacingMs = 0});
        NewMailWatcher *watcher = form->watcher;
        QTRY_VERIFY(watcher->idling());
        QVERIFY(!ServerOperation::busy());
        QSignalSpy checks(form, &TForm1::scanEnded);
        // While the window is shown the list is not rebuilt under the user's hands: the mail
        // waits for the window to go to the tray. It comes as one leaves: the count stays.
        m_server->removeMessage(1);
        m_server->addMessage(mail(3));
        QTest::qWait(1500);
        QCOMPARE(checks.count(), 0);
        form->BitBtn6->click();
        QTRY_COMPARE(checks.count(), 1);
        QCOMPARE(form->list->cell(2, 1), QStringLiteral("Message 3"));
        QVERIFY(form->Timer1->isActive());
        QCOMPARE(m_prompter.beeps, 1);
        {
            // During another operation the check waits for its end.
            const ServerOperation running;
            m_server->addMessage(mail(4));
            QTest::qWait(1000);
            QCOMPARE(checks.count(), 1);
        }
        QTRY_COMPARE(checks.count(), 2);
        m_w->pointAt(m_server->account());
        QCOMPARE(watcher->state(), NewMailWatcher::State::Off);
        QVERIFY(!watcher->idling());
    }

    // A server announcing new mail without end: its announcements are gathered into checks, no
    // more a minute than the bound (three here), not one login and scan each.
    void endlessAnnouncements()
    {
        FakeImapServer fake;
        fake.script["CAPABILITY"] = "* CAPABILITY IMAP4rev1 STARTTLS IDLE\r\n$ OK done";
        fake.offersStls = true;
        QVERIFY(fake.start());
        MailAccount account = fake.account();
        account.protocol = MailAccount::Protocol::Imap;
        auto form = checkedWindow(account, {.settleMs = 200, .longestWaitMs = 400, .spacingMs = 100, .perMinute = 3});
        QTRY_VERIFY(form->watcher->idling());
        form->BitBtn6->click();
        const int logins = fake.connections;
        int exists = 3;
        QTimer announcer;
        connect(&announcer, &QTimer::timeout, [&] { fake.pushIdling("* " + QByteArray::number(++exists) + " EXISTS\r\n"); });
        announcer.start(20);
        QTRY_COMPARE(fake.connections - logins, 3);
        QTest::qWait(1000);
        QCOMPARE(fake.connections - logins, 3);
    }

    // A certificate nobody confirmed: no watch and no question, the timer goes on; once it is
    // remembered, as a scan the user started remembers it, the account is watched.
    void certificateToConfirm()
    {
        DovecotServer other;
        QVERIFY2(other.start() && other.replaceCertificate(), qPrintable(other.errorText()));
        m_prompter.answers = {false}; // the window's own scan: the user does not confirm it
        auto form = checkedWindow(other.imapAccount());
        NewMailWatcher *watcher = form->watcher;
        QTRY_COMPARE(watcher->state(), NewMailWatcher::State::GaveUp);
        QVERIFY(m_prompter.questions.isEmpty());
        QVERIFY(form->Timer2->isActive());
        certificates::remember(certificates::storePath(form->dataFolder),
                               {other.host(), other.imapPort(), QSslCertificate::fromPath(other.certificatePath()), {}});
        m_w->pointAt(m_server->account());
        m_w->pointAt(other.imapAccount());
        form->BitBtn2Click();
        QTRY_VERIFY(watcher->idling());
    }

    // The idle connection against faults: a drop is followed by a new connection after a pause
    // that doubles, up to its cap, and starts again once a connection has held; DONE and LOGOUT
    // when the account changes. No IDLE, or no TLS for the password: no watch, nothing retried.
    void watchFaults_data()
    {
        QTest::addColumn<QByteArray>("capabilities");
        QTest::addColumn<QList<int>>("pauses");
        QTest::newRow("dropped") << QByteArray("STARTTLS IDLE") << QList<int>{100, 200, 400, 400, 100};
        QTest::newRow("without IDLE") << QByteArray("STARTTLS") << QList<int>{};
        QTest::newRow("without TLS") << QByteArray("IDLE") << QList<int>{};
    }

    void watchFaults()
    {
        QFETCH(QByteArray, capabilities);
        QFETCH(QList<int>, pauses);
        FakeImapServer fake;
        fake.script["CAPABILITY"] = "* CAPABILITY IMAP4rev1 " + capabilities + "\r\n$ OK done";
        fake.offersStls = capabilities.contains("STARTTLS");
        QVERIFY(fake.start());
        MailAccount account = fake.account();
        account.protocol = MailAccount::Protocol::Imap;
        auto form = checkedWindow(account, {100, 400, 3000, 50});
        NewMailWatcher *watcher = form->watcher;
        QSignalSpy retries(watcher, &NewMailWatcher::retrying);
        if (pauses.isEmpty()) {
            QTRY_COMPARE(watcher->state(), NewMailWatcher::State::Unsuited);
            const auto sent = [&](const QByteArray &verb) {
                return std::count_if(fake.commands.cbegin(), fake.commands.cend(), [&](auto &c) { return c.contains(verb); });
            };
            QCOMPARE(sent(" IDLE"), 0);
            // The window's own scan logs in as the TLS rule lets it; the watch only over TLS.
            QCOMPARE(sent(" LOGIN "), fake.offersStls ? 2 : 1);
            return;
        }
        for (int i = 0; i < pauses.size(); ++i) {
            QTRY_VERIFY(watcher->idling());
            if (i == pauses.size() - 1)
                QTest::qWait(3200);
            fake.dropClients();
            QTRY_COMPARE(retries.count(), i + 1);
        }
        QCOMPARE(retries.count(), pauses.size());
        for (int i = 0; i < pauses.size(); ++i)
            QCOMPARE(retries.at(i).at(0).toInt(), pauses.at(i));
        QTRY_VERIFY(watcher->idling());
        m_w->pointAt(m_server->account());
        QTRY_VERIFY(fake.commands.contains("DONE") && fake.commands.last().endsWith(" LOGOUT"));
    }
};

QTEST_MAIN(TrayCheckTest)
#include "test_traycheck.moc"
