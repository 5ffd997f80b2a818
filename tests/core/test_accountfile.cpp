// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include "core/AccountFile.h"
#include "core/Ansi.h"
#include "core/BlacklistFile.h"
#include "core/AccountList.h"
#include "protocol/CertificateTrust.h"
#include "protocol/EncryptedServers.h"
#include "support/FeedingFifo.h"
#include "support/TestFiles.h"

#include <QLocalServer>
#include <QSslConfiguration>
#include <functional>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace accounts;

namespace {
int modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

const Account kAccent{QStringLiteral("pop.éxemple.fr"), QStringLiteral("995"),
                      QStringLiteral("mot dé passe €"), QStringLiteral("rené@exemple.fr")};
} // namespace

class AccountFileTest : public QObject
{
    Q_OBJECT
private slots:
    void savedFileIsTheScrambledFieldsAndLoadsBack()
    {
        QTemporaryDir dir;
        QCOMPARE(saveAccount(dir.path(), kAccent), SaveStatus::Saved);
        QCOMPARE(saveMessage(SaveStatus::Saved),
                 QStringLiteral("Le compte de réception actuellement utilisé a été sauvegardé"));

        const QString path = dir.filePath(QStringLiteral("rené@exemple.fr.adr"));
        const QByteArray stored = readBytes(path);
        // Four Windows-1252 texts (one byte per character here) and four LFs.
        QCOMPARE(stored.size(), kAccent.server.size() + kAccent.port.size()
                                    + kAccent.password.size() + kAccent.address.size() + 4);
        // 'p' (0x70) XOR (0x6B + 1); the LF after the server at position 15: 0x0A XOR 0x7A.
        QCOMPARE(quint8(stored.at(0)), quint8(0x70 ^ 0x6C));
        QCOMPARE(quint8(stored.at(14)), quint8(0x0A ^ 0x7A));
        // 'é' is the single byte 0xE9 at position 5.
        QCOMPARE(quint8(stored.at(4)), quint8(0xE9 ^ 0x70));
        QCOMPARE(modeOf(path), 0600);

        const LoadResult loaded = loadAccountFile(path);
        QCOMPARE(loaded.status, LoadStatus::Loaded);
        QCOMPARE(loaded.fields, kAccent);
    }

    void longAccountWrapsTheKeyAndIsReadWhole()
    {
        QTemporaryDir dir;
        Account a{QStringLiteral("s"), QStringLiteral("110"), QString(976, QLatin1Char('x')),
                  QStringLiteral("long@exemple.fr")};
        QCOMPARE(saveAccount(dir.path(), a), SaveStatus::Saved);
        const QString path = accountFilePath(dir.path(), a.address);
        const QByteArray stored = readBytes(path);
        QCOMPARE(stored.size(), kMaxFileBytes);
        // Position 256 (a password 'x'): key (0x6B + 256) mod 256 = 0x6B.
        QCOMPARE(quint8(stored.at(255)), quint8('x' ^ 0x6B));
        QCOMPARE(loadAccountFile(path).fields, a);
    }

    void sameAddressTwiceReplacesTheFile()
    {
        QTemporaryDir dir;
        Account a = kAccent;
        const QString path = accountFilePath(dir.path(), a.address);
        writeBytes(path, QByteArray(50, 'z'));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        QCOMPARE(saveAccount(dir.path(), a), SaveStatus::Saved);
        a.password = QStringLiteral("p");
        QCOMPARE(saveAccount(dir.path(), a), SaveStatus::Saved);
        QCOMPARE(loadAccountFile(path).fields, a);
        QCOMPARE(modeOf(path), 0600);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("rené@exemple.fr.adr")});
    }

    void refusedSavesWriteNothing_data()
    {
        QTest::addColumn<Account>("account");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString refused =
            QStringLiteral("Adresse de réception invalide : le compte n'a pas été sauvegardé");
        const auto with = [](auto change) { Account a = kAccent; change(a); return a; };
        const int empty = int(SaveStatus::EmptyField), invalid = int(SaveStatus::InvalidAddress);
        QTest::newRow("no server") << with([](Account &a) { a.server.clear(); }) << empty << QString();
        QTest::newRow("no port") << with([](Account &a) { a.port.clear(); }) << empty << QString();
        QTest::newRow("no password") << with([](Account &a) { a.password.clear(); }) << empty << QString();
        QTest::newRow("no address") << with([](Account &a) { a.address.clear(); }) << empty << QString();
        QTest::newRow("slash") << with([](Account &a) { a.address = QStringLiteral("../x"); }) << invalid << refused;
        QTest::newRow("backslash") << with([](Account &a) { a.address = QStringLiteral("a\\b"); }) << invalid << refused;
        QTest::newRow("dot") << with([](Account &a) { a.address = QStringLiteral("."); }) << invalid << refused;
        QTest::newRow("dot dot") << with([](Account &a) { a.address = QStringLiteral(".."); }) << invalid << refused;
        QTest::newRow("LF in password")
            << with([](Account &a) { a.password = QStringLiteral("a\nb"); }) << int(SaveStatus::InvalidField)
            << QStringLiteral("Un champ du compte contient un caractère interdit : le compte n'a pas été sauvegardé");
        QTest::newRow("over 999 bytes")
            << with([](Account &a) { a.password = QString(1000, QLatin1Char('p')); }) << int(SaveStatus::TooLong)
            << QStringLiteral("Compte trop long (999 octets au plus) : le compte n'a pas été sauvegardé");
    }

    void refusedSavesWriteNothing()
    {
        QFETCH(Account, account);
        QFETCH(int, status);
        QFETCH(QString, message);
        QTemporaryDir parent;
        const QString data = parent.filePath(QStringLiteral("data"));
        QVERIFY(QDir().mkdir(data));
        QCOMPARE(int(saveAccount(data, account)), status);
        QCOMPARE(saveMessage(SaveStatus(status)), message);
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        QVERIFY(QDir(data).entryList(all).isEmpty());
        QCOMPARE(QDir(parent.path()).entryList(all), QStringList{QStringLiteral("data")});
    }

    // Every file of the program is written beside and renamed over. A link (to a file of the
    // user's elsewhere, or to a device), a device or a folder at its name is refused with a
    // message naming the file, and nothing is written through it. The device is a private node
    // (as root; a FIFO otherwise), never one of the system's.
    void nothingIsWrittenThroughALinkOrADevice()
    {
        QTemporaryDir dir;
        const QString data = dir.filePath(QStringLiteral("data"));
        const QString outside = dir.filePath(QStringLiteral("outside.txt"));
        const QString node = dir.filePath(QStringLiteral("node"));
        QVERIFY(QDir().mkdir(data));
        writeBytes(outside, "intact");
        const QByteArray nodeName = QFile::encodeName(node);
        const bool device = ::mknod(nodeName.constData(), S_IFCHR | 0600, makedev(1, 3)) == 0;
        QVERIFY(device || ::mkfifo(nodeName.constData(), 0600) == 0);
        QCOMPARE(saveAccount(data, kAccent), SaveStatus::Saved);
        const QSslCertificate certificate = QSslConfiguration::systemCaCertificates().value(0);
        const PeerCertificate peer{QStringLiteral("pop.example"), 995, {certificate}, {}};

        const struct {
            QString path;
            std::function<bool(QString *)> write;
        } writers[] = {
            {accountFilePath(data, QStringLiteral("bob@x.fr")),
             [&](QString *why) {
                 const SaveStatus s = saveAccount(data, {QStringLiteral("s"), QStringLiteral("110"), QStringLiteral("p"),
                                                         QStringLiteral("bob@x.fr")});
                 *why = saveMessage(s, accountFilePath(data, QStringLiteral("bob@x.fr")));
                 return s == SaveStatus::Saved;
             }},
            {favouriteFilePath(data), [&](QString *why) { return makeFavourite(data, kAccent.address + ".adr", why); }},
            {certificates::storePath(data), [&](QString *why) { return certificates::remember(certificates::storePath(data), peer, why); }},
            {encryptedServers::recordPath(data),
             [&](QString *why) { return encryptedServers::remember(encryptedServers::recordPath(data), "pop.example", 110, why); }},
            {blacklist::filePath(data),
             [&](QString *why) { return blacklist::saveEditorText(blacklist::filePath(data), QStringLiteral("x"), {}, why); }},
        };
        const auto intact = [&] {
            struct stat st {};
            return readBytes(outside) == "intact" && ::lstat(nodeName.constData(), &st) == 0
                   && (device ? S_ISCHR(st.st_mode) : S_ISFIFO(st.st_mode));
        };
        for (const auto &writer : writers) {
            for (const QString &inTheWay : {QStringLiteral("link to file"), QStringLiteral("link to device"),
                                            QStringLiteral("folder")}) {
                if (inTheWay == QLatin1String("folder"))
                    QVERIFY(QDir().mkdir(writer.path));
                else
                    QVERIFY(QFile::link(inTheWay.endsWith(QLatin1String("file")) ? outside : node, writer.path));
                QString why;
                QVERIFY2(!writer.write(&why), qPrintable(writer.path + QLatin1Char(' ') + inTheWay));
                QVERIFY2(why.contains(writer.path) && why.contains(QStringLiteral("n'est pas un fichier ordinaire")),
                         qPrintable(why));
                QVERIFY(intact());
                QVERIFY(QFile::remove(writer.path) || QDir().rmdir(writer.path));
            }
            // Once nothing stands in the way, the file is written, mode 0600.
            QString why;
            QVERIFY2(writer.write(&why), qPrintable(writer.path));
            QCOMPARE(modeOf(writer.path), 0600);
        }
    }

    void favouriteLoaderEdgeCases_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<int>("status");
        QTest::addColumn<Account>("fields");
        const int loaded = int(LoadStatus::Loaded);
        QTest::newRow("0 bytes") << QByteArray() << loaded << Account{};
        QTest::newRow("two LFs") << QByteArray("srv\n995\npass") << loaded
                                 << Account{QStringLiteral("srv"), QStringLiteral("995"), {}, {}};
        QTest::newRow("address without LF") << QByteArray("s\n1\np\na@b") << loaded
                                            << Account{QStringLiteral("s"), QStringLiteral("1"), QStringLiteral("p"), {}};
        QTest::newRow("text after fourth LF") << QByteArray("s\n1\np\na@b\nmore\nand more") << loaded
                                              << Account{QStringLiteral("s"), QStringLiteral("1"), QStringLiteral("p"), QStringLiteral("a@b")};
        QTest::newRow("empty fields kept") << QByteArray("\n\n\n\n") << loaded << Account{};
        QTest::newRow("Windows-1252") << QByteArray("s\xE9\n1\n\x80\na\n") << loaded
                                      << Account{QStringLiteral("sé"), QStringLiteral("1"), QStringLiteral("€"), QStringLiteral("a")};
        QTest::newRow("NUL inside") << QByteArray("s\n1\0\np\na\n", 10) << int(LoadStatus::Damaged) << Account{};
        QTest::newRow("NUL after the fields") << QByteArray("s\n1\np\na\n\0", 10) << int(LoadStatus::Damaged) << Account{};
    }

    void favouriteLoaderEdgeCases()
    {
        QFETCH(QByteArray, plain);
        QFETCH(int, status);
        QFETCH(Account, fields);
        QTemporaryDir dir;
        writeBytes(favouriteFilePath(dir.path()), scrambled(plain));
        const LoadResult r = loadFavourite(dir.path());
        QCOMPARE(int(r.status), status);
        QCOMPARE(r.fields, fields);
    }

    void missingAndUnreadableFavourite()
    {
        QTemporaryDir dir;
        QCOMPARE(loadFavourite(dir.path()).status, LoadStatus::Missing);
        QCOMPARE(loadFavourite(dir.filePath(QStringLiteral("absent"))).status, LoadStatus::Missing);

        // A socket in its place exists but cannot be opened (whoever runs the test).
        QLocalServer server;
        server.setSocketOptions(QLocalServer::UserAccessOption);
        QVERIFY(server.listen(favouriteFilePath(dir.path())));
        QCOMPARE(loadFavourite(dir.path()).status, LoadStatus::Unreadable);
    }

    // The files the program reads, each up to its cap: one byte more, a FIFO (whose writer would
    // hand over a valid file) or a link to /dev/zero is not read. Line ends fill the files up.
    void filesReadWithinTheirCap()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("file"));
        const QSslCertificate certificate = QSslConfiguration::systemCaCertificates().value(0);
        const PeerCertificate peer{QStringLiteral("pop.example"), 995, {certificate}, {}};
        const auto filled = [](const QByteArray &bytes, qint64 size) { return bytes.leftJustified(size, '\n'); };
        const QByteArray remembered = "pop.example:995 " + certificates::fingerprint(certificate).toLatin1();
        const struct {
            std::function<QByteArray(qint64)> bytes;
            qint64 cap;
            std::function<bool()> reads;
        } files[] = {
            {[&](qint64 n) { return scrambled(filled("s\n1\np\na\n", n)); }, kMaxFileBytes,
             [&] { return loadAccountFile(path).status == LoadStatus::Loaded; }},
            {[&](qint64 n) { return filled(remembered + '\n', n); }, 1024 * 1024,
             [&] { return certificates::trustOf(path, peer) == certificates::Trust::Remembered; }},
            {[&](qint64 n) { return filled("x\t00/00/0000\r\n", n); }, blacklist::kMaxFileSize,
             [&] { return blacklist::loadEditorText(path).has_value(); }},
        };
        for (const auto &file : files) {
            writeBytes(path, file.bytes(file.cap));
            QVERIFY(file.reads());
            writeBytes(path, file.bytes(file.cap + 1));
            QVERIFY(!file.reads());
            QVERIFY(QFile::remove(path));
            {
                const FeedingFifo fifo(path, file.bytes(0));
                QVERIFY(fifo.made() && !file.reads());
            }
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
            QVERIFY(!file.reads());
            QVERIFY(QFile::remove(path));
        }
    }
};

QTEST_GUILESS_MAIN(AccountFileTest)
#include "test_accountfile.moc"
