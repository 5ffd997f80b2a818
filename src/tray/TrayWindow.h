// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QObject>
#include <QPixmap>
#include <QString>

class Notifier;
class QSystemTrayIcon;

// What the tray, the new-mail signal and the idle watch need of the main window: its
// notification-area icon and that icon's pictures, the blink of new mail, the status line, the
// window's coming and going, and its notifier. The main window's face is made in app/.
class TrayWindow : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The icon in the notification area: nullptr until made; made on the first addIcon, its
    // clicks going to the window's tray handler, and kept with the window.
    virtual QSystemTrayIcon *icon() const = 0;
    virtual QSystemTrayIcon &addIcon() = 0;
    // Its pictures: steady (Image1), and the alert one it takes turns with (Image2).
    virtual QPixmap steadyPicture() const = 0;
    virtual QPixmap alertPicture() const = 0;

    // The blink of new mail (Timer1), and whether the periodic check runs (Timer2).
    virtual bool blinking() const = 0;
    virtual void startBlinking() = 0;
    virtual void stopBlinking() = 0;
    virtual bool checking() const = 0;

    // The status line.
    virtual void showStatus(const QString &text) = 0;

    // The window: shown (in the tray it is not; minimised it is); shown and not minimised; the
    // one the user works in.
    virtual bool shown() const = 0;
    virtual bool onScreen() const = 0;
    virtual bool userAtWindow() const = 0;
    // Hidden into the tray; minimised, with no tray to go to; shown maximised and brought to
    // the front; the same, its status line placed again; closed, which ends the program.
    virtual void hideToTray() = 0;
    virtual void minimise() = 0;
    virtual void bringBack() = 0;
    virtual void restore() = 0;
    virtual void close() = 0;
    // The tray menu at the mouse; false when it could not open.
    virtual bool popUpMenu() = 0;
    // On the task bar, the window asks for attention.
    virtual void askAttention() = 0;

    // The desktop notifications of new mail, made on first use and kept with the window.
    virtual Notifier &notifier() = 0;

signals:
    // The user is back at the window (it became the active one).
    void userCameBack();
    // The window went to the tray or was minimised.
    void wentAway();
};
