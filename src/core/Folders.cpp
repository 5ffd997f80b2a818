// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace folders {

namespace {
QString envValue(const char *name) { return qEnvironmentVariable(name); }

QString defaultDataParent()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}
} // namespace

QString dataFolderFromEnvironment()
{
    const QString appData = envValue("APPDATA");
    const QString base = appData.isEmpty() ? defaultDataParent() : appData;
    return join(base, QStringLiteral("Pelicorde"));
}

QString tempFolderFromEnvironment()
{
    const QString temp = envValue("TEMP");
    if (!temp.isEmpty())
        return temp;
    // Qt creates the runtime location with mode 0700 and checks that it belongs to the user
    // (XDG_RUNTIME_DIR, or /tmp/runtime-<user> when that is not set).
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
    // Qt refuses a runtime folder that is not the user's own (another user may have taken its
    // name in the shared /tmp) and gives nothing: a private folder in the user's cache instead.
    const QString cache =
        join(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation), QStringLiteral("Pelicorde"));
    QDir().mkpath(cache);
    QFile::setPermissions(cache, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return cache;
}

QString privateFolderIn(const QString &base)
{
    if (base.isEmpty())
        return {};
    const QString mine = join(base, QStringLiteral("pelicorde-%1").arg(::getuid()));
    const QByteArray path = QFile::encodeName(mine);
    ::mkdir(path.constData(), 0700);
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()
        && (st.st_mode & 077) == 0)
        return mine;
    QByteArray fresh = path + "-XXXXXX";
    return ::mkdtemp(fresh.data()) ? QFile::decodeName(fresh) : QString();
}

bool ensureDataFolder(const QString &path)
{
    if (QFileInfo(path).isDir())
        return true;
    if (envValue("APPDATA").isEmpty()) {
        const QString parent = defaultDataParent();
        if (!QFileInfo(parent).isDir())
            QDir().mkpath(parent);
    }
    return QDir().mkdir(path);
}

QString join(const QString &dir, const QString &name)
{
    if (dir.endsWith(QLatin1Char('/')))
        return dir + name;
    return dir + QLatin1Char('/') + name;
}

} // namespace folders
