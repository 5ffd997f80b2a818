// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/SessionOpening.h"

#include <QScopeGuard>

#include "protocol/EncryptedServers.h"
#include "protocol/LoginDelay.h"

NeverAsk::NeverAsk(QString text) : m_text(std::move(text)) {}

bool NeverAsk::trust(const PeerCertificate &peer, certificates::Trust)
{
    throw CertificateToConfirm(m_text.arg(peer.host).arg(peer.port));
}

void openSession(MailboxSession &session, MailAccount account, const QString &dataFolder,
                 MailboxSession::Access access, SessionAsker &asker)
{
    const QString encrypted = encryptedServers::recordPath(dataFolder);
    account.tlsRequired = account.tlsRequired || encryptedServers::known(encrypted, account.host, account.port);
    const QString store = certificates::storePath(dataFolder);
    session.setCertificateDecision([&store, &asker](const PeerCertificate &peer) {
        const certificates::Trust trust = certificates::trustOf(store, peer);
        if (trust == certificates::Trust::Remembered)
            return true;
        if (!asker.trust(peer, trust))
            return false;
        if (QString why; !certificates::remember(store, peer, &why))
            asker.unrecorded({Unrecorded::Record::Certificate, why, peer.host, peer.port});
        return true;
    });
    // The decision refers to this call's asker: the session must not keep it.
    const auto forget = qScopeGuard([&session] { session.setCertificateDecision({}); });
    try {
        session.open(account, access);
    } catch (LoginRefused &refused) {
        loginDelays().refused(account, refused.reason());
        refused.setDelaySeconds(loginDelays().delaySeconds(account));
        throw;
    }
    if (QString why; session.encrypted() && !account.tls && !encryptedServers::remember(encrypted, account.host, account.port, &why))
        asker.unrecorded({Unrecorded::Record::Encryption, why, account.host, account.port});
    // The login counts from now, even if the session fails right after it.
    loginDelays().loggedIn(account);
    loginDelays().announced(account, session.loginDelay());
}
