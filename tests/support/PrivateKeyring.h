// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A keyring of the test's own: gnome-keyring-daemon's Secret Service on a private bus, its
// keyrings in a temporary folder, the login keyring made and unlocked at start. Never the
// user's bus or keyring. No prompter is on the bus: unlocking a locked keyring is refused, as
// by a user who dismisses the prompt.
#include <QProcess>
#include <QTemporaryDir>

#include "support/FakeNotifications.h"

class PrivateKeyring
{
public:
    ~PrivateKeyring();
    bool start(); // waits until the service is on the bus
    QString address() const { return m_bus.address(); }
    QString errorText() const { return m_error; }
    // Locks every keyring, as the desktop does after a while.
    bool lock();
    // What another client (secret-tool) finds for Pelicorde's entry key; empty when nothing.
    QString lookup(const QString &key) const;

private:
    PrivateBus m_bus;
    QTemporaryDir m_home;
    QProcess m_daemon;
    QString m_error;
};
