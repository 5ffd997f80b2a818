// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

#include "protocol/MailConnection.h"

// Trust on first use for server certificates the CAs do not validate: the file
// "Certificats.txt" of the data folder holds one line per server, "<host>:<port> <SHA-256
// fingerprint>", the fingerprint in upper-case hex pairs separated by colons.
namespace certificates {

QString storePath(const QString &dataFolder);
QString fingerprint(const QSslCertificate &certificate);

enum class Trust {
    Remembered, // the fingerprint stored for this host:port
    FirstSeen,  // nothing stored for this host:port
    Changed,    // another fingerprint stored: asked more strongly
};
Trust trustOf(const QString &storePath, const PeerCertificate &peer);

// Remembers the peer's certificate for its host:port, in place of any other. Written
// atomically, mode 0600; false when it could not be written, *why then saying why.
bool remember(const QString &storePath, const PeerCertificate &peer, QString *why = nullptr);

// The question put to the user: fingerprint, issuer, subject and validity of the certificate.
QString questionText(const PeerCertificate &peer, Trust trust);

} // namespace certificates
