// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>
#include <QSystemTrayIcon>

class TForm1;

enum class TrayRequest { Add, Modify, Delete };

// The notification-area icon and the periodic check.

// Add puts a blank icon with an empty tip in place; Modify gives an existing icon its picture
// and the first 127 characters of trayTipText; Delete removes it. Modify and Delete without
// an icon do nothing.
void trayUpdate(TForm1 &form, TrayRequest request);
void reduceToTray(TForm1 &form);    // BitBtn6
// The window to the notification area (or minimised, with none), whether shown or not yet: the
// end of reduceToTray, and a start into the tray.
void placeInTray(TForm1 &form);
void restoreFromTray(TForm1 &form); // Restaurer1
void verifyFromTray(TForm1 &form);  // VerifierMails1
void quitFromTray(TForm1 &form);    // Quitter1
void blinkTick(TForm1 &form);       // Timer1
void periodicTick(TForm1 &form);    // Timer2
// The last steps of every scan: the new-mail signal when it read messages the scans before it
// had not (blinking icon, beep, desktop notification), the status line and tip
// (checkStatusText), the periodic count started again.
void scanEnded(TForm1 &form, int previousCount);
void trayActivated(TForm1 &form, QSystemTrayIcon::ActivationReason reason);

// "Courrier vérifié il y a moins de N minute" (N = 1) or "... N minutes".
QString timeText(int minutes);
// "Courrier vérifié il y a moins d'une minute": the text right after a check.
QString freshCheckText();

// Writes text to the status line and the tray tip, and refreshes the icon: what a check's end
// and the minute ticks do.
void showCheckTime(TForm1 &form, const QString &text);
// What the status line says between scans: what stopped the last one, with its time, until a
// scan gets through; then how long ago that one checked the mail (the fresh-check text right
// after it, then the time text of each tick), with its note. Empty before any scan.
QString checkStatusText(const TForm1 &form);

// The steady picture (Image1) unless the new-mail signal is on and in its alert phase.
bool steadyIconWanted(bool blinkPhase, bool blinkTimerActive);

// Whether the desktop has a notification area to reduce the window to. Without one the
// window is minimised instead of hidden. Tests replace the check; nullptr restores Qt's.
bool trayAvailable();
void setTrayAvailabilityCheck(bool (*check)());
