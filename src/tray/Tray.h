// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>
#include <QSystemTrayIcon>
#include <functional>

class MessageList;
class TForm1;
class TrayWindow;
struct CheckState;

enum class TrayRequest { Add, Modify, Delete };

// The notification-area icon and the periodic check.

// The handlers of the main window: the icon's requests of its show and destroy steps, its
// controls and its signals.
void trayUpdate(TForm1 &form, TrayRequest request); // FormShow and FormDestroy: Delete
void reduceToTray(TForm1 &form);    // BitBtn6
void restoreFromTray(TForm1 &form); // Restaurer1
void verifyFromTray(TForm1 &form);  // VerifierMails1
void quitFromTray(TForm1 &form);    // Quitter1
void blinkTick(TForm1 &form);       // Timer1
void periodicTick(TForm1 &form);    // Timer2
void scanEnded(TForm1 &form, int previousCount); // the window's scanEnded
void trayActivated(TForm1 &form, QSystemTrayIcon::ActivationReason reason); // the icon's clicks

// Below the window.

// Add puts a blank icon with an empty tip in place; Modify gives an existing icon its picture
// and the first 127 characters of trayTipText; Delete removes it. Modify and Delete without
// an icon do nothing.
void updateTrayIcon(TrayWindow &window, const CheckState &check, TrayRequest request);
// The window to the notification area (or minimised, with none), whether shown or not yet: the
// end of reduceToTray, and a start into the tray.
void placeInTray(TrayWindow &window, CheckState &check);
// A scan asked for from the tray has been run (or refused, or held; ran: not held for the
// server's login delay): the status line and tip say how it went, unless it waits behind a
// running operation, which says so once it has run.
void tellRequestedScan(TrayWindow &window, CheckState &check, bool ran);
// The last steps of every scan: the new-mail signal when it read messages the scans before it
// had not (blinking icon, beep, desktop notification), the status line and tip
// (checkStatusText), the periodic count started again.
void endOfCheck(TrayWindow &window, CheckState &check, const MessageList &list);
// A minute of the periodic check: the sixth asks scan for a scan (true unless it waits for the
// server's login delay), unless scanHeld, one waiting for that delay already.
void minuteTick(TrayWindow &window, CheckState &check, bool scanHeld, const std::function<bool()> &scan);
// The icon clicked: once refreshes it, twice restores the window, the context button opens the
// menu (or, when it cannot open, brings the window back).
void trayClicked(TrayWindow &window, const CheckState &check, QSystemTrayIcon::ActivationReason reason);

// "Courrier vérifié il y a moins de N minute" (N = 1) or "... N minutes".
QString timeText(int minutes);
// "Courrier vérifié il y a moins d'une minute": the text right after a check.
QString freshCheckText();

// Writes text to the status line and the tray tip, and refreshes the icon: what a check's end
// and the minute ticks do.
void showCheckTime(TrayWindow &window, CheckState &check, const QString &text);
// What the status line says between scans: what stopped the last one, with its time, until a
// scan gets through; then how long ago that one checked the mail (the fresh-check text right
// after it, then the time text of each tick), with its note. Empty before any scan.
QString checkStatusText(const CheckState &check);

// The steady picture (Image1) unless the new-mail signal is on and in its alert phase.
bool steadyIconWanted(bool blinkPhase, bool blinkTimerActive);

// Whether the desktop has a notification area to reduce the window to. Without one the
// window is minimised instead of hidden. Tests replace the check; nullptr restores Qt's.
bool trayAvailable();
void setTrayAvailabilityCheck(bool (*check)());
