// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Keyring.h"

#include "core/ServerOperation.h"

#include <QAbstractEventDispatcher>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <qt6keychain/keychain.h>

namespace keyring {

namespace {

const QString Service = QStringLiteral("Pelicorde");
const QString SecretServiceName = QStringLiteral("org.freedesktop.secrets");
const QString NoKeyring = QStringLiteral("aucun trousseau de session ne répond");

QString whyOf(QKeychain::Error error, const QString &text)
{
    switch (error) {
    case QKeychain::NoError:
        return {};
    // A locked keyring whose unlocking was refused reads as an entry that is not there.
    case QKeychain::EntryNotFound:
        return QStringLiteral("le trousseau de la session ne le contient pas, ou il est resté verrouillé");
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        return QStringLiteral("le trousseau de la session est verrouillé, ou son accès a été refusé");
    case QKeychain::NoBackendAvailable:
        return NoKeyring;
    default:
        return QStringLiteral("le trousseau de la session a répondu : %1").arg(text);
    }
}

// Starts job (which deletes itself once finished) and waits for its end. The loop may also end
// early, when the application quits: the job then finishes unheard, and nothing came of it.
Answer finish(QKeychain::Job *job)
{
    Answer answer{false, {}, QStringLiteral("la demande au trousseau de la session a été abandonnée")};
    QEventLoop loop;
    bool done = false;
    // Heard only while the loop lives.
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *finished) {
        done = true;
        answer.ok = finished->error() == QKeychain::NoError;
        answer.why = whyOf(finished->error(), finished->errorString());
        if (const auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(finished); read && answer.ok)
            answer.secret = read->textData();
        loop.quit();
    });
    const ServerOperation::BoxShown waiting;
    job->start();
    if (!done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return answer;
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
        return {false, {}, NoKeyring};
    auto *job = new QKeychain::ReadPasswordJob(Service);
    job->setKey(key);
    return finish(job);
}

Answer write(const QString &key, const QString &secret)
{
    if (!present())
        return {false, {}, NoKeyring};
    auto *job = new QKeychain::WritePasswordJob(Service);
    job->setKey(key);
    job->setTextData(secret);
    return finish(job);
}

} // namespace keyring
