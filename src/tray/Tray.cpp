// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/Tray.h"

#include <QPixmap>

#include "core/EventPump.h"
#include "core/Prompter.h"
#include "core/ServerOperation.h"
#include "mailbox/MessageList.h"
#include "scan/HeaderScan.h"
#include "scan/ScanController.h"
#include "tray/Notifier.h"
#include "tray/TrayWindow.h"
#include "window/PelicordeFP.h"
#include "window/PreviewPane.h"

namespace {

bool (*availabilityCheck)() = nullptr;

// The notification area shows at most this many characters of the tip.
constexpr int TipLength = 127;

QIcon blankIcon()
{
    QPixmap blank(16, 16);
    blank.fill(Qt::transparent);
    return QIcon(blank);
}

// The check time and, after it, what the last scan noted ("Connexion non chiffrée").
QString withNote(const CheckState &check, const QString &text)
{
    return check.scanNote.isEmpty() ? text : text + QStringLiteral(" — ") + check.scanNote;
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

// ---- the handlers: each reads what it needs of the window ----

void trayUpdate(TForm1 &form, TrayRequest request) { updateTrayIcon(*form.tray, form.check, request); }

void reduceToTray(TForm1 &form)
{
    TrayWindow &window = *form.tray;
    if (!window.shown())
        return;
    if (form.pane->isOpen())
        form.pane->close();
    placeInTray(window, form.check);
}

void restoreFromTray(TForm1 &form)
{
    // Becoming visible runs the show step, which removes the icon and ends the signal.
    form.tray->restore();
}

void verifyFromTray(TForm1 &form)
{
    const bool ran = requestScan(form);
    tellRequestedScan(*form.tray, form.check, ran);
}

void quitFromTray(TForm1 &form)
{
    // The icon goes at once, even if something keeps the process a moment longer.
    trayUpdate(form, TrayRequest::Delete);
    form.tray->close();
}

void blinkTick(TForm1 &form)
{
    form.check.blinkPhase = !form.check.blinkPhase;
    trayUpdate(form, TrayRequest::Modify);
}

void periodicTick(TForm1 &form)
{
    minuteTick(*form.tray, form.check, form.scans->holding(), [&form] { return requestScan(form); });
}

void scanEnded(TForm1 &form, int) { endOfCheck(*form.tray, form.check, *form.list); }

void trayActivated(TForm1 &form, QSystemTrayIcon::ActivationReason reason)
{
    trayClicked(*form.tray, form.check, reason);
}

// ---- below the window ----

void updateTrayIcon(TrayWindow &window, const CheckState &check, TrayRequest request)
{
    switch (request) {
    case TrayRequest::Add: {
        QSystemTrayIcon &icon = window.addIcon();
        icon.setIcon(blankIcon());
        icon.setToolTip(QString());
        icon.show();
        break;
    }
    case TrayRequest::Modify: {
        QSystemTrayIcon *icon = window.icon();
        if (!icon || !icon->isVisible())
            return;
        icon->setIcon(QIcon(steadyIconWanted(check.blinkPhase, window.blinking()) ? window.steadyPicture()
                                                                                   : window.alertPicture()));
        icon->setToolTip(check.trayTipText.left(TipLength));
        break;
    }
    case TrayRequest::Delete:
        // Hidden rather than destroyed: a removal can come while the icon's own signal is
        // being handled (a restore from the tray menu that pumps events).
        if (QSystemTrayIcon *icon = window.icon())
            icon->hide();
        break;
    }
}

void placeInTray(TrayWindow &window, CheckState &check)
{
    const bool tray = trayAvailable();
    if (tray)
        updateTrayIcon(window, check, TrayRequest::Add);
    if (!check.scanStop.isEmpty())
        check.trayTipText = check.scanStop;
    else if (check.minutesSinceCheck >= 0)
        check.trayTipText = withNote(check, timeText(check.minutesSinceCheck + 1));
    // The signal goes off before the picture is chosen, so the icon arrives steady.
    window.stopBlinking();
    if (tray)
        updateTrayIcon(window, check, TrayRequest::Modify);
    pumpEvents();
    // Hiding with no notification area would leave neither a window nor an icon to come back by.
    if (tray)
        window.hideToTray();
    else
        window.minimise();
}

void tellRequestedScan(TrayWindow &window, CheckState &check, bool ran)
{
    // Also when it stopped before it began (empty fields) or waits for the login delay; one
    // deferred behind a running operation says how it went once it has run.
    if ((!ran || !ServerOperation::scanDeferred()) && !checkStatusText(check).isEmpty())
        showCheckTime(window, check, checkStatusText(check));
}

void showCheckTime(TrayWindow &window, CheckState &check, const QString &text)
{
    window.showStatus(text);
    check.trayTipText = text;
    updateTrayIcon(window, check, TrayRequest::Modify);
}

QString checkStatusText(const CheckState &check)
{
    if (!check.scanStop.isEmpty())
        return check.scanStop;
    if (check.minutesSinceCheck < 0)
        return QString();
    return withNote(check, check.minutesSinceCheck == 0 ? freshCheckText() : timeText(check.minutesSinceCheck + 1));
}

void endOfCheck(TrayWindow &window, CheckState &check, const MessageList &list)
{
    const bool gotThrough = check.scanStop.isEmpty();
    if (gotThrough)
        check.minutesSinceCheck = 0;
    const int count = check.lastMessageCount;
    const QList<int> fresh = check.scannedMail.newRows(list, count);
    // A scan that did not get through saw only what it read; what it found new among that is
    // announced now all the same (the next scan will know it), as the beep and the blink do.
    const SeenMail read = SeenMail::of(list, count);
    check.scannedMail = gotThrough ? read : check.scannedMail.with(read);
    if (!fresh.isEmpty()) {
        window.startBlinking();
        prompter().beep();
    }
    if (gotThrough || !fresh.isEmpty())
        signalNewMail(window, check, list, fresh);
    window.showStatus(checkStatusText(check));
    pumpEvents();
    check.trayTipText = checkStatusText(check);
    updateTrayIcon(window, check, TrayRequest::Modify);
    check.minuteCounter = 0;
}

void minuteTick(TrayWindow &window, CheckState &check, bool scanHeld, const std::function<bool()> &scan)
{
    if (check.minutesSinceCheck >= 0)
        ++check.minutesSinceCheck;
    if (scanHeld) {
        // It runs once the delay has passed; its end starts the count again.
        check.minuteCounter = qMin(check.minuteCounter + 1, 5);
    } else if (check.minuteCounter > 4) {
        check.minuteCounter = 0;
        if (!scan())
            check.minuteCounter = 5;
        // A scan deferred behind a running operation says how it went once it has run.
        else if (ServerOperation::scanDeferred())
            return;
    } else {
        ++check.minuteCounter;
    }
    // Never a check time for a check that did not happen: before the first scan nothing.
    if (const QString text = checkStatusText(check); !text.isEmpty())
        showCheckTime(window, check, text);
}

void trayClicked(TrayWindow &window, const CheckState &check, QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        updateTrayIcon(window, check, TrayRequest::Modify);
        break;
    case QSystemTrayIcon::DoubleClick:
        window.restore();
        break;
    case QSystemTrayIcon::Context:
        // A menu that could not open would leave the user with nothing to act on.
        if (!window.popUpMenu())
            window.bringBack();
        break;
    default:
        break;
    }
}
