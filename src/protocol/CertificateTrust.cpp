// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/CertificateTrust.h"

#include "core/AccountFile.h"
#include "core/DataFiles.h"
#include "core/Folders.h"
#include "core/SafeFile.h"
#include "protocol/NetworkErrors.h"

namespace certificates {
namespace {

// Some 10,000 servers: far more than anyone keeps.
constexpr qint64 kMaxStoreBytes = 1024 * 1024;

QByteArray serverKey(const PeerCertificate &peer)
{
    return peer.host.toUtf8() + ':' + QByteArray::number(peer.port);
}

// Each line: the server, a blank, the fingerprint (the server may hold colons: split on the blank).
QList<std::pair<QByteArray, QByteArray>> readStore(const QString &path)
{
    QList<std::pair<QByteArray, QByteArray>> entries;
    const std::optional<QByteArray> bytes = files::readWhole(path, kMaxStoreBytes);
    if (!bytes)
        return entries;
    for (const QByteArray &line : bytes->split('\n')) {
        const qsizetype blank = line.lastIndexOf(' ');
        if (blank > 0)
            entries.append({line.left(blank), line.mid(blank + 1).trimmed()});
    }
    return entries;
}

QString names(const QSslCertificate &c, bool issuer)
{
    const QString text = issuer ? c.issuerDisplayName() : c.subjectDisplayName();
    return text.isEmpty() ? QStringLiteral("(aucun)") : text;
}

} // namespace

QString storePath(const QString &dataFolder)
{
    return folders::join(dataFolder, QLatin1String(datafiles::kCertificates));
}

QString fingerprint(const QSslCertificate &certificate)
{
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

Trust trustOf(const QString &storePath, const PeerCertificate &peer)
{
    if (peer.chain.isEmpty())
        return Trust::FirstSeen;
    const QByteArray key = serverKey(peer);
    const QByteArray mine = fingerprint(peer.chain.first()).toLatin1();
    for (const auto &[server, stored] : readStore(storePath))
        if (server == key)
            return stored == mine ? Trust::Remembered : Trust::Changed;
    return Trust::FirstSeen;
}

bool remember(const QString &storePath, const PeerCertificate &peer, QString *why)
{
    if (peer.chain.isEmpty()) {
        if (why)
            *why = QStringLiteral("le serveur n'a présenté aucun certificat");
        return false;
    }
    const QByteArray key = serverKey(peer);
    QByteArray bytes;
    for (const auto &[server, stored] : readStore(storePath))
        if (server != key)
            bytes += server + ' ' + stored + '\n';
    bytes += key + ' ' + fingerprint(peer.chain.first()).toLatin1() + '\n';
    return accounts::writePrivateFile(storePath, bytes, why);
}

QString questionText(const PeerCertificate &peer, Trust trust)
{
    const QSslCertificate c = peer.chain.value(0);
    const QString server = QStringLiteral("%1:%2").arg(peer.host).arg(peer.port);
    const QString head = trust == Trust::Changed
        ? QStringLiteral("Le certificat du serveur a changé depuis la dernière connexion à %1 ! "
                         "Quelqu'un pourrait intercepter la connexion et votre mot de passe.")
              .arg(server)
        : QStringLiteral("Le certificat du serveur %1 n'est pas garanti par une autorité reconnue.").arg(server);
    QStringList why;
    for (const QSslError &e : peer.errors)
        if (const QString fault = networkerrors::certificateFault(e); !why.contains(fault))
            why << fault;
    const QString format = QStringLiteral("dd/MM/yyyy");
    return head + QStringLiteral("\n(%1)\n\nEmpreinte SHA-256 : %2\nÉmetteur : %3\nSujet : %4\nValide du %5 au %6\n\n"
                                 "Faire confiance à ce certificat pour ce serveur ?")
                      .arg(why.join(QStringLiteral(" ; ")), fingerprint(c), names(c, true), names(c, false),
                           c.effectiveDate().toLocalTime().toString(format),
                           c.expiryDate().toLocalTime().toString(format));
}

} // namespace certificates
