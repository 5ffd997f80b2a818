// SPDX-License-Identifier: GPL-3.0-or-later
// An account file as found in the data folder: any bytes. Decoding, loading, saving again,
// making it the favourite and the TLS rule on its port field.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "FuzzCheck.h"
#include "core/AccountFile.h"
#include "core/AccountList.h"
#include "core/TlsRule.h"

using namespace accounts;

namespace {
void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
}

void checkPort(const QString &port)
{
    const int number = portNumber(port);
    FUZZ_CHECK(usesTls(port) == (number > kHighestPlainPort));
    // Blanks around the number never change it.
    FUZZ_CHECK(portNumber(QLatin1Char(' ') + port + QLatin1Char(' ')) == number);
    bool ok = false;
    const int plain = port.toInt(&ok);
    bool digitsOnly = !port.isEmpty() && port.size() <= 9;
    for (QChar c : port)
        digitsOnly = digitsOnly && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (digitsOnly)
        FUZZ_CHECK(ok && number == plain);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir root;
    static const QString dataFolder = root.path() + QStringLiteral("/data");
    QDir(dataFolder).removeRecursively();
    FUZZ_CHECK(QDir().mkpath(dataFolder));

    const QByteArray stored(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray plain = scrambled(stored);
    FUZZ_CHECK(scrambled(plain) == stored);

    const std::optional<Account> account = decodeAccount(stored);
    FUZZ_CHECK(account.has_value() == !plain.contains('\0'));

    const QString path = accountFilePath(dataFolder, QStringLiteral("fuzz"));
    writeFile(path, stored);
    const LoadResult loaded = loadAccountFile(path);
    if (!account) {
        FUZZ_CHECK(loaded.status == LoadStatus::Damaged);
        return 0;
    }
    FUZZ_CHECK(loaded.status == LoadStatus::Loaded && loaded.fields == *account);
    for (const QString *field : {&account->server, &account->port, &account->password, &account->address})
        FUZZ_CHECK(!field->contains(QLatin1Char('\n')) && !field->contains(QChar(0)));
    checkPort(account->port);

    // A file with its four LFs is the encoding of what it holds, byte for byte.
    if (plain.count('\n') >= 4) {
        qsizetype end = -1;
        for (int i = 0; i < 4; ++i)
            end = plain.indexOf('\n', end + 1);
        FUZZ_CHECK(encodeAccount(*account) == scrambled(plain.left(end + 1)));
    }
    FUZZ_CHECK(decodeAccount(encodeAccount(*account)) == account);

    // The favourite is a copy: loading it gives the same fields, and it is never listed.
    FUZZ_CHECK(makeFavourite(dataFolder, QStringLiteral("fuzz.adr")));
    const LoadResult favourite = loadFavourite(dataFolder);
    FUZZ_CHECK(favourite.status == LoadStatus::Loaded && favourite.fields == *account);

    // Saving under the address writes one file into the data folder and nowhere else.
    const SaveStatus saved = saveAccount(dataFolder, *account);
    const QStringList outside = QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    FUZZ_CHECK(outside == QStringList{QStringLiteral("data")});
    const QList<AccountItem> listed = listAccounts(dataFolder);
    for (const AccountItem &item : listed)
        FUZZ_CHECK(item.name != favouriteName());
    if (saved == SaveStatus::Saved) {
        const LoadResult again = loadAccountFile(accountFilePath(dataFolder, account->address));
        FUZZ_CHECK(again.status == LoadStatus::Loaded && again.fields == *account);
        bool found = false;
        for (const AccountItem &item : listed)
            found = found || item.name == account->address || account->address == favouriteName();
        FUZZ_CHECK(found);
    }
    return 0;
}
