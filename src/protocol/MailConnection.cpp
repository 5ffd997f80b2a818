// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/MailConnection.h"

#include <QLocale>
#include <QScopeGuard>
#include <QSslSocket>

#include "protocol/NetworkErrors.h"
#include "protocol/SocketTransport.h"

MailConnection::MailConnection(const SessionLimits &limits) : m_limits(limits) {}

MailConnection::~MailConnection()
{
    // No QUIT or LOGOUT: the server then applies nothing that was asked in this session.
    if (m_transport)
        m_transport->abort();
}

void MailConnection::setCertificateDecision(CertificateDecision decide)
{
    m_decide = std::move(decide);
}

void MailConnection::setTransport(TransportFactory make)
{
    m_makeTransport = std::move(make);
}

QString MailConnection::server() const
{
    return QStringLiteral("%1:%2").arg(m_account.host).arg(m_account.port);
}

QString MailConnection::serverText(QByteArrayView bytes)
{
    QString text = QString::fromUtf8(bytes).trimmed();
    if (text.size() > 200)
        text = text.left(200) + QStringLiteral("…");
    return text;
}

namespace {
SessionLimits g_defaultLimits;
} // namespace

void SessionLimits::setDefaults(const SessionLimits &limits)
{
    g_defaultLimits = limits;
}

SessionLimits SessionLimits::defaults()
{
    return g_defaultLimits;
}

void MailConnection::fail(const QString &text, const QString &cause)
{
    m_broken = true;
    throw Error(text, cause);
}

void MailConnection::failOutOfStep(const QString &text)
{
    m_broken = true;
    throw ProtocolError(text, QStringLiteral("Échange désynchronisé avec le serveur"));
}

void MailConnection::failWithdrawn()
{
    m_broken = true;
    m_transport->abort();
    throw EncryptionWithdrawn(
        QStringLiteral("Le serveur %1 ne propose plus le chiffrement : connexion refusée pour protéger le mot de passe")
            .arg(server()));
}

void MailConnection::failDropped(const QString &step)
{
    fail(QStringLiteral("Connexion interrompue par le serveur %1 pendant %2").arg(server(), step),
         QStringLiteral("Connexion coupée par le serveur"));
}

// What OpenSSL says of a failed handshake is for programmers, and in English.
void MailConnection::failTls(const QString &detail)
{
    const QString text = QStringLiteral("Échec de la négociation TLS avec le serveur %1").arg(server());
    fail(detail.isEmpty() ? text : text + QStringLiteral(" : ") + detail, QStringLiteral("Échec du chiffrement TLS"));
}

void MailConnection::failTimeout(const QString &step)
{
    const int ms = m_limits.idleMs;
    const QString delay =
        ms % 1000 == 0 ? QString::number(ms / 1000) : QLocale(QLocale::French).toString(ms / 1000.0);
    fail(QStringLiteral("Le serveur %1 ne répond plus (%2 s sans réponse) pendant %3").arg(server(), delay, step),
         QStringLiteral("Le serveur ne répond plus"));
}

void MailConnection::failTooSlow(const QString &step)
{
    fail(QStringLiteral("Le serveur %1 répond trop lentement : opération abandonnée pendant %2").arg(server(), step),
         QStringLiteral("Le serveur répond trop lentement"));
}

void MailConnection::failGarbled(const QString &step, const QString &what)
{
    fail(QStringLiteral("Réponse incompréhensible du serveur %1 pendant %2 : %3").arg(server(), step, what),
         QStringLiteral("Réponse incompréhensible du serveur"));
}

void MailConnection::failTooLong(const QString &step)
{
    fail(QStringLiteral("Réponse trop longue du serveur %1 pendant %2").arg(server(), step),
         QStringLiteral("Réponse trop longue du serveur"));
}

void MailConnection::failRefusal(const QString &step, QByteArrayView said)
{
    throw Error(QStringLiteral("Le serveur %1 a refusé %2 : %3").arg(server(), step, serverText(said)),
                QStringLiteral("Le serveur a refusé une commande"));
}

void MailConnection::failOtherProtocol(QLatin1StringView speaks, QLatin1StringView scheme, QLatin1StringView expected)
{
    const QString how = QStringLiteral("écrivez %1://%2 comme serveur (%1s:// pour un port chiffré d'emblée)")
                            .arg(scheme, server().section(QLatin1Char(':'), 0, -2));
    fail(QStringLiteral("Le serveur %1 parle %2, pas %3 : %4").arg(server(), speaks, expected, how),
         QStringLiteral("Ce serveur parle %1 : %2").arg(speaks, how));
}

void MailConnection::failTurnedAway(const QString &greeting, QByteArrayView said)
{
    fail(QStringLiteral("Le serveur %1 a refusé %2 : %3").arg(server(), greeting, serverText(said)),
         QStringLiteral("Connexion refusée par le serveur"));
}

void MailConnection::connectTo(const MailAccount &account, QLatin1StringView protocol)
{
    if (m_transport)
        throw Error(QStringLiteral("Session %1 déjà ouverte avec le serveur %2").arg(protocol, server()));
    m_account = account;
    // A line end inside a field would let it send a command of its own.
    const auto hasLineEnd = [](const QString &field) { return field.contains(u'\r') || field.contains(u'\n'); };
    if (hasLineEnd(account.user) || hasLineEnd(account.password))
        throw Error(QStringLiteral("Nom d'utilisateur ou mot de passe invalide pour le serveur %1").arg(server()),
                    QStringLiteral("Adresse ou mot de passe invalide"));
    if (account.tls && !QSslSocket::supportsSsl())
        throw Error(QStringLiteral("Connexion TLS impossible au serveur %1 : TLS non disponible sur ce système")
                        .arg(server()),
                    QStringLiteral("TLS non disponible sur ce système"));

    m_transport = m_makeTransport ? m_makeTransport() : std::make_unique<SocketTransport>();
    if (!account.caFile.isEmpty() && !m_transport->trustCaFile(account.caFile))
        fail(QStringLiteral("Certificats d'autorité illisibles dans %1").arg(account.caFile),
             QStringLiteral("Certificats d'autorité illisibles"));

    m_progress.start();
    m_since.start();
    m_transport->connectToHost(account.host, account.port, account.tls);
    waitUntilConnected(account.tls, false);
    if (account.tls) {
        checkCertificate();
        m_encrypted = true;
    }
}

void MailConnection::startTls()
{
    if (!QSslSocket::supportsSsl())
        fail(QStringLiteral("Connexion TLS impossible au serveur %1 : TLS non disponible sur ce système")
                 .arg(server()),
             QStringLiteral("TLS non disponible sur ce système"));
    m_transport->startTls();
    waitUntilConnected(true, true);
    checkCertificate();
    m_encrypted = true;
}

void MailConnection::checkCertificate()
{
    const QList<QSslError> errors = m_transport->sslErrors();
    if (errors.isEmpty())
        return;
    const PeerCertificate peer{m_account.host, m_account.port, m_transport->peerCertificateChain(), errors};
    bool accepted = false;
    try {
        accepted = m_decide && m_decide(peer);
    } catch (...) {
        m_broken = true;
        m_transport->abort();
        throw;
    }
    if (!accepted) {
        m_transport->abort();
        fail(QStringLiteral("Certificat du serveur %1 refusé : %2")
                 .arg(server(), networkerrors::certificateFault(errors.first())),
             QStringLiteral("Certificat du serveur refusé"));
    }
}

void MailConnection::waitUntilConnected(bool encrypted, bool tcpUp)
{
    const auto up = QObject::connect(m_transport.get(), &Transport::connected, [&tcpUp] { tcpUp = true; });
    const auto guard = qScopeGuard([up] { QObject::disconnect(up); });
    const QString step = QStringLiteral("la connexion");
    for (;;) {
        if (encrypted ? m_transport->isEncrypted() : m_transport->state() == QAbstractSocket::ConnectedState)
            return;
        if (m_transport->state() == QAbstractSocket::UnconnectedState) {
            if (encrypted && tcpUp)
                failTls();
            // Qt's own text is English: the cause is told in French.
            const QString cause = networkerrors::connectionCause(m_transport->error());
            const QString inText = cause.left(1).toLower() + cause.mid(1);
            fail(QStringLiteral("Connexion impossible au serveur %1 : %2").arg(server(), inText), cause);
        }
        if (encrypted && tcpUp && m_transport->error() == QAbstractSocket::SslHandshakeFailedError) {
            m_transport->abort();
            failTls();
        }
        waitForData(step);
    }
}

void MailConnection::waitForData(const QString &step)
{
    const qint64 idleLeft = m_limits.idleMs - m_progress.elapsed();
    if (idleLeft <= 0)
        failTimeout(step);
    const qint64 credit = m_limits.creditBytesPerSecond > 0 ? m_received * 1000 / m_limits.creditBytesPerSecond : 0;
    const qint64 operationLeft = qMin(m_limits.operationMs + credit - m_waitedMs, m_limits.sessionMs - m_since.elapsed());
    if (operationLeft <= 0)
        failTooSlow(step);
    QElapsedTimer waited;
    waited.start();
    const bool running = m_transport->waitForActivity(int(qMin(idleLeft, operationLeft)));
    m_waitedMs += waited.elapsed();
    // Once the application is quitting (the main window was closed meanwhile), no event loop
    // runs any more: waiting would spin without reading the socket until the time-out. The
    // operation ends here, as after any network failure.
    if (!running)
        fail(QStringLiteral("Échange avec le serveur %1 interrompu : le programme se ferme pendant %2")
                 .arg(server(), step));
}

void MailConnection::awaitBytes(const QString &step)
{
    if (m_transport->bytesAvailable() > 0) {
        // A server that never lets the socket run dry is stopped here.
        if (m_since.hasExpired(m_limits.sessionMs))
            failTooSlow(step);
        return;
    }
    if (m_transport->state() != QAbstractSocket::ConnectedState)
        failDropped(step);
    waitForData(step);
}
