// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A keyring of the test's own, never the user's: gnome-keyring-daemon on a private bus, its files in
// a temporary folder. No prompter is on the bus: a locked keyring stays locked, as when refused.
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QThread>

#include "support/FakeNotifications.h"

class PrivateKeyring
{
public:
    // Empty once the service is on the bus, otherwise why it is not.
    QString start()
    {
        if (!m_bus.start() || !m_home.isValid())
            return QStringLiteral("no private bus: ") + m_bus.errorText();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
        for (const char *folder : {"HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
            env.insert(QString::fromLatin1(folder), m_home.path());
        m_daemon.setProcessEnvironment(env);
        m_daemon.setProcessChannelMode(QProcess::MergedChannels); // read on a failed start
        // --unlock reads the login keyring's password, making the keyring.
        m_daemon.start(QStringLiteral("gnome-keyring-daemon"), {"--foreground", "--components=secrets", "--unlock"});
        m_daemon.write("mot de passe du trousseau");
        m_daemon.waitForBytesWritten();
        m_daemon.closeWriteChannel();
        for (QDeadlineTimer deadline(30000); !deadline.hasExpired() && m_daemon.state() != QProcess::NotRunning;
             QThread::msleep(20))
            if (bus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")).value())
                return {};
        return QStringLiteral("gnome-keyring-daemon did not start: ") + QString::fromLocal8Bit(m_daemon.readAll());
    }
    QString address() const { return m_bus.address(); }
    // Locks every keyring, as the desktop does after a while.
    bool lock()
    {
        return QProcess::execute("dbus-send", {"--bus=" + address(), "--print-reply", "--dest=org.freedesktop.secrets",
                                               "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                                               "array:objpath:/org/freedesktop/secrets/collection/login"}) == 0;
    }

private:
    QDBusConnection bus() const { return QDBusConnection::connectToBus(m_bus.address(), QStringLiteral("private-keyring")); }
    PrivateBus m_bus;
    QTemporaryDir m_home;
    QProcess m_daemon; // killed by its destructor, before its folder goes
};
