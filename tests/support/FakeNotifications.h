// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A desktop notification service for tests: a message bus of the test's own, and a stand-in
// for org.freedesktop.Notifications on it that records what it is asked to show.
#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

// dbus-daemon on a socket in a temporary folder. Its configuration starts no services, so a
// notification daemon installed on the machine never answers in place of the stand-in.
class PrivateBus
{
public:
    ~PrivateBus();
    bool start(); // waits until the bus prints its address
    QString address() const { return m_address; }
    QString errorText() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
};

class FakeNotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notification
    {
        uint id = 0;
        QString appName;
        uint replacesId = 0;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout = 0;
    };

    // Connects to the bus at address on a connection of its own, as another process would.
    explicit FakeNotificationService(const QString &address);
    ~FakeNotificationService() override;

    // Takes the service's name on the bus and gives it up.
    bool registerService();
    void unregisterService();

    // The signals a notification daemon sends when the user clicks.
    void sendActivationToken(uint id, const QString &token);
    void invokeAction(uint id, const QString &action);

    QList<Notification> received;
    QList<uint> closed; // ids passed to CloseNotification

public slots:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);
    void CloseNotification(uint id);
    QStringList GetCapabilities();
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion);

private:
    void emitSignal(const QString &name, const QVariantList &arguments);

    QString m_connectionName;
    uint m_nextId = 1;
};
