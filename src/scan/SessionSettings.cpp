// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/SessionSettings.h"

#include "core/Prompter.h"
#include "core/ServerOperation.h"
#include "mailbox/MessageList.h"
#include "protocol/SessionAccount.h"

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

namespace {

// The user, when there, answers about a certificate and is told at once of a record that could
// not be written; the status line gets a note of it either way.
class WindowAsker final : public SessionAsker
{
public:
    QStringList notes;

    bool trust(const PeerCertificate &peer, certificates::Trust trust) override
    {
        // Nobody may be there to answer: the next operation the user starts asks.
        if (g_unattended)
            return NeverAsk().trust(peer, trust);
        // A changed certificate may be an interception: Return must not say yes to it.
        return prompter().question(certificates::questionText(peer, trust),
                                   trust == certificates::Trust::Changed ? Prompter::Default::Annuler
                                                                         : Prompter::Default::Oui);
    }

    void unrecorded(const Unrecorded &record) override
    {
        const bool certificate = record.record == Unrecorded::Record::Certificate;
        notes << (certificate ? QStringLiteral("certificat accepté mais non enregistré")
                              : QStringLiteral("protection du chiffrement non enregistrée"));
        if (g_unattended)
            return;
        prompter().information(
            certificate ? QStringLiteral("Votre réponse n'a pas pu être enregistrée : %1.\n\nLe certificat est accepté "
                                         "pour cette connexion seulement ; la question sera posée de nouveau.")
                              .arg(record.why)
                        : QStringLiteral("La protection du mot de passe n'a pas pu être enregistrée : %1.\n\nSi quelqu'un "
                                         "retirait plus tard le chiffrement de %2:%3, Pelicorde ne pourrait pas s'en apercevoir.")
                              .arg(record.why, record.host)
                              .arg(record.port));
    }
};

} // namespace

QString openSession(MailboxSession &session, const MailAccount &account, const QString &dataFolder,
                    MailboxSession::Access access)
{
    WindowAsker asker;
    openSession(session, account, dataFolder, access, asker);
    return asker.notes.join(QStringLiteral(" ; "));
}

bool refusedForAnotherAccount(const MessageList &list, const MailAccount &account)
{
    const QString source = list.account();
    if (source.isEmpty() || source == sessionAccountKey(account))
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
