#pragma once
#include <QString>
#include <QStringList>

// The saved accounts offered by "Compte", and the choice that makes one the favourite.
namespace accounts {

// Account names in the data folder: every entry whose name ends in ".adr" (any letter case,
// files and folders, hidden ones too) without that suffix, "_Favori" left out (case-sensitive
// comparison), sorted by name. Empty when the folder is missing.
QStringList listAccounts(const QString &dataFolder);

// Copies "<dataFolder>/<accountName>.adr" over "_Favori.adr" (atomically, mode 0600).
// False when it cannot: then the favourite is left as it was.
bool makeFavourite(const QString &dataFolder, const QString &accountName);

// "Echec de la création du favori !!": shown when makeFavourite fails.
QString favouriteFailedMessage();

} // namespace accounts
