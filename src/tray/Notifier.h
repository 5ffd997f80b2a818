// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

class MessageList;
class QWidget;
class TrayWindow;
struct CheckState;

// New-mail notifications through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Every call is asynchronous: a missing
// or stuck service costs nothing but the notification.
class Notifier : public QObject
{
    Q_OBJECT
public:
    // window: the one the user comes back to, which reads the news; check: where it marks them read.
    Notifier(TrayWindow &window, CheckState &check, const QDBusConnection &bus = QDBusConnection::sessionBus());
    ~Notifier() override;

    // Shows the notification for count new messages, marked of them by the blacklist; it
    // replaces the one still on screen, if any.
    void notify(int count, int marked);
    // Takes the notification off the screen.
    void withdraw();

signals:
    // The user acted on the notification (clicked it, or its Restaurer): the window comes back.
    void restoreRequested();

private slots:
    void actionInvoked(uint id, const QString &action);
    void activationToken(uint id, const QString &token);
    void notificationClosed(uint id, uint reason);

private:
    // The user is back at the list: the news is read.
    void userCameBack();
    // Takes the id from the service's answer to the last Notify, once it is in.
    void takeAnswer();

    TrayWindow &m_window;
    CheckState &m_check;
    QDBusConnection m_bus;
    std::optional<QDBusPendingCall> m_pending; // the last Notify, until its answer is taken
    uint m_shown = 0; // the service's id of our notification on screen; 0 for none
};

// "1 nouveau message", "3 nouveaux messages, dont 2 marqués par la liste noire", ...
QString newMailText(int count, int marked);

// The end of a scan that counted the messages; fresh: the rows it read that the scans before it
// had not. When there are some, and the list holds messages the user has not seen, and the
// window is not the active one: a desktop notification of all those the user has not seen, and
// the urgency hint on the window when it is on the task bar rather than in the notification
// area. The user has seen what the first scan read (what was there at start is no news), what a
// scan read while they were at the window, and the list as it was when they came back to it.
void signalNewMail(TrayWindow &window, CheckState &check, const MessageList &list, const QList<int> &fresh);

// How the window asks for attention: QApplication::alert unless a test puts its own here, which
// the window's face then calls instead (alertFunction; nullptr for Qt's).
using AlertFunction = void (*)(QWidget *window);
void setAlertFunction(AlertFunction alert);
AlertFunction alertFunction();
