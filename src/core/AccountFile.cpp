// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/AccountFile.h"

#include "core/Ansi.h"
#include "core/Folders.h"
#include "core/SafeFile.h"

#include <QFile>
#include <QFileInfo>

namespace accounts {

namespace {
constexpr char kLf = '\n';

bool holdsLineBreakOrNul(const QString &text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QChar(0));
}

// The account name becomes a file name in the data folder: it must name a file there.
bool usableAsAccountName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}
} // namespace

QByteArray scrambled(QByteArray bytes)
{
    char *p = bytes.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        // Positions count from 1: the first byte uses key (seed + 1).
        const auto key = static_cast<unsigned char>(kScrambleSeed + i + 1);
        p[i] = static_cast<char>(static_cast<unsigned char>(p[i]) ^ key);
    }
    return bytes;
}

QByteArray encodeAccount(const Account &account)
{
    QByteArray plain;
    for (const QString *field : {&account.server, &account.port, &account.password, &account.address}) {
        plain += ansi::fromUnicode(*field);
        plain += kLf;
    }
    return scrambled(plain);
}

std::optional<Account> decodeAccount(const QByteArray &stored)
{
    const QByteArray plain = scrambled(stored);
    if (plain.contains('\0'))
        return std::nullopt;

    // A field is the text before its own LF; without that LF it and every later field are empty.
    QString fields[4];
    qsizetype start = 0;
    for (QString &field : fields) {
        const qsizetype lf = plain.indexOf(kLf, start);
        if (lf < 0)
            break;
        field = ansi::toUnicode(plain.constData() + start, lf - start);
        start = lf + 1;
    }
    return Account{fields[0], fields[1], fields[2], fields[3]};
}

QString accountFilePath(const QString &dataFolder, const QString &accountName)
{
    return folders::join(dataFolder, accountName + QLatin1String(".adr"));
}

QString favouriteName()
{
    return QStringLiteral("_Favori");
}

QString favouriteFilePath(const QString &dataFolder)
{
    return accountFilePath(dataFolder, favouriteName());
}

bool writePrivateFile(const QString &path, const QByteArray &bytes, QString *why)
{
    return files::writePrivate(path, bytes, why);
}

SaveStatus checkAccount(const QString &dataFolder, const Account &account)
{
    if (account.server.isEmpty() || account.port.isEmpty() || account.password.isEmpty()
        || account.address.isEmpty())
        return SaveStatus::EmptyField;
    if (!usableAsAccountName(account.address))
        return SaveStatus::InvalidAddress;
    if (holdsLineBreakOrNul(account.server) || holdsLineBreakOrNul(account.port)
        || holdsLineBreakOrNul(account.password) || holdsLineBreakOrNul(account.address))
        return SaveStatus::InvalidField;
    if (encodeAccount(account).size() > kMaxFileBytes)
        return SaveStatus::TooLong;
    if (files::holdsOtherThanFile(accountFilePath(dataFolder, account.address)))
        return SaveStatus::NotAFile;
    return SaveStatus::Saved;
}

SaveStatus saveAccount(const QString &dataFolder, const Account &account)
{
    if (const SaveStatus refused = checkAccount(dataFolder, account); refused != SaveStatus::Saved)
        return refused;
    if (!writePrivateFile(accountFilePath(dataFolder, account.address), encodeAccount(account)))
        return SaveStatus::WriteFailed;
    return SaveStatus::Saved;
}

QString saveMessage(SaveStatus status, const QString &path)
{
    switch (status) {
    case SaveStatus::Saved:
        return QStringLiteral("Le compte de réception actuellement utilisé a été sauvegardé");
    case SaveStatus::InvalidAddress:
        return QStringLiteral("Adresse de réception invalide : le compte n'a pas été sauvegardé");
    case SaveStatus::InvalidField:
        return QStringLiteral(
            "Un champ du compte contient un caractère interdit : le compte n'a pas été sauvegardé");
    case SaveStatus::TooLong:
        return QStringLiteral("Compte trop long (%1 octets au plus) : le compte n'a pas été sauvegardé")
            .arg(kMaxFileBytes);
    case SaveStatus::NotAFile:
        return QStringLiteral("%1 n'est pas un fichier ordinaire (un lien, un périphérique, un tube ou un dossier) : "
                              "le compte n'a pas été sauvegardé")
            .arg(path);
    case SaveStatus::EmptyField:
    case SaveStatus::WriteFailed:
        break;
    }
    return QString();
}

LoadResult loadAccountFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return {LoadStatus::Missing, {}};
    const std::optional<QByteArray> stored = files::readWhole(path, kMaxFileBytes);
    if (!stored)
        return {LoadStatus::Unreadable, {}};

    const std::optional<Account> account = decodeAccount(*stored);
    if (!account)
        return {LoadStatus::Damaged, {}};
    return {LoadStatus::Loaded, *account};
}

LoadResult loadFavourite(const QString &dataFolder)
{
    return loadAccountFile(favouriteFilePath(dataFolder));
}

} // namespace accounts
