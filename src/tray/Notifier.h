// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>
#include <optional>

class QWidget;
class TForm1;

// New-mail notifications through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Every call is asynchronous: a missing
// or stuck service costs nothing but the notification.
class Notifier : public QObject
{
    Q_OBJECT
public:
    explicit Notifier(TForm1 &form, const QDBusConnection &bus = QDBusConnection::sessionBus());
    ~Notifier() override;

    // Shows the notification for count new messages, marked of them by the blacklist; it
    // replaces the one still on screen, if any.
    void notify(int count, int marked);
    // Takes the notification off the screen.
    void withdraw();

private slots:
    void actionInvoked(uint id, const QString &action);
    void activationToken(uint id, const QString &token);
    void notificationClosed(uint id, uint reason);

private:
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Takes the id from the service's answer to the last Notify, once it is in.
    void takeAnswer();

    TForm1 &m_form;
    QDBusConnection m_bus;
    std::optional<QDBusPendingCall> m_pending; // the last Notify, until its answer is taken
    uint m_shown = 0; // the service's id of our notification on screen; 0 for none
};

// "1 nouveau message", "3 nouveaux messages, dont 2 marqués par la liste noire", ...
QString newMailText(int count, int marked);

// The end of a scan that counted the messages. When it found more than the scan before it
// (previousCount) and more than the user has seen, and the window is not the active one: a
// desktop notification of those the user has not seen, and the urgency hint on the window when
// it is on the task bar rather than in the notification area. The user has seen the count of
// the first scan (what was there at start is no news), of a scan while at the window, and of
// the last scan when coming back to the window.
void signalNewMail(TForm1 &form, int previousCount);

// How the window asks for attention; QApplication::alert unless a test puts its own.
void setAlertFunction(void (*alert)(QWidget *window));
