// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QAction>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "mailbox/NewMailWatcher.h"
#include "support/DovecotServer.h"
#include "support/FakeNotifications.h"
#include "support/FakePop3Server.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"
#include "tray/NewMailWatch.h"
#include "tray/Notifier.h"
#include "tray/Tray.h"
#include "window/PelicordeFP.h"

// New-mail notifications as a desktop shows them: a real mailbox, a message bus of the test's
// own and a stand-in notification service on it that records each call.
class NotificationsTest : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;
    std::unique_ptr<FakeNotificationService> m_service;
    std::unique_ptr<DovecotServer> m_server;
    std::unique_ptr<WindowFixture> m_w;
    RecordingPrompter m_prompter;
    static inline QList<QWidget *> alerts;

    static bool withTray() { return true; }
    static bool withoutTray() { return false; }
    static void recordAlert(QWidget *window) { alerts << window; }

    static QByteArray mail(int n, const QByteArray &from = "Alice Martin <alice@example.org>")
    {
        mailfactory::Mail m;
        m.from = from;
        m.subject = QStringLiteral("Message %1").arg(n);
        m.text = QStringLiteral("Texte %1").arg(n);
        return mailfactory::build(m);
    }
    static QByteArray spam(int n) { return mail(n, "Promo <offres@pub-louche.example>"); }

    // A window past its first show, on the test mailbox (two messages, one scan done), with a
    // blacklist that catches the spam sender.
    TForm1 *checkedWindow(bool imap = false)
    {
        if (!m_w->create())
            qFatal("the main window could not be created");
        TForm1 *form = m_w->form.get();
        QFile blacklist(form->dataFolder + QStringLiteral("/Liste-noire.txt"));
        if (!blacklist.open(QIODevice::WriteOnly) || blacklist.write("pub-louche\t00/00/0000\r\n") < 0)
            qFatal("no blacklist");
        blacklist.close();
        form->showMaximized();
        [&] { QTRY_VERIFY(form->Timer2->isActive()); }();
        m_w->pointAt(imap ? m_server->imapAccount() : m_server->account());
        form->BitBtn2Click();
        m_prompter.reset();
        return form;
    }

    // Another window takes the focus, as when the user works elsewhere.
    static void lookAway(TForm1 *form, QWidget &elsewhere)
    {
        elsewhere.show();
        elsewhere.activateWindow();
        QTRY_VERIFY(!form->isActiveWindow());
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_bus.start(), qPrintable(m_bus.errorText()));
        // Before anything of the program connects to the session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
        m_service = std::make_unique<FakeNotificationService>(m_bus.address());
        QVERIFY(m_service->registerService());
        m_server = std::make_unique<DovecotServer>();
        QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
        setAlertFunction(&NotificationsTest::recordAlert);
    }

    void cleanupTestCase()
    {
        setAlertFunction(nullptr);
        m_server.reset();
        m_service.reset();
    }

    void init()
    {
        m_w = std::make_unique<WindowFixture>();
        QVERIFY(m_w->prepareFolders());
        m_server->setMessages({mail(1), mail(2)});
        m_service->received.clear();
        m_service->closed.clear();
        m_prompter.reset();
        alerts.clear();
        setTrayAvailabilityCheck(&NotificationsTest::withTray);
    }

    void cleanup()
    {
        m_w.reset();
        qunsetenv("XDG_ACTIVATION_TOKEN");
        setTrayAvailabilityCheck(nullptr);
    }

    // In the tray: the icon blinks and the desktop shows what came in; its Restaurer button
    // brings the window back, and the notification goes once the window is back.
    void newMailInTheTray()
    {
        auto form = checkedWindow();
        form->BitBtn6->click();
        QVERIFY(form->isHidden());
        QWidget elsewhere;
        lookAway(form, elsewhere);

        m_server->addMessage(mail(3));
        m_server->addMessage(spam(4));
        m_server->addMessage(spam(5));
        form->VerifierMails1->trigger();
        QVERIFY(form->Timer1->isActive());
        QCOMPARE(m_prompter.beeps, 1);
        QTRY_COMPARE(m_service->received.size(), 1);
        const auto shown = m_service->received.first();
        QCOMPARE(shown.appName, QStringLiteral("Pelicorde"));
        QCOMPARE(shown.summary, QStringLiteral("Pelicorde"));
        QCOMPARE(shown.body, QStringLiteral("3 nouveaux messages, dont 2 marqués par la liste noire"));
        QCOMPARE(shown.appIcon, QStringLiteral("pelicorde"));
        QCOMPARE(shown.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("pelicorde"));
        QCOMPARE(shown.actions, (QStringList{"default", "Restaurer", "restaurer", "Restaurer"}));
        QCOMPARE(shown.replacesId, 0u);
        // The window is in the notification area, not on the task bar.
        QVERIFY(alerts.isEmpty());

        // More mail before the user came back: the same notification, updated with all the
        // user has not seen.
        m_server->removeMessage(1); // one they saw leaves meanwhile: the count stays as it was
        m_server->addMessage(mail(6));
        form->VerifierMails1->trigger();
        QTRY_COMPARE(m_service->received.size(), 2);
        QCOMPARE(m_service->received.last().replacesId, shown.id);
        QCOMPARE(m_service->received.last().body, QStringLiteral("4 nouveaux messages, dont 2 marqués par la liste noire"));

        m_service->sendActivationToken(shown.id, QStringLiteral("jeton-du-clic"));
        m_service->invokeAction(shown.id, QStringLiteral("restaurer"));
        QTRY_VERIFY(form->isVisible());
        QCOMPARE(qgetenv("XDG_ACTIVATION_TOKEN"), QByteArray("jeton-du-clic"));
        QTRY_VERIFY(!form->Timer1->isActive());
        QVERIFY(!(form->trayIcon && form->trayIcon->isVisible()));
        QTRY_COMPARE(m_service->closed, QList<uint>{shown.id});
        QVERIFY(m_prompter.infos.isEmpty());
        QVERIFY(m_prompter.errors.isEmpty());
    }

    // Twenty messages a moment apart, while in the tray over IMAP: the idle watch gathers them
    // into one check, and one notification tells them all.
    void burstIsOneNotification()
    {
        auto form = checkedWindow(true);
        form->watcher->setTiming({.settleMs = 1500});
        QTRY_VERIFY(form->watcher->idling());
        form->BitBtn6->click();
        QWidget elsewhere;
        lookAway(form, elsewhere);
        QSignalSpy checks(form, &TForm1::scanEnded);
        for (int n = 3; n <= 22; ++n, QTest::qWait(50))
            m_server->addMessage(n % 4 ? mail(n) : spam(n));
        QTRY_COMPARE_WITH_TIMEOUT(checks.count(), 1, 10000);
        QTest::qWait(3000);
        QCOMPARE(checks.count(), 1);
        QCOMPARE(m_service->received.size(), 1);
        QCOMPARE(m_service->received.first().body, QStringLiteral("20 nouveaux messages, dont 5 marqués par la liste noire"));
    }

    // No notification area: "Réduire en icone" minimises, so the notification and the
    // window's urgency hint carry the news; a click on the notification restores.
    void newMailWithoutATray()
    {
        setTrayAvailabilityCheck(&NotificationsTest::withoutTray);
        auto form = checkedWindow();
        form->BitBtn6->click();
        QTRY_VERIFY(form->isMinimized());

        m_server->addMessage(spam(3));
        for (int tick = 1; tick <= 6; ++tick)
            form->Timer2Timer();
        QCOMPARE(form->check.lastMessageCount, 3);
        QCOMPARE(m_prompter.beeps, 1);
        QCOMPARE(alerts, QList<QWidget *>{form});
        QTRY_COMPARE(m_service->received.size(), 1);
        QCOMPARE(m_service->received.first().body, QStringLiteral("1 nouveau message, marqué par la liste noire"));

        m_service->invokeAction(m_service->received.first().id, QStringLiteral("default"));
        QTRY_VERIFY(!form->isMinimized());
        QVERIFY(form->isVisible());
    }

    // A user at the window sees the list grow, and the start-up scan finds the mailbox as it
    // stands: only mail that comes while the user is elsewhere is announced.
    void onlyMailTheUserHasNotSeen()
    {
        auto form = checkedWindow();
        QTRY_VERIFY(form->isActiveWindow());
        m_server->addMessage(mail(3));
        form->BitBtn2->click();
        QCOMPARE(form->check.lastMessageCount, 3);

        QWidget elsewhere;
        lookAway(form, elsewhere);
        // As at start-up, behind another window: the periodic check has not started yet.
        form->Timer2->stop();
        m_server->addMessage(mail(4));
        form->BitBtn2Click();
        QCOMPARE(form->check.lastMessageCount, 4);
        form->Timer2->start();

        m_server->addMessage(mail(5));
        m_server->addMessage(mail(6));
        form->BitBtn2Click();
        QCOMPARE(m_prompter.beeps, 3);
        QTRY_COMPARE(m_service->received.size(), 1);
        QCOMPARE(m_service->received.first().body, QStringLiteral("2 nouveaux messages"));
        QCOMPARE(alerts, QList<QWidget *>{form});
    }

    // With a TLS favourite nothing is scanned at start: the first periodic scan finds the
    // mailbox as it stands, which is no news.
    void firstScanIsNoNews()
    {
        QVERIFY(m_w->create());
        TForm1 *form = m_w->form.get();
        form->showMaximized();
        QTRY_VERIFY(form->Timer2->isActive());
        m_w->pointAt(m_server->account());
        QWidget elsewhere;
        lookAway(form, elsewhere);
        for (int tick = 1; tick <= 6; ++tick)
            form->Timer2Timer();
        m_server->addMessage(mail(3));
        form->VerifierMails1->trigger();
        QTRY_COMPARE(m_service->received.size(), 1);
        QCOMPARE(m_service->received.first().body, QStringLiteral("1 nouveau message"));
    }

    // New mail counted by a pass that then fails is announced at once, and only once.
    void newMailInAFailedPass()
    {
        auto form = checkedWindow();
        FakePop3Server fake;
        fake.mailbox << mail(1) << mail(2);
        QVERIFY(fake.start());
        m_w->pointAt(fake.account());
        form->BitBtn6->click();
        fake.mailbox << mail(3);
        fake.breakCommand("TOP", FakePop3Server::Fault::Drop, 2);
        form->VerifierMails1->trigger();
        QTRY_COMPARE(m_service->received.size(), 1);
        QCOMPARE(m_service->received.first().body, QStringLiteral("1 nouveau message"));
        fake.breakCommand("TOP", FakePop3Server::Fault::None, 2);
        form->VerifierMails1->trigger(); // the next pass finds it no longer new
        QTest::qWait(500);
        QCOMPARE(m_service->received.size(), 1);
    }

    // What the user reads, for every mix of new and blacklisted messages.
    void bodyText_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("marked");
        QTest::addColumn<QString>("body");
        QTest::newRow("1, clean") << 1 << 0 << QStringLiteral("1 nouveau message");
        QTest::newRow("1, marked") << 1 << 1 << QStringLiteral("1 nouveau message, marqué par la liste noire");
        QTest::newRow("4, clean") << 4 << 0 << QStringLiteral("4 nouveaux messages");
        QTest::newRow("4, 1 marked") << 4 << 1 << QStringLiteral("4 nouveaux messages, dont 1 marqué par la liste noire");
        QTest::newRow("4, 3 marked") << 4 << 3
                                     << QStringLiteral("4 nouveaux messages, dont 3 marqués par la liste noire");
        QTest::newRow("2, all marked") << 2 << 2 << QStringLiteral("2 nouveaux messages, tous marqués par la liste noire");
    }

    void bodyText()
    {
        QFETCH(int, count);
        QFETCH(int, marked);
        QFETCH(QString, body);
        QVERIFY(m_w->create());
        Notifier notifier(*m_w->form->tray, m_w->form->check);
        notifier.notify(count, marked);
        QTRY_COMPARE(m_service->received.size(), 1);
        QCOMPARE(m_service->received.first().body, body);
    }

    // No notification service on the bus, or no bus at all: the beep and the blink remain.
    void noServiceNothingBreaks()
    {
        m_service->unregisterService();
        auto form = checkedWindow();
        form->BitBtn6->click();
        m_server->addMessage(spam(3));
        form->VerifierMails1->trigger();
        // Answered after the notification call, sent before it on the same connection: that
        // call has met the bus without the service.
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.Notifications")));
        QVERIFY(m_service->registerService());
        QCOMPARE(m_prompter.beeps, 1);
        QVERIFY(form->Timer1->isActive());
        QVERIFY(m_prompter.errors.isEmpty());
        QVERIFY(m_prompter.infos.isEmpty());

        Notifier unconnected(*form->tray, form->check,
                             QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                           QStringLiteral("no-bus")));
        unconnected.notify(2, 1);
        unconnected.withdraw();
        QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));

        // Once back, it is told all the user has not seen.
        m_server->addMessage(mail(4));
        form->VerifierMails1->trigger();
        QTRY_COMPARE(m_service->received.size(), 1);
        QCOMPARE(m_service->received.first().body, QStringLiteral("2 nouveaux messages, dont 1 marqué par la liste noire"));
    }
};

QTEST_MAIN(NotificationsTest)
#include "test_notifications.moc"
