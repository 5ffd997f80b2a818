// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>
#include <QList>

// The saved accounts offered by "Compte", and the choice that makes one the favourite.
namespace accounts {

// One item of the list: the account name shown, and the file it stands for, whose suffix may
// be written in any letter case ("Bob.ADR").
struct AccountItem
{
    QString name;
    QString fileName;
    bool operator==(const AccountItem &) const = default;
};

// The accounts in the data folder: every entry whose name ends in ".adr" (any letter case,
// files and folders, hidden ones too), named without that suffix; "_Favori" (case-sensitive
// comparison) and the nameless ".adr" left out; sorted by name. Empty when the folder is
// missing.
QList<AccountItem> listAccounts(const QString &dataFolder);

// Copies "<dataFolder>/<fileName>" over "_Favori.adr" (atomically, mode 0600).
// False when it cannot: then the favourite is left as it was, and *why says why when the
// favourite could not be written (a link or a device in its place).
bool makeFavourite(const QString &dataFolder, const QString &fileName, QString *why = nullptr);

// "Echec de la création du favori !!": shown when makeFavourite fails.
QString favouriteFailedMessage();

} // namespace accounts
