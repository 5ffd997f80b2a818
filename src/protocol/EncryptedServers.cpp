// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/EncryptedServers.h"

#include <QList>
#include <optional>

#include "core/AccountFile.h"
#include "core/DataFiles.h"
#include "core/Folders.h"
#include "core/SafeFile.h"

namespace encryptedServers {
namespace {

// Far beyond the servers one user ever reaches.
constexpr qint64 kMaxRecordBytes = 64 * 1024;

QByteArray key(const QString &host, quint16 port)
{
    return host.toLower().toUtf8() + ':' + QByteArray::number(port);
}

// The servers listed; nothing when there is no file, nullopt when something is there that is
// not a record (a FIFO would block the read, a device fill the memory): it is then left alone.
std::optional<QList<QByteArray>> read(const QString &path)
{
    if (!attachments::entryExists(path))
        return QList<QByteArray>();
    const std::optional<QByteArray> bytes = files::readWhole(path, kMaxRecordBytes);
    if (!bytes)
        return std::nullopt;
    QList<QByteArray> servers;
    for (const QByteArray &line : bytes->split('\n'))
        if (!line.trimmed().isEmpty())
            servers << line.trimmed();
    return servers;
}

bool write(const QString &path, const QList<QByteArray> &servers, QString *why = nullptr)
{
    QByteArray bytes;
    for (const QByteArray &s : servers)
        bytes += s + '\n';
    return accounts::writePrivateFile(path, bytes, why);
}

} // namespace

QString recordPath(const QString &dataFolder)
{
    return folders::join(dataFolder, QLatin1String(datafiles::kEncryptedServers));
}

bool known(const QString &recordPath, const QString &host, quint16 port)
{
    return read(recordPath).value_or(QList<QByteArray>()).contains(key(host, port));
}

bool remember(const QString &recordPath, const QString &host, quint16 port, QString *why)
{
    std::optional<QList<QByteArray>> servers = read(recordPath);
    if (!servers) {
        if (why)
            *why = QStringLiteral("%1 ne peut pas être lu (ce n'est pas un fichier ordinaire, ou il est trop grand)")
                       .arg(recordPath);
        return false;
    }
    if (servers->contains(key(host, port)))
        return true;
    servers->append(key(host, port));
    return write(recordPath, *servers, why);
}

bool forget(const QString &recordPath, const QString &host, quint16 port)
{
    std::optional<QList<QByteArray>> servers = read(recordPath);
    if (!servers)
        return false;
    if (servers->removeAll(key(host, port)) == 0)
        return true;
    return write(recordPath, *servers);
}

} // namespace encryptedServers
