// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/Notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <algorithm>

#include "mailbox/MessageList.h"
#include "tray/TrayWindow.h"
#include "window/CheckState.h"

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString &Interface = Service;
// A service that does not answer gives up the call after this long; nothing waits for it.
constexpr int CallTimeout = 5000;

AlertFunction g_alert = nullptr;

QDBusMessage notificationCall(const QString &method)
{
    return QDBusMessage::createMethodCall(Service, Path, Interface, method);
}

} // namespace

Notifier::Notifier(TrayWindow &window, CheckState &check, const QDBusConnection &bus)
    : QObject(&window), m_window(window), m_check(check), m_bus(bus)
{
    // Any action of ours (the click on the notification, the Restaurer button) restores.
    m_bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(actionInvoked(uint, QString)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("ActivationToken"), this,
                  SLOT(activationToken(uint, QString)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(notificationClosed(uint, uint)));
    connect(&window, &TrayWindow::userCameBack, this, &Notifier::userCameBack);
}

Notifier::~Notifier() { withdraw(); }

void Notifier::notify(int count, int marked)
{
    QDBusMessage call = notificationCall(QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QStringLiteral("pelicorde")},
        {QStringLiteral("category"), QStringLiteral("email.arrived")},
    };
    call << QStringLiteral("Pelicorde") << m_shown << QStringLiteral("pelicorde") << QStringLiteral("Pelicorde")
         << newMailText(count, marked)
         << QStringList{QStringLiteral("default"), QStringLiteral("Restaurer"), QStringLiteral("restaurer"),
                        QStringLiteral("Restaurer")}
         << hints << -1;
    m_pending = m_bus.asyncCall(call, CallTimeout);
    auto *watcher = new QDBusPendingCallWatcher(*m_pending, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        takeAnswer();
        // The user came back while the call was on its way.
        if (m_window.userAtWindow())
            withdraw();
    });
}

void Notifier::takeAnswer()
{
    // The answer may be in before the watcher says so: a click on the notification can
    // arrive first.
    if (!m_pending || !m_pending->isFinished())
        return;
    const QDBusPendingReply<uint> reply = *m_pending;
    m_pending.reset();
    // An error (no service, or it failed): the beep and the tray still tell.
    if (reply.isValid())
        m_shown = reply.value();
}

void Notifier::withdraw()
{
    takeAnswer();
    if (!m_shown)
        return;
    QDBusMessage call = notificationCall(QStringLiteral("CloseNotification"));
    call << m_shown;
    m_bus.send(call);
    m_shown = 0;
}

void Notifier::actionInvoked(uint id, const QString &)
{
    takeAnswer();
    if (id && id == m_shown)
        emit restoreRequested();
}

void Notifier::activationToken(uint id, const QString &token)
{
    takeAnswer();
    // On Wayland a window comes to the front only with the token of the user's click, which
    // the service hands over just before the action.
    if (id && id == m_shown)
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
}

void Notifier::notificationClosed(uint id, uint)
{
    takeAnswer();
    if (id == m_shown)
        m_shown = 0;
}

void Notifier::userCameBack()
{
    m_check.seenMail = m_check.scannedMail;
    withdraw();
}

QString newMailText(int count, int marked)
{
    QString text = count == 1 ? QStringLiteral("1 nouveau message")
                              : QStringLiteral("%1 nouveaux messages").arg(count);
    if (marked <= 0)
        return text;
    if (count == 1)
        return text + QStringLiteral(", marqué par la liste noire");
    if (marked == count)
        return text + QStringLiteral(", tous marqués par la liste noire");
    return text
           + (marked == 1 ? QStringLiteral(", dont 1 marqué par la liste noire")
                          : QStringLiteral(", dont %1 marqués par la liste noire").arg(marked));
}

void signalNewMail(TrayWindow &window, CheckState &check, const MessageList &list, const QList<int> &fresh)
{
    const int count = check.lastMessageCount;
    SeenMail &seen = check.seenMail;
    // The start-up scan, which runs before the periodic check starts, and the first periodic
    // one when there was none (TLS) find the mailbox as it stands, not new mail; and a user at
    // the window sees the list grow.
    if (seen.isNull() || !window.checking() || window.userAtWindow()) {
        seen = check.scannedMail;
        return;
    }
    seen.shrinkTo(count); // messages deleted meanwhile, here or elsewhere
    if (fresh.isEmpty())
        return;
    const QList<int> unseen = seen.newRows(list, count);
    if (unseen.isEmpty())
        return;
    const auto marked = std::count_if(unseen.cbegin(), unseen.cend(), [&](int row) { return list.isMarked(row); });
    // It replaces the one on screen: it counts all the user has not seen.
    window.notifier().notify(int(unseen.size()), int(marked));
    // In the notification area the icon blinks; on the task bar the window asks for attention.
    if (window.shown())
        window.askAttention();
}

void setAlertFunction(AlertFunction alert) { g_alert = alert; }

AlertFunction alertFunction() { return g_alert; }
