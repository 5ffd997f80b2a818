// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/SessionSettings.h"

#include <QCheckBox>
#include <QLineEdit>

#include "core/Prompter.h"
#include "core/ServerOperation.h"
#include "mailbox/CertificateTrust.h"
#include "mailbox/EncryptedServers.h"
#include "mailbox/LoginDelay.h"
#include "mailbox/SessionAccount.h"
#include "window/PelicordeFP.h"

Pop3Account accountFromWindow(const TForm1 &form)
{
    return sessionAccount(form.Edit3->text(), form.Edit4->text(), form.Edit15->text(), form.Edit16->text(),
                          form.CheckBox2->isChecked());
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

void openSession(MailboxSession &session, const TForm1 &form, MailboxSession::Access access)
{
    Pop3Account account = accountFromWindow(form);
    const QString encrypted = encryptedServers::recordPath(form.dataFolder);
    account.tlsRequired = encryptedServers::known(encrypted, account.host, account.port);
    const QString store = certificates::storePath(form.dataFolder);
    session.setCertificateDecision([store](const PeerCertificate &peer) {
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
        certificates::remember(store, peer);
        return true;
    });
    try {
        session.open(account, access);
    } catch (LoginRefused &refused) {
        loginDelays().refused(account, refused.reason());
        refused.setDelaySeconds(loginDelays().delaySeconds(account));
        throw;
    }
    if (session.encrypted() && !account.tls)
        encryptedServers::remember(encrypted, account.host, account.port);
    // The login counts from now, even if the session fails right after it.
    loginDelays().loggedIn(account);
    loginDelays().announced(account, session.loginDelay());
}

std::unique_ptr<MailboxSession> windowSession(const TForm1 &form)
{
    return makeMailboxSession(accountFromWindow(form));
}

bool refusedWhileBusy()
{
    if (!ServerOperation::busy())
        return false;
    prompter().beep();
    return true;
}
