// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/MailConnection.h"

#include <QEventLoop>
#include <QLocale>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include "mailbox/NetworkErrors.h"

namespace {

// What the socket buffers ahead of the session; beyond it TCP makes the server wait.
constexpr qint64 kSocketBuffer = 4 * 1024 * 1024;

} // namespace

MailConnection::MailConnection(const SessionLimits &limits) : m_limits(limits) {}

MailConnection::~MailConnection()
{
    // No QUIT or LOGOUT: the server then applies nothing that was asked in this session.
    if (m_socket)
        m_socket->abort();
}

void MailConnection::setCertificateDecision(CertificateDecision decide)
{
    m_decide = std::move(decide);
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
    m_socket->abort();
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
    if (m_socket)
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

    m_socket = std::make_unique<QSslSocket>();
    m_socket->setReadBufferSize(kSocketBuffer);
    m_timer = std::make_unique<QTimer>();
    m_timer->setSingleShot(true);
    auto wake = [this] {
        if (m_loop)
            m_loop->quit();
    };
    QSslSocket *s = m_socket.get();
    QObject::connect(s, &QSslSocket::readyRead, s, wake);
    QObject::connect(s, &QSslSocket::stateChanged, s, wake);
    QObject::connect(s, &QSslSocket::encrypted, s, wake);
    QObject::connect(s, &QSslSocket::errorOccurred, s, wake);
    QObject::connect(m_timer.get(), &QTimer::timeout, s, wake);

    // Verified against the system's CAs (and the account's own); what they do not validate is
    // let through the handshake and put to the certificate decision before anything is sent.
    QObject::connect(s, &QSslSocket::sslErrors, s, [this, s](const QList<QSslError> &errors) {
        m_sslErrors += errors;
        s->ignoreSslErrors();
    });
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!account.caFile.isEmpty() && !config.addCaCertificates(account.caFile))
        fail(QStringLiteral("Certificats d'autorité illisibles dans %1").arg(account.caFile),
             QStringLiteral("Certificats d'autorité illisibles"));
    s->setSslConfiguration(config);

    m_progress.start();
    m_since.start();
    if (account.tls)
        s->connectToHostEncrypted(account.host, account.port);
    else
        s->connectToHost(account.host, account.port);
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
    m_socket->startClientEncryption();
    waitUntilConnected(true, true);
    checkCertificate();
    m_encrypted = true;
}

void MailConnection::checkCertificate()
{
    if (m_sslErrors.isEmpty())
        return;
    const PeerCertificate peer{m_account.host, m_account.port, m_socket->peerCertificateChain(), m_sslErrors};
    bool accepted = false;
    try {
        accepted = m_decide && m_decide(peer);
    } catch (...) {
        m_broken = true;
        m_socket->abort();
        throw;
    }
    if (!accepted) {
        m_socket->abort();
        fail(QStringLiteral("Certificat du serveur %1 refusé : %2")
                 .arg(server(), networkerrors::certificateFault(m_sslErrors.first())),
             QStringLiteral("Certificat du serveur refusé"));
    }
}

void MailConnection::waitUntilConnected(bool encrypted, bool tcpUp)
{
    const auto up = QObject::connect(m_socket.get(), &QSslSocket::connected, [&tcpUp] { tcpUp = true; });
    const auto guard = qScopeGuard([up] { QObject::disconnect(up); });
    const QString step = QStringLiteral("la connexion");
    for (;;) {
        if (encrypted ? m_socket->isEncrypted() : m_socket->state() == QAbstractSocket::ConnectedState)
            return;
        if (m_socket->state() == QAbstractSocket::UnconnectedState) {
            if (encrypted && tcpUp)
                failTls();
            // Qt's own text is English: the cause is told in French.
            const QString cause = networkerrors::connectionCause(m_socket->error());
            const QString inText = cause.left(1).toLower() + cause.mid(1);
            fail(QStringLiteral("Connexion impossible au serveur %1 : %2").arg(server(), inText), cause);
        }
        if (encrypted && tcpUp && m_socket->error() == QAbstractSocket::SslHandshakeFailedError) {
            m_socket->abort();
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
    QEventLoop loop;
    m_loop = &loop;
    m_timer->start(int(qMin(idleLeft, operationLeft)));
    QElapsedTimer waited;
    waited.start();
    const int result = loop.exec();
    m_waitedMs += waited.elapsed();
    m_loop = nullptr;
    m_timer->stop();
    // Once the application is quitting (the main window was closed meanwhile), no event loop
    // runs any more: waiting would spin without reading the socket until the time-out. The
    // operation ends here, as after any network failure.
    if (result < 0)
        fail(QStringLiteral("Échange avec le serveur %1 interrompu : le programme se ferme pendant %2")
                 .arg(server(), step));
}

void MailConnection::awaitBytes(const QString &step)
{
    if (m_socket->bytesAvailable() > 0) {
        // A server that never lets the socket run dry is stopped here.
        if (m_since.hasExpired(m_limits.sessionMs))
            failTooSlow(step);
        return;
    }
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        failDropped(step);
    waitForData(step);
}
