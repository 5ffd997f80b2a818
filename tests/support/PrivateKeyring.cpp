// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/PrivateKeyring.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QThread>

namespace {
const QString ConnectionName = QStringLiteral("private-keyring");
const QString SecretService = QStringLiteral("org.freedesktop.secrets");
} // namespace

PrivateKeyring::~PrivateKeyring()
{
    QDBusConnection::disconnectFromBus(ConnectionName);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        m_daemon.waitForFinished();
    }
}

bool PrivateKeyring::start()
{
    if (!m_bus.start() || !m_home.isValid()) {
        m_error = QStringLiteral("no private bus: ") + m_bus.errorText();
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
    m_daemon.setProcessEnvironment(env);
    // Its warnings that no prompter is on the bus are expected: kept for a failed start.
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    m_daemon.start(QStringLiteral("gnome-keyring-daemon"),
                   {QStringLiteral("--foreground"), QStringLiteral("--components=secrets"), QStringLiteral("--unlock")});
    // --unlock reads the login keyring's password, making the keyring when there is none.
    if (!m_daemon.waitForStarted()) {
        m_error = QStringLiteral("gnome-keyring-daemon: ") + m_daemon.errorString();
        return false;
    }
    m_daemon.write("mot de passe du trousseau");
    m_daemon.waitForBytesWritten();
    m_daemon.closeWriteChannel();
    QDBusConnection bus = QDBusConnection::connectToBus(m_bus.address(), ConnectionName);
    for (QDeadlineTimer deadline(30000); !deadline.hasExpired(); QThread::msleep(20)) {
        if (bus.interface()->isServiceRegistered(SecretService).value())
            return true;
        if (m_daemon.state() == QProcess::NotRunning)
            break;
    }
    m_error = QStringLiteral("gnome-keyring-daemon did not take its name on the bus: ")
              + QString::fromLocal8Bit(m_daemon.readAll());
    return false;
}

bool PrivateKeyring::lock()
{
    QDBusMessage call = QDBusMessage::createMethodCall(SecretService, QStringLiteral("/org/freedesktop/secrets"),
                                                       QStringLiteral("org.freedesktop.Secret.Service"),
                                                       QStringLiteral("Lock"));
    call << QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath("/org/freedesktop/secrets/collection/login")});
    return QDBusConnection(ConnectionName).call(call).type() == QDBusMessage::ReplyMessage;
}

QString PrivateKeyring::lookup(const QString &key) const
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("user"), key,
                                               QStringLiteral("server"), QStringLiteral("Pelicorde")});
    tool.waitForFinished();
    return QString::fromUtf8(tool.readAllStandardOutput());
}
