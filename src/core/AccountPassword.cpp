// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/AccountPassword.h"

#include "core/Keyring.h"

#include <QHash>

namespace accounts {

namespace {
// Why each account's password could not be had, by keyring key.
QHash<QString, QString> &unavailable()
{
    static QHash<QString, QString> reasons;
    return reasons;
}
} // namespace

QString keyringKey(const QString &address, const QString &server)
{
    return QStringLiteral("%1 sur %2").arg(address, server);
}

QString passwordFromKeyring(Account &account)
{
    const QString key = keyringKey(account.address, account.server);
    const keyring::Answer answer = keyring::read(key);
    // An empty entry is no password either.
    if (answer.ok && !answer.secret.isEmpty()) {
        account.password = answer.secret;
        unavailable().remove(key);
        return {};
    }
    const QString why = answer.ok ? QStringLiteral("le trousseau de la session en garde un vide") : answer.why;
    unavailable().insert(key, why);
    return why;
}

QString passwordUnavailable(const QString &address, const QString &server)
{
    return unavailable().value(keyringKey(address, server));
}

SaveStatus saveAccountWithKeyring(const QString &dataFolder, const Account &account, QString *refusal)
{
    refusal->clear();
    if (!keyring::present())
        return saveAccount(dataFolder, account);
    if (const SaveStatus refused = checkAccount(dataFolder, account); refused != SaveStatus::Saved)
        return refused;
    const QString key = keyringKey(account.address, account.server);
    if (const keyring::Answer answer = keyring::write(key, account.password); !answer.ok) {
        *refusal = QStringLiteral("Le mot de passe n'a pas pu être confié au trousseau de la session (%1) : "
                                  "le compte n'a pas été sauvegardé")
                       .arg(answer.why);
        return SaveStatus::WriteFailed;
    }
    unavailable().remove(key);
    Account stored = account;
    stored.password.clear();
    if (!writePrivateFile(accountFilePath(dataFolder, account.address), encodeAccount(stored)))
        return SaveStatus::WriteFailed;
    // The favourite is a copy made by "Compte": the one of this account loses its password too.
    const LoadResult favourite = loadFavourite(dataFolder);
    if (favourite.status == LoadStatus::Loaded && favourite.fields.address == account.address
        && favourite.fields.server == account.server && !favourite.fields.password.isEmpty()) {
        Account copy = favourite.fields;
        copy.password.clear();
        writePrivateFile(favouriteFilePath(dataFolder), encodeAccount(copy));
    }
    return SaveStatus::Saved;
}

} // namespace accounts
