// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/Tray.h"

#include <QAction>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "core/EventPump.h"
#include "core/ServerOperation.h"
#include "core/Prompter.h"
#include "scan/HeaderScan.h"
#include "scan/ScanController.h"
#include "tray/Notifier.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"
#include "window/PreviewPane.h"

namespace {

bool (*availabilityCheck)() = nullptr;

// The notification area shows at most this many characters of the tip.
constexpr int TipLength = 127;

bool iconPresent(const TForm1 &form)
{
    return form.trayIcon && form.trayIcon->isVisible();
}

QIcon blankIcon()
{
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    return QIcon(blank);
}


void showWindow(TForm1 &form)
{
    form.showMaximized();
    form.raise();
    form.activateWindow();
}

} // namespace

bool trayAvailable()
{
    return availabilityCheck ? availabilityCheck() : QSystemTrayIcon::isSystemTrayAvailable();
}

void setTrayAvailabilityCheck(bool (*check)()) { availabilityCheck = check; }

QString timeText(int minutes)
{
    return QStringLiteral("Courrier vérifié il y a moins de %1 %2")
        .arg(minutes)
        .arg(minutes == 1 ? QStringLiteral("minute") : QStringLiteral("minutes"));
}

QString freshCheckText() { return QStringLiteral("Courrier vérifié il y a moins d'une minute"); }

bool steadyIconWanted(bool blinkPhase, bool blinkTimerActive) { return blinkPhase || !blinkTimerActive; }

namespace {
// The check time and, after it, what the last scan noted ("Connexion non chiffrée").
QString withNote(const TForm1 &form, const QString &text)
{
    return form.check.scanNote.isEmpty() ? text : text + QStringLiteral(" — ") + form.check.scanNote;
}
} // namespace

void trayUpdate(TForm1 &form, TrayRequest request)
{
    switch (request) {
    case TrayRequest::Add:
        if (!form.trayIcon) {
            form.trayIcon = new QSystemTrayIcon(&form);
            QObject::connect(form.trayIcon, &QSystemTrayIcon::activated, &form, &TForm1::TrayMessage);
        }
        form.trayIcon->setIcon(blankIcon());
        form.trayIcon->setToolTip(QString());
        form.trayIcon->show();
        break;
    case TrayRequest::Modify:
        if (!iconPresent(form))
            return;
        form.trayIcon->setIcon(QIcon(steadyIconWanted(form.check.blinkPhase, form.Timer1->isActive())
                                         ? form.Image1->pixmap()
                                         : form.Image2->pixmap()));
        form.trayIcon->setToolTip(form.check.trayTipText.left(TipLength));
        break;
    case TrayRequest::Delete:
        // Hidden rather than destroyed: a removal can come while the icon's own signal is
        // being handled (a restore from the tray menu that pumps events).
        if (form.trayIcon)
            form.trayIcon->hide();
        break;
    }
}

void reduceToTray(TForm1 &form)
{
    if (!form.isVisible())
        return;
    if (form.pane->isOpen())
        form.pane->close();
    placeInTray(form);
}

void placeInTray(TForm1 &form)
{
    const bool tray = trayAvailable();
    if (tray)
        trayUpdate(form, TrayRequest::Add);
    if (!form.check.scanStop.isEmpty())
        form.check.trayTipText = form.check.scanStop;
    else if (form.check.minutesSinceCheck >= 0)
        form.check.trayTipText = withNote(form, timeText(form.check.minutesSinceCheck + 1));
    // The signal goes off before the picture is chosen, so the icon arrives steady.
    form.Timer1->stop();
    if (tray)
        trayUpdate(form, TrayRequest::Modify);
    pumpEvents();
    // Hiding with no notification area would leave neither a window nor an icon to come back by.
    if (tray)
        form.hide();
    else
        form.showMinimized();
}

void restoreFromTray(TForm1 &form)
{
    // Becoming visible runs the show step, which removes the icon and ends the signal.
    showWindow(form);
    form.statusBarPlacement();
}

void verifyFromTray(TForm1 &form)
{
    // Also when it stopped before it began (empty fields) or waits for the login delay; one
    // deferred behind a running operation says how it went once it has run.
    if ((!requestScan(form) || !ServerOperation::scanDeferred()) && !checkStatusText(form).isEmpty())
        showCheckTime(form, checkStatusText(form));
}

void quitFromTray(TForm1 &form)
{
    // The icon goes at once, even if something keeps the process a moment longer.
    trayUpdate(form, TrayRequest::Delete);
    form.close();
}

void blinkTick(TForm1 &form)
{
    form.check.blinkPhase = !form.check.blinkPhase;
    trayUpdate(form, TrayRequest::Modify);
}

void showCheckTime(TForm1 &form, const QString &text)
{
    form.StatusBar1->showMessage(text);
    form.check.trayTipText = text;
    trayUpdate(form, TrayRequest::Modify);
}

QString checkStatusText(const TForm1 &form)
{
    if (!form.check.scanStop.isEmpty())
        return form.check.scanStop;
    if (form.check.minutesSinceCheck < 0)
        return QString();
    return withNote(form, form.check.minutesSinceCheck == 0 ? freshCheckText() : timeText(form.check.minutesSinceCheck + 1));
}

void scanEnded(TForm1 &form, int)
{
    const bool gotThrough = form.check.scanStop.isEmpty();
    if (gotThrough)
        form.check.minutesSinceCheck = 0;
    const int count = form.check.lastMessageCount;
    const QList<int> fresh = form.check.scannedMail.newRows(*form.list, count);
    // A scan that did not get through saw only what it read; what it found new among that is
    // announced now all the same (the next scan will know it), as the beep and the blink do.
    const SeenMail now = SeenMail::of(*form.list, count);
    form.check.scannedMail = gotThrough ? now : form.check.scannedMail.with(now);
    if (!fresh.isEmpty()) {
        form.Timer1->start();
        prompter().beep();
    }
    if (gotThrough || !fresh.isEmpty())
        signalNewMail(form, fresh);
    form.StatusBar1->showMessage(checkStatusText(form));
    pumpEvents();
    form.check.trayTipText = checkStatusText(form);
    trayUpdate(form, TrayRequest::Modify);
    form.check.minuteCounter = 0;
}

void periodicTick(TForm1 &form)
{
    if (form.check.minutesSinceCheck >= 0)
        ++form.check.minutesSinceCheck;
    if (form.scans->holding()) {
        // It runs once the delay has passed; its end starts the count again.
        form.check.minuteCounter = qMin(form.check.minuteCounter + 1, 5);
    } else if (form.check.minuteCounter > 4) {
        form.check.minuteCounter = 0;
        if (!requestScan(form))
            form.check.minuteCounter = 5;
        // A scan deferred behind a running operation says how it went once it has run.
        else if (ServerOperation::scanDeferred())
            return;
    } else {
        ++form.check.minuteCounter;
    }
    // Never a check time for a check that did not happen: before the first scan nothing.
    if (const QString text = checkStatusText(form); !text.isEmpty())
        showCheckTime(form, text);
}

void trayActivated(TForm1 &form, QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        trayUpdate(form, TrayRequest::Modify);
        break;
    case QSystemTrayIcon::DoubleClick:
        restoreFromTray(form);
        break;
    case QSystemTrayIcon::Context:
        form.PopupMenu1->popup(QCursor::pos());
        // A menu that could not open would leave the user with nothing to act on.
        if (!form.PopupMenu1->isVisible())
            showWindow(form);
        break;
    default:
        break;
    }
}
