// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QAbstractSocket>
#include <QSslError>
#include <QString>

// What Qt and OpenSSL report in English, said in French for the user.
namespace networkerrors {

// One French phrase per kind of certificate fault ("le certificat a expiré"); Qt's own text for
// the rare kinds without one (OCSP answers).
QString certificateFault(const QSslError &error);

// The cause of a failed connection, for a user: "Connexion refusée par le serveur", "Serveur
// introuvable", "Le serveur ne répond plus", "Échec du chiffrement TLS"...
QString connectionCause(QAbstractSocket::SocketError error);

} // namespace networkerrors
