// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>
#include <QStandardPaths>
#include <QProcess>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <memory>

#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"
#include "tray/Tray.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

// The tray icon, its menu and the minute ticks, on the real main window. The offscreen
// platform has no notification area, so the cases say whether one is there.
class TrayTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> m_w;
    RecordingPrompter m_prompter;

    static bool withTray() { return true; }
    static bool withoutTray() { return false; }

    // A window past its first show, as right after a start-up scan that got through (its
    // connection fields stay empty: a scan stops at once).
    std::unique_ptr<TForm1> shownWindow()
    {
        auto form = std::make_unique<TForm1>(DesignWorkArea);
        form->showMaximized();
        [&] { QTRY_VERIFY(!form->firstShow); }();
        // One more turn: the show step itself has run, not just the first-show actions.
        [&] { QTRY_COMPARE(form->normalGridHeight, form->SG1->height()); }();
        form->check.scanStop.clear();
        form->check.minutesSinceCheck = 0;
        return form;
    }

    static bool iconPresent(const TForm1 &form) { return form.trayIcon && form.trayIcon->isVisible(); }

    static QImage shown(const TForm1 &form) { return form.trayIcon->icon().pixmap(16, 16).toImage(); }
    static QImage steady(const TForm1 &form) { return form.Image1->pixmap().toImage(); }
    static QImage alert(const TForm1 &form) { return form.Image2->pixmap().toImage(); }

private slots:
    void init()
    {
        m_w = std::make_unique<WindowFixture>();
        QVERIFY(m_w->prepareFolders());
        m_prompter.reset();
        setTrayAvailabilityCheck(&TrayTest::withTray);
    }

    void cleanup()
    {
        setTrayAvailabilityCheck(nullptr);
        m_w.reset();
    }

    void reductionShowsTheMinutesInTheTip_data()
    {
        QTest::addColumn<int>("counter");
        QTest::addColumn<QString>("tip");
        QTest::newRow("right after a check") << 0 << QStringLiteral("Courrier vérifié il y a moins de 1 minute");
        QTest::newRow("three ticks later") << 3 << QStringLiteral("Courrier vérifié il y a moins de 4 minutes");
    }

    void reductionShowsTheMinutesInTheTip()
    {
        QFETCH(int, counter);
        QFETCH(QString, tip);
        auto form = shownWindow();
        form->check.minutesSinceCheck = counter;
        form->StatusBar1->showMessage(QStringLiteral("Courrier vérifié il y a moins d'une minute"));

        form->BitBtn6->click();
        QVERIFY(form->isHidden());
        QVERIFY(iconPresent(*form));
        QCOMPARE(form->check.trayTipText, tip);
        QCOMPARE(form->trayIcon->toolTip(), tip);
        QCOMPARE(shown(*form), steady(*form));
        // The status line keeps its own count.
        QCOMPARE(form->StatusBar1->currentMessage(), QStringLiteral("Courrier vérifié il y a moins d'une minute"));
        QVERIFY(form->Timer2->isActive());
        QVERIFY(m_prompter.errors.isEmpty());

        // A second press on the hidden window changes nothing.
        form->check.minuteCounter = 5;
        form->BitBtn6Click();
        QCOMPARE(form->check.trayTipText, tip);
    }

    // The six ticks after a check, with the window in the tray and shown. The connection
    // fields are empty: each re-scan stops early with a beep, and from then on the ticks say
    // so, never that the mail was checked.
    void minuteTicksCountToTheRescan()
    {
        auto form = shownWindow();
        form->BitBtn6->click();
        QVERIFY(iconPresent(*form));
        const QRegularExpression stopped(QStringLiteral("^Relève impossible à \\d\\d:\\d\\d : compte de réception incomplet$"));
        const int beeps = m_prompter.beeps;
        for (int round = 0; round < 2; ++round) {
            for (int tick = 1; tick <= 5; ++tick) {
                form->Timer2Timer();
                QCOMPARE(form->check.minuteCounter, tick);
                const QString text = form->StatusBar1->currentMessage();
                QVERIFY2(round == 0 ? text == timeText(tick + 1) : stopped.match(text).hasMatch(), qPrintable(text));
                QCOMPARE(form->check.trayTipText, text);
                QCOMPARE(form->trayIcon->toolTip(), text);
            }
            QCOMPARE(m_prompter.beeps, beeps + round);
            form->Timer2Timer();
            QCOMPARE(m_prompter.beeps, beeps + round + 1);
            QCOMPARE(form->check.minuteCounter, 0);
            QVERIFY2(stopped.match(form->StatusBar1->currentMessage()).hasMatch(),
                     qPrintable(form->StatusBar1->currentMessage()));
            QCOMPARE(form->trayIcon->toolTip(), form->StatusBar1->currentMessage());
        }
        QVERIFY(form->isHidden());

        // Shown, the ticks go on writing the status line; the icon is gone.
        form->Restaurer1->trigger();
        QTRY_VERIFY(!iconPresent(*form));
        form->Timer2Timer();
        QVERIFY(stopped.match(form->StatusBar1->currentMessage()).hasMatch());
        QVERIFY(!iconPresent(*form));

        QVERIFY(m_prompter.errors.isEmpty());
    }

    void iconFollowsTheBlink()
    {
        auto form = shownWindow();

        // Modify and delete with no icon do nothing.
        trayUpdate(*form, TrayRequest::Modify);
        trayUpdate(*form, TrayRequest::Delete);
        QVERIFY(!iconPresent(*form));

        // An add alone: a blank icon, no tip.
        trayUpdate(*form, TrayRequest::Add);
        QVERIFY(iconPresent(*form));
        QVERIFY(form->trayIcon->toolTip().isEmpty());
        QVERIFY(shown(*form) != steady(*form));
        trayUpdate(*form, TrayRequest::Delete);
        QVERIFY(!iconPresent(*form));

        // A scan in the shown window left the signal on in its alert phase: the icon still
        // arrives steady in the tray, and stays so.
        form->Timer1->start();
        form->check.blinkPhase = false;
        form->check.trayTipText = QString(200, QLatin1Char('x'));
        form->BitBtn6->click();
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(shown(*form), steady(*form));
        form->check.trayTipText = QString(200, QLatin1Char('x'));
        trayUpdate(*form, TrayRequest::Modify);
        QCOMPARE(form->trayIcon->toolTip(), QString(127, QLatin1Char('x')));

        // New mail found in the tray: the two pictures take turns at each tick.
        form->Timer1->start();
        form->check.blinkPhase = true;
        form->Timer1Timer();
        QVERIFY(!form->check.blinkPhase);
        QCOMPARE(shown(*form), alert(*form));
        form->Timer1Timer();
        QCOMPARE(shown(*form), steady(*form));
        form->Timer1Timer();
        QCOMPARE(shown(*form), alert(*form));
        // The timer really ticks the blink.
        const bool phase = form->check.blinkPhase;
        QTRY_VERIFY(form->check.blinkPhase != phase);

        // A left click only refreshes; with the timer stopped the picture is steady whatever the phase.
        form->Timer1->stop();
        form->check.blinkPhase = false;
        form->check.trayTipText = QStringLiteral("Courrier vérifié il y a moins de 3 minutes");
        form->TrayMessage(QSystemTrayIcon::Trigger);
        QCOMPARE(shown(*form), steady(*form));
        QCOMPARE(form->trayIcon->toolTip(), form->check.trayTipText);
        QVERIFY(form->isHidden());
        form->TrayMessage(QSystemTrayIcon::MiddleClick);
        form->TrayMessage(QSystemTrayIcon::Unknown);
        QVERIFY(form->isHidden());
        QVERIFY(iconPresent(*form));

        // Shown again: the icon goes and the signal ends.
        form->Timer1->start();
        form->TrayMessage(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(!iconPresent(*form));
        QVERIFY(form->isVisible());
        QVERIFY(!form->Timer1->isActive());
        QVERIFY(m_prompter.errors.isEmpty());
    }

    void reductionClosesThePreviewPane()
    {
        auto form = shownWindow();
        const int normal = form->SG1->height();
        // The pane as a preview leaves it: list shrunk, grey and disabled, fields shown.
        form->SG1->resize(form->SG1->width(), 153);
        form->SG1->setEnabled(false);
        form->setGridColour(QColor(192, 192, 192));
        form->Panel1->hide();
        for (QWidget *w : {static_cast<QWidget *>(form->Label7), static_cast<QWidget *>(form->Label8),
                           static_cast<QWidget *>(form->Label9), static_cast<QWidget *>(form->Label15),
                           static_cast<QWidget *>(form->Edit11), static_cast<QWidget *>(form->Edit12),
                           static_cast<QWidget *>(form->Edit13), static_cast<QWidget *>(form->Edit14),
                           static_cast<QWidget *>(form->Edit17), static_cast<QWidget *>(form->BitBtn3),
                           static_cast<QWidget *>(form->BitBtn5), static_cast<QWidget *>(form->BitBtn8),
                           static_cast<QWidget *>(form->Memo2)})
            w->show();

        form->BitBtn6->click();
        QVERIFY(form->isHidden());
        QVERIFY(form->Label7->isHidden());
        QVERIFY(form->Memo2->isHidden());
        QVERIFY(form->BitBtn8->isHidden());
        QVERIFY(!form->Panel1->isHidden());

        form->Restaurer1->trigger();
        QTRY_VERIFY(!iconPresent(*form));
        QVERIFY(form->isVisible());
        QCOMPARE(form->SG1->height(), normal);
        QVERIFY(form->SG1->isEnabled());
        QCOMPARE(form->gridColour(), TForm1::GridRestColour);
        QVERIFY(!form->Label7->isVisible());
        QCOMPARE(form->StatusBar1->geometry(),
                 QRect(form->SG1->x(), form->SG1->geometry().bottom() + 1 + 5, form->SG1->width(), 19));
    }

    void menuItems()
    {
        auto form = shownWindow();
        QCOMPARE(form->PopupMenu1->actions(), (QList<QAction *>{form->Restaurer1, form->VerifierMails1, form->Quitter1}));
        form->BitBtn6->click();

        // A right click opens the menu at the pointer; the window stays hidden.
        form->TrayMessage(QSystemTrayIcon::Context);
        QTRY_VERIFY(form->PopupMenu1->isVisible());
        QVERIFY(form->isHidden());
        form->PopupMenu1->hide();

        // Checking from the menu leaves the window where it is.
        form->VerifierMails1->trigger();
        QVERIFY(form->isHidden());
        QVERIFY(iconPresent(*form));

        form->Restaurer1->trigger();
        QVERIFY(form->isVisible());
        QTRY_VERIFY(!iconPresent(*form));

        // Quitting from the tray ends without showing the window and leaves no icon.
        form->BitBtn6->click();
        QVERIFY(iconPresent(*form));
        QSignalSpy closed(form.get(), &TForm1::closed);
        QPointer<QSystemTrayIcon> icon = form->trayIcon;
        form->Quitter1->trigger();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!iconPresent(*form));
        QVERIFY(form->isHidden());
        form.reset();
        QVERIFY(icon.isNull());
        QVERIFY(m_prompter.errors.isEmpty());
    }

    // No notification area: the window is minimised instead of hidden and the checks go on.
    void withoutANotificationAreaTheWindowIsMinimised()
    {
        setTrayAvailabilityCheck(&TrayTest::withoutTray);
        auto form = shownWindow();
        form->Timer1->start();
        form->BitBtn6->click();
        QVERIFY(form->isVisible());
        QTRY_VERIFY(form->isMinimized());
        QVERIFY(!iconPresent(*form));
        QVERIFY(form->Timer2->isActive());
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(form->check.trayTipText, timeText(1));
        form->Timer2Timer();
        QCOMPARE(form->StatusBar1->currentMessage(), timeText(2));
        QVERIFY(!iconPresent(*form));
        QVERIFY(m_prompter.errors.isEmpty());

        // A notification area comes later: to the tray, then Restaurer shows the window, even on
        // a real X display without a window manager, where it once came back minimised (run
        // again under Xvfb for that, when there is one).
        if (QGuiApplication::platformName() == QLatin1String("offscreen")
            && !QStandardPaths::findExecutable(QStringLiteral("xvfb-run")).isEmpty()) {
            QProcess x;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            x.setProcessEnvironment(env);
            x.setProcessChannelMode(QProcess::ForwardedChannels);
            x.start(QStringLiteral("xvfb-run"), {QStringLiteral("-a"), QCoreApplication::applicationFilePath(),
                                                 QStringLiteral("withoutANotificationAreaTheWindowIsMinimised")});
            QVERIFY(x.waitForFinished(120000));
            QCOMPARE(x.exitCode(), 0);
        }
        setTrayAvailabilityCheck(&TrayTest::withTray);
        form->BitBtn6->click();
        QVERIFY(form->isHidden());
        form->Restaurer1->trigger();
        QTest::qWait(500); // what the display says of the window once it is mapped
        QVERIFY(form->isVisible());
        QVERIFY(!form->isMinimized());
    }
};

QTEST_MAIN(TrayTest)
#include "test_tray.moc"
