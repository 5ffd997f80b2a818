// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Keyring.h"

#include "core/ServerOperation.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <qt6keychain/keychain.h>

namespace keyring {

namespace {

const QString Service = QStringLiteral("Pelicorde");
const QString SecretServiceName = QStringLiteral("org.freedesktop.secrets");

QString whyOf(const QKeychain::Job &job)
{
    switch (job.error()) {
    case QKeychain::NoError:
        return {};
    // A locked keyring whose unlocking was refused reads as an entry that is not there.
    case QKeychain::EntryNotFound:
        return QStringLiteral("le trousseau de la session ne le contient pas, ou il est resté verrouillé");
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        return QStringLiteral("le trousseau de la session est verrouillé, ou son accès a été refusé");
    case QKeychain::NoBackendAvailable:
        return QStringLiteral("aucun trousseau de session ne répond");
    default:
        return QStringLiteral("le trousseau de la session a répondu : %1").arg(job.errorString());
    }
}

// Runs job to its end; true when it succeeded.
bool finish(QKeychain::Job &job, QString *why)
{
    job.setAutoDelete(false);
    bool done = false;
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    const ServerOperation::BoxShown waiting;
    job.start();
    if (!done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    *why = whyOf(job);
    return job.error() == QKeychain::NoError;
}

} // namespace

bool present()
{
    // QtKeychain hears from the Secret Service through GLib: an event loop without it would
    // wait for ever.
    const QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || !dispatcher->inherits("QEventDispatcherGlib"))
        return false;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()->isServiceRegistered(SecretServiceName).value()
           || bus.interface()->activatableServiceNames().value().contains(SecretServiceName);
}

Answer read(const QString &key)
{
    if (!present())
        return {false, {}, QStringLiteral("aucun trousseau de session ne répond")};
    QKeychain::ReadPasswordJob job(Service);
    job.setKey(key);
    Answer answer;
    answer.ok = finish(job, &answer.why);
    if (answer.ok)
        answer.secret = job.textData();
    return answer;
}

Answer write(const QString &key, const QString &secret)
{
    if (!present())
        return {false, {}, QStringLiteral("aucun trousseau de session ne répond")};
    QKeychain::WritePasswordJob job(Service);
    job.setKey(key);
    job.setTextData(secret);
    Answer answer;
    answer.ok = finish(job, &answer.why);
    return answer;
}

} // namespace keyring
