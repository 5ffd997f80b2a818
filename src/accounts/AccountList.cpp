#include "accounts/AccountList.h"

#include "accounts/AccountFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace accounts {

QStringList listAccounts(const QString &dataFolder)
{
    const QDir dir(dataFolder);
    if (dataFolder.isEmpty() || !dir.exists())
        return {};

    // Name filters compare without regard to case unless told otherwise.
    const QStringList entries =
        dir.entryList({QStringLiteral("*.adr")},
                      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    QStringList names;
    for (const QString &entry : entries) {
        const QString name = entry.chopped(4);
        if (name != favouriteName())
            names.append(name);
    }
    // The folder listing comes in no particular order on Linux.
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

bool makeFavourite(const QString &dataFolder, const QString &accountName)
{
    // The name comes from the list, but never let it reach outside the data folder.
    if (accountName.contains(QLatin1Char('/')))
        return false;
    const QString source = accountFilePath(dataFolder, accountName);
    if (!QFileInfo(source).isFile())
        return false;
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    return writePrivateFile(favouriteFilePath(dataFolder), bytes);
}

QString favouriteFailedMessage()
{
    return QStringLiteral("Echec de la création du favori !!");
}

} // namespace accounts
