// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/SessionSettings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <memory>

#include "core/Prompter.h"
#include "core/ServerOperation.h"
#include "mailbox/CertificateTrust.h"
#include "mailbox/EncryptedServers.h"
#include "mailbox/LoginDelay.h"
#include "mailbox/MessageList.h"
#include "mailbox/SessionAccount.h"
#include "window/PelicordeFP.h"

MailAccount accountFromWindow(const TForm1 &form)
{
    return form.account();
}

namespace {
bool g_unattended = false;
}

UnattendedScope::UnattendedScope() : m_was(g_unattended)
{
    g_unattended = true;
}

UnattendedScope::~UnattendedScope()
{
    g_unattended = m_was;
}

bool runsUnattended()
{
    return g_unattended;
}

QString openSession(MailboxSession &session, const TForm1 &form, MailboxSession::Access access)
{
    // A record that cannot be written is said at once to whoever is there, and on the status
    // line. Shared: the session keeps the certificate decision.
    const auto unrecorded = std::make_shared<QStringList>();
    const auto sayUnrecorded = [unrecorded](const QString &note, const QString &box) {
        *unrecorded << note;
        if (!g_unattended)
            prompter().information(box);
    };
    MailAccount account = accountFromWindow(form);
    const QString encrypted = encryptedServers::recordPath(form.dataFolder);
    account.tlsRequired = encryptedServers::known(encrypted, account.host, account.port);
    const QString store = certificates::storePath(form.dataFolder);
    session.setCertificateDecision([store, sayUnrecorded](const PeerCertificate &peer) {
        const certificates::Trust trust = certificates::trustOf(store, peer);
        if (trust == certificates::Trust::Remembered)
            return true;
        // Nobody may be there to answer: the next operation the user starts asks.
        if (g_unattended)
            throw CertificateToConfirm(
                QStringLiteral("Le certificat du serveur %1:%2 est à confirmer").arg(peer.host).arg(peer.port));
        // A changed certificate may be an interception: Return must not say yes to it.
        if (!prompter().question(certificates::questionText(peer, trust),
                                 trust == certificates::Trust::Changed ? Prompter::Default::Annuler
                                                                       : Prompter::Default::Oui))
            return false;
        if (QString why; !certificates::remember(store, peer, &why))
            sayUnrecorded(QStringLiteral("certificat accepté mais non enregistré"),
                          QStringLiteral("Votre réponse n'a pas pu être enregistrée : %1.\n\nLe certificat est accepté "
                                         "pour cette connexion seulement ; la question sera posée de nouveau.")
                              .arg(why));
        return true;
    });
    try {
        session.open(account, access);
    } catch (LoginRefused &refused) {
        loginDelays().refused(account, refused.reason());
        refused.setDelaySeconds(loginDelays().delaySeconds(account));
        throw;
    }
    if (QString why; session.encrypted() && !account.tls && !encryptedServers::remember(encrypted, account.host, account.port, &why))
        sayUnrecorded(QStringLiteral("protection du chiffrement non enregistrée"),
                      QStringLiteral("La protection du mot de passe n'a pas pu être enregistrée : %1.\n\nSi quelqu'un "
                                     "retirait plus tard le chiffrement de %2:%3, Pelicorde ne pourrait pas s'en apercevoir.")
                          .arg(why, account.host)
                          .arg(account.port));
    // The login counts from now, even if the session fails right after it.
    loginDelays().loggedIn(account);
    loginDelays().announced(account, session.loginDelay());
    return unrecorded->join(QStringLiteral(" ; "));
}

std::unique_ptr<MailboxSession> windowSession(const TForm1 &form)
{
    return makeMailboxSession(accountFromWindow(form));
}

bool refusedForAnotherAccount(const TForm1 &form)
{
    const QString source = form.list->account();
    if (source.isEmpty() || source == sessionAccountKey(accountFromWindow(form)))
        return false;
    prompter().information(QStringLiteral("La liste affichée provient d'un autre compte : relevez d'abord les "
                                          "messages de ce compte."));
    return true;
}

bool refusedWhileBusy()
{
    if (!ServerOperation::busy())
        return false;
    prompter().beep();
    return true;
}
