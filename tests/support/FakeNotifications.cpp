// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeNotifications.h"

#include <QDBusMessage>
#include <QFile>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

PrivateBus::~PrivateBus()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }
}

bool PrivateBus::start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = file.errorString();
        return false;
    }
    file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                              "<busconfig>\n"
                              "  <type>session</type>\n"
                              "  <listen>unix:dir=%1</listen>\n"
                              "  <auth>EXTERNAL</auth>\n"
                              "  <policy context=\"default\">\n"
                              "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                              "    <allow eavesdrop=\"true\"/>\n"
                              "    <allow own=\"*\"/>\n"
                              "  </policy>\n"
                              "</busconfig>\n")
                   .arg(m_dir.path())
                   .toUtf8());
    file.close();

    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    while (!m_daemon.canReadLine()) {
        if (!m_daemon.waitForReadyRead(30000)) {
            m_error = QStringLiteral("dbus-daemon gave no address: ") + m_daemon.errorString() + QLatin1Char(' ')
                      + QString::fromLocal8Bit(m_daemon.readAllStandardError());
            return false;
        }
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    return !m_address.isEmpty();
}

FakeNotificationService::FakeNotificationService(const QString &address)
    : m_connectionName(QStringLiteral("fake-notifications-%1").arg(quintptr(this)))
{
    QDBusConnection::connectToBus(address, m_connectionName);
}

FakeNotificationService::~FakeNotificationService() { QDBusConnection::disconnectFromBus(m_connectionName); }

bool FakeNotificationService::registerService()
{
    QDBusConnection bus(m_connectionName);
    return bus.isConnected()
           && bus.registerObject(Path, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
           && bus.registerService(Service);
}

void FakeNotificationService::unregisterService()
{
    QDBusConnection bus(m_connectionName);
    bus.unregisterService(Service);
    bus.unregisterObject(Path);
}

void FakeNotificationService::emitSignal(const QString &name, const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createSignal(Path, Service, name);
    message.setArguments(arguments);
    QDBusConnection(m_connectionName).send(message);
}

void FakeNotificationService::sendActivationToken(uint id, const QString &token)
{
    emitSignal(QStringLiteral("ActivationToken"), {id, token});
}

void FakeNotificationService::invokeAction(uint id, const QString &action)
{
    emitSignal(QStringLiteral("ActionInvoked"), {id, action});
}

uint FakeNotificationService::Notify(const QString &appName, uint replacesId, const QString &appIcon,
                                     const QString &summary, const QString &body, const QStringList &actions,
                                     const QVariantMap &hints, int expireTimeout)
{
    const uint id = replacesId ? replacesId : m_nextId++;
    received << Notification{id, appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout};
    return id;
}

void FakeNotificationService::CloseNotification(uint id)
{
    closed << id;
    emitSignal(QStringLiteral("NotificationClosed"), {id, 3u});
}

QStringList FakeNotificationService::GetCapabilities()
{
    return {QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("icon-static")};
}

QString FakeNotificationService::GetServerInformation(QString &vendor, QString &version, QString &specVersion)
{
    vendor = QStringLiteral("Pelicorde tests");
    version = QStringLiteral("1");
    specVersion = QStringLiteral("1.2");
    return QStringLiteral("fake-notifications");
}
