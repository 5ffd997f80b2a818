// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/LoginDelay.h"

#include <chrono>

#include "protocol/MailConnection.h"

namespace {

// A server asking for more than this between logins is broken or hostile: it would stop the
// periodic check for good.
constexpr int kMaxDelaySeconds = 3600;

} // namespace

LoginRefused::Reason refusalReason(const QByteArray &status)
{
    // resp-code = "[" resp-level *("/" resp-level) "]": the first level names the code.
    if (!status.startsWith('['))
        return LoginRefused::Reason::Other;
    const qsizetype end = status.indexOf(']');
    if (end < 0)
        return LoginRefused::Reason::Other;
    const QByteArray code = status.mid(1, end - 1).split('/').first().toUpper();
    if (code == "LOGIN-DELAY")
        return LoginRefused::Reason::LoginDelay;
    if (code == "IN-USE")
        return LoginRefused::Reason::InUse;
    return LoginRefused::Reason::Other;
}

int announcedLoginDelay(const QStringList &capabilities)
{
    for (const QString &capability : capabilities) {
        const QStringList words = capability.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() < 2 || words.first().compare(QLatin1String("LOGIN-DELAY"), Qt::CaseInsensitive) != 0)
            continue;
        bool ok = false;
        const qlonglong seconds = words.at(1).toLongLong(&ok);
        if (ok && seconds > 0)
            return int(qMin<qlonglong>(seconds, kMaxDelaySeconds));
    }
    return 0;
}

QString delayText(int seconds)
{
    if (seconds >= 60 && seconds % 60 == 0) {
        const int minutes = seconds / 60;
        return QStringLiteral("%1 minute%2").arg(minutes).arg(minutes > 1 ? QStringLiteral("s") : QString());
    }
    return QStringLiteral("%1 seconde%2").arg(seconds).arg(seconds > 1 ? QStringLiteral("s") : QString());
}

QString LoginRefused::causeOf(Reason reason)
{
    switch (reason) {
    case Reason::LoginDelay:
        return QStringLiteral("Le serveur demande d'attendre entre deux connexions");
    case Reason::InUse:
        return QStringLiteral("Boîte aux lettres utilisée par une autre session");
    case Reason::Other:
        break;
    }
    return QStringLiteral("Identification refusée par le serveur (mot de passe ou adresse)");
}

QString failureBoxText(const std::exception &e, const QString &otherwise)
{
    if (const auto *withdrawn = dynamic_cast<const EncryptionWithdrawn *>(&e))
        return withdrawn->text()
            + QStringLiteral("\n\nSi ce serveur ne chiffre vraiment plus les connexions, enregistrez de nouveau "
                             "le compte (bouton Sauvegarde) pour l'accepter.");
    const auto *error = dynamic_cast<const Error *>(&e);
    const QString withCause =
        error && !error->cause().isEmpty() ? otherwise + QStringLiteral("\n\n") + error->cause() : otherwise;
    const auto *refused = dynamic_cast<const LoginRefused *>(&e);
    if (!refused)
        return withCause;
    switch (refused->reason()) {
    case LoginRefused::Reason::LoginDelay:
        if (refused->delaySeconds() > 0)
            return QStringLiteral("Le serveur demande d'attendre avant de se connecter de nouveau "
                                  "(%1 entre deux connexions).\n\nRéessayez un peu plus tard.")
                .arg(delayText(refused->delaySeconds()));
        return QStringLiteral("Le serveur demande d'attendre avant de se connecter de nouveau.\n\n"
                              "Réessayez un peu plus tard.");
    case LoginRefused::Reason::InUse:
        return QStringLiteral("La boîte aux lettres est utilisée par une autre session "
                              "(un autre logiciel de messagerie la relève peut-être).\n\n"
                              "Réessayez un peu plus tard.");
    case LoginRefused::Reason::Other:
        break;
    }
    return withCause;
}

QString LoginDelay::key(const MailAccount &account)
{
    return account.host.toLower() + QLatin1Char(':') + QString::number(account.port) + QLatin1Char('\n')
           + account.user;
}

qint64 LoginDelay::now() const
{
    if (m_clock)
        return m_clock();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void LoginDelay::loggedIn(const MailAccount &account)
{
    Entry &e = m_entries[key(account)];
    e.lastLogin = now();
    e.loggedIn = true;
}

void LoginDelay::announced(const MailAccount &account, int delaySeconds)
{
    m_entries[key(account)].delaySeconds = delaySeconds;
}

void LoginDelay::refused(const MailAccount &account, LoginRefused::Reason reason)
{
    if (reason != LoginRefused::Reason::LoginDelay)
        return;
    const auto found = m_entries.find(key(account));
    if (found == m_entries.end() || found->delaySeconds == 0)
        return;
    found->lastLogin = now();
    found->loggedIn = true;
}

int LoginDelay::delaySeconds(const MailAccount &account) const
{
    return m_entries.value(key(account)).delaySeconds;
}

qint64 LoginDelay::waitMs(const MailAccount &account) const
{
    const auto found = m_entries.constFind(key(account));
    if (found == m_entries.constEnd() || !found->loggedIn || found->delaySeconds == 0)
        return 0;
    return qMax<qint64>(0, found->lastLogin + qint64(found->delaySeconds) * 1000 - now());
}

void LoginDelay::clear() { m_entries.clear(); }

void LoginDelay::setClock(Clock clock) { m_clock = std::move(clock); }

LoginDelay &loginDelays()
{
    static LoginDelay delays;
    return delays;
}
