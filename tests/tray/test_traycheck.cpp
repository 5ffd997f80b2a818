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
#include "mailbox/MessageList.h"
#include "support/DovecotServer.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"
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

    // A window past its first show, its fields on the test mailbox, one scan done. The
    // fixture owns it until the case's cleanup.
    TForm1 *checkedWindow()
    {
        if (!m_w->create())
            qFatal("the main window could not be created");
        TForm1 *form = m_w->form.get();
        form->showMaximized();
        [&] { QTRY_COMPARE(form->normalGridHeight, form->SG1->height()); }();
        [&] { QTRY_VERIFY(form->Timer2->isActive()); }();
        m_w->pointAt(m_server->account());
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

    // New mail while in the tray: the sixth tick's scan beeps and starts the blink; the
    // restore ends it.
    void sixthTickFindsNewMailAndBlinks()
    {
        auto form = checkedWindow();
        QCOMPARE(form->lastMessageCount, 2);
        form->BitBtn6->click();
        QVERIFY(form->isHidden());

        m_server->addMessage(mail(3));
        for (int tick = 1; tick <= 5; ++tick)
            form->Timer2Timer();
        QCOMPARE(form->lastMessageCount, 2);
        QCOMPARE(form->trayIcon->toolTip(), timeText(6));
        QVERIFY(!form->Timer1->isActive());

        form->Timer2Timer();
        QCOMPARE(form->lastMessageCount, 3);
        QCOMPARE(m_prompter.beeps, 1);
        QVERIFY(form->Timer1->isActive());
        QCOMPARE(form->minuteCounter, 0);
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
        QCOMPARE(form->list->cell(3, 1), QStringLiteral("Message 3"));
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
        QCOMPARE(form->minuteCounter, 0);
        QCOMPARE(form->StatusBar1->currentMessage(), freshCheckText());

        m_server->addMessage(mail(3));
        for (int tick = 1; tick <= 5; ++tick)
            form->Timer2Timer();
        QCOMPARE(form->lastMessageCount, 2);
        form->Timer2Timer();
        QCOMPARE(form->lastMessageCount, 3);
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
    }

    // "&Vérifier les mails reçus" scans with the window left in the tray.
    void checkFromTheMenu()
    {
        auto form = checkedWindow();
        form->BitBtn6->click();
        m_server->addMessage(mail(3));
        form->VerifierMails1->trigger();
        QCOMPARE(form->lastMessageCount, 3);
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
            QCOMPARE(form->minuteCounter, 0);
            // Not checked yet: the tip keeps the last check's time.
            QCOMPARE(form->trayIcon->toolTip(), timeText(6));
            QCOMPARE(form->lastMessageCount, 2);
        }
        QTRY_COMPARE(form->lastMessageCount, 3);
        QCOMPARE(form->trayIcon->toolTip(), freshCheckText());
        QVERIFY(form->Timer1->isActive());
        QVERIFY(m_prompter.errors.isEmpty());
    }
};

QTEST_MAIN(TrayCheckTest)
#include "test_traycheck.moc"
