// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/AccountList.h"

#include "core/AccountFile.h"
#include "core/Folders.h"
#include "core/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace accounts {

QList<AccountItem> listAccounts(const QString &dataFolder)
{
    const QDir dir(dataFolder);
    if (dataFolder.isEmpty() || !dir.exists())
        return {};

    // Name filters compare without regard to case unless told otherwise.
    const QStringList entries =
        dir.entryList({QStringLiteral("*.adr")},
                      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QList<AccountItem> items;
    for (const QString &entry : entries) {
        const QString name = entry.chopped(4);
        if (!name.isEmpty() && name != favouriteName())
            items.append({name, entry});
    }
    // The folder listing comes in no particular order on Linux.
    std::sort(items.begin(), items.end(), [](const AccountItem &a, const AccountItem &b) {
        const int c = a.name.compare(b.name, Qt::CaseInsensitive);
        if (c != 0)
            return c < 0;
        return a.name != b.name ? a.name < b.name : a.fileName < b.fileName;
    });
    return items;
}

bool makeFavourite(const QString &dataFolder, const QString &fileName, QString *why)
{
    // The name comes from the list, but never let it reach outside the data folder.
    if (fileName.isEmpty() || fileName.contains(QLatin1Char('/')))
        return false;
    const std::optional<QByteArray> bytes = files::readWhole(folders::join(dataFolder, fileName), kMaxFileBytes);
    return bytes && writePrivateFile(favouriteFilePath(dataFolder), *bytes, why);
}

QString favouriteFailedMessage()
{
    return QStringLiteral("Echec de la création du favori !!");
}

} // namespace accounts
