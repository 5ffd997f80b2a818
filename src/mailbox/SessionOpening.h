// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

#include "core/Error.h"
#include "protocol/CertificateTrust.h"
#include "mailbox/MailboxSession.h"

// A certificate needs the user's confirmation and nobody is there to give it: the opening ends
// before the password is sent.
class CertificateToConfirm : public Error
{
public:
    using Error::Error;
};

// A record of the data folder that opening a session could not write.
struct Unrecorded
{
    enum class Record {
        Certificate, // the user's yes to a certificate: asked again next time
        Encryption,  // the server logged in over TLS: a later stripped upgrade would go unnoticed
    };
    Record record;
    QString why; // the writing's failure
    QString host;
    quint16 port = 0;
};

// Who answers for the user while a session opens.
class SessionAsker
{
public:
    virtual ~SessionAsker() = default;
    // A certificate the CAs do not validate and not remembered for its server (FirstSeen or
    // Changed): whether to go on with it, a yes then remembered. May throw, which ends the opening.
    virtual bool trust(const PeerCertificate &peer, certificates::Trust trust) = 0;
    // A record could not be written, told when it happens. May throw, which ends the opening
    // (the session then to be released as it stands).
    virtual void unrecorded(const Unrecorded &record) { Q_UNUSED(record); }
};

// Asks nobody, for what runs without the user: only a certificate remembered for its server
// goes; any other ends the opening with CertificateToConfirm(text), %1 the host and %2 the port.
class NeverAsk : public SessionAsker
{
public:
    explicit NeverAsk(QString text = QStringLiteral("Le certificat du serveur %1:%2 est à confirmer"));
    bool trust(const PeerCertificate &peer, certificates::Trust trust) override;

private:
    QString m_text;
};

// Opens session on account with the records of dataFolder. A server that has logged in over TLS
// before must offer it again (EncryptionWithdrawn otherwise), and one that does is remembered. A
// certificate the CAs do not validate goes when remembered for its server, otherwise asker
// decides. The login-delay bookkeeping follows: the time of the login and the delay the server
// announces once logged in; a login refused for the time being throws LoginRefused with the
// delay when known.
void openSession(MailboxSession &session, MailAccount account, const QString &dataFolder,
                 MailboxSession::Access access, SessionAsker &asker);
