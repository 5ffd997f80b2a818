// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/NetworkErrors.h"

namespace networkerrors {

QString certificateFault(const QSslError &error)
{
    switch (error.error()) {
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
        return QStringLiteral("l'autorité qui l'a émis n'est pas reconnue");
    case QSslError::UnableToDecryptCertificateSignature:
    case QSslError::CertificateSignatureFailed:
        return QStringLiteral("la signature du certificat n'est pas valide");
    case QSslError::UnableToDecodeIssuerPublicKey:
        return QStringLiteral("la clé publique de l'autorité est illisible");
    case QSslError::CertificateNotYetValid:
        return QStringLiteral("le certificat n'est pas encore valide");
    case QSslError::CertificateExpired:
        return QStringLiteral("le certificat a expiré");
    case QSslError::InvalidNotBeforeField:
    case QSslError::InvalidNotAfterField:
        return QStringLiteral("les dates de validité du certificat sont illisibles");
    case QSslError::SelfSignedCertificate:
        return QStringLiteral("le certificat est auto-signé : aucune autorité ne le garantit");
    case QSslError::SelfSignedCertificateInChain:
        return QStringLiteral("la chaîne du certificat mène à une autorité auto-signée non reconnue");
    case QSslError::UnableToVerifyFirstCertificate:
        return QStringLiteral("aucun certificat de la chaîne ne peut être vérifié");
    case QSslError::CertificateRevoked:
        return QStringLiteral("le certificat a été révoqué");
    case QSslError::InvalidCaCertificate:
        return QStringLiteral("le certificat d'une autorité de la chaîne n'est pas valide");
    case QSslError::PathLengthExceeded:
        return QStringLiteral("la chaîne du certificat est trop longue");
    case QSslError::InvalidPurpose:
        return QStringLiteral("le certificat n'est pas fait pour un serveur");
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateRejected:
        return QStringLiteral("l'autorité racine n'est pas reconnue pour cet usage");
    case QSslError::SubjectIssuerMismatch:
    case QSslError::AuthorityIssuerSerialNumberMismatch:
        return QStringLiteral("le certificat ne correspond pas à celui de son autorité");
    case QSslError::NoPeerCertificate:
        return QStringLiteral("le serveur n'a présenté aucun certificat");
    case QSslError::HostNameMismatch:
        return QStringLiteral("le certificat est établi pour un autre nom que celui du serveur");
    case QSslError::CertificateBlacklisted:
        return QStringLiteral("le certificat est sur la liste des certificats bannis");
    case QSslError::CertificateStatusUnknown:
        return QStringLiteral("l'état du certificat est inconnu");
    case QSslError::NoSslSupport:
        return QStringLiteral("TLS n'est pas disponible sur ce système");
    default:
        return error.errorString();
    }
}

QString connectionCause(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("Connexion refusée par le serveur");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("Connexion coupée par le serveur");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("Serveur introuvable");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("Le serveur ne répond plus");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("Réseau inaccessible");
    case QAbstractSocket::SocketAccessError:
    case QAbstractSocket::SocketResourceError:
    case QAbstractSocket::UnsupportedSocketOperationError:
        return QStringLiteral("Connexion impossible depuis ce système");
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
    case QAbstractSocket::ProxyAuthenticationRequiredError:
        return QStringLiteral("Échec de la connexion par le proxy");
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return QStringLiteral("Échec du chiffrement TLS");
    default:
        return QStringLiteral("Connexion impossible au serveur");
    }
}

} // namespace networkerrors
