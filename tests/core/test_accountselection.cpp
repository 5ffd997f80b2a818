// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include "core/AccountFile.h"
#include "core/AccountList.h"
#include "core/TlsRule.h"
#include "protocol/SessionAccount.h"
#include "support/TestFiles.h"

#include <sys/stat.h>

using namespace accounts;

namespace {
void touch(const QString &path, const QByteArray &bytes = "x")
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList names(const QList<AccountItem> &items)
{
    QStringList out;
    for (const AccountItem &item : items)
        out << item.name;
    return out;
}

} // namespace

class AccountSelectionTest : public QObject
{
    Q_OBJECT
private slots:
    void listing()
    {
        QTemporaryDir dir;
        QVERIFY(listAccounts(dir.path()).isEmpty());
        for (const char *name : {"b@x.adr", "a@x.adr", "_Favori.adr", "notes.txt", "adr", ".adr"})
            touch(dir.filePath(QString::fromUtf8(name)));
        QCOMPARE(names(listAccounts(dir.path())), (QStringList{QStringLiteral("a@x"), QStringLiteral("b@x")}));

        // Only the exact "_Favori" is left out; the suffix matches in any case, folders too.
        touch(dir.filePath(QStringLiteral("_favori.adr")));
        touch(dir.filePath(QStringLiteral("C@X.ADR")));
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("d@x.Adr"))));
        QCOMPARE(names(listAccounts(dir.path())),
                 (QStringList{QStringLiteral("_favori"), QStringLiteral("a@x"), QStringLiteral("b@x"),
                              QStringLiteral("C@X"), QStringLiteral("d@x")}));
        // Each item names its own file, whatever the case of its suffix.
        touch(dir.filePath(QStringLiteral("C@X.adr")));
        QCOMPARE(listAccounts(dir.path()).mid(3, 3),
                 (QList<AccountItem>{{QStringLiteral("C@X"), QStringLiteral("C@X.ADR")},
                                     {QStringLiteral("C@X"), QStringLiteral("C@X.adr")},
                                     {QStringLiteral("d@x"), QStringLiteral("d@x.Adr")}}));

        // An account saved meanwhile shows at the next listing.
        QCOMPARE(saveAccount(dir.path(), {QStringLiteral("s"), QStringLiteral("110"), QStringLiteral("p"),
                                          QStringLiteral("e@x")}),
                 SaveStatus::Saved);
        QVERIFY(names(listAccounts(dir.path())).contains(QStringLiteral("e@x")));

        QVERIFY(listAccounts(dir.filePath(QStringLiteral("missing"))).isEmpty());
    }

    void choiceCopiesTheAccountOverTheFavourite()
    {
        QTemporaryDir dir;
        const Account chosen{QStringLiteral("pop.exemple.fr"), QStringLiteral("995"),
                             QStringLiteral("sécret"), QStringLiteral("moi@exemple.fr")};
        QCOMPARE(saveAccount(dir.path(), chosen), SaveStatus::Saved);
        const QString favourite = favouriteFilePath(dir.path());
        touch(favourite, "an older favourite, much longer than the new one");
        QFile::setPermissions(favourite, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);

        QVERIFY(makeFavourite(dir.path(), chosen.address + QStringLiteral(".adr")));
        QCOMPARE(readBytes(favourite), readBytes(accountFilePath(dir.path(), chosen.address)));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(favourite).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0600);
        const LoadResult r = loadFavourite(dir.path());
        QCOMPARE(r.status, LoadStatus::Loaded);
        QCOMPARE(r.fields, chosen);
        QVERIFY(usesTls(r.fields.port));
    }

    void failedChoiceTouchesNothing()
    {
        QTemporaryDir dir;
        const QString favourite = favouriteFilePath(dir.path());
        touch(favourite, "current favourite");
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("folder.adr"))));
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        const QStringList before = QDir(dir.path()).entryList(all);

        QVERIFY(!makeFavourite(dir.path(), QStringLiteral("deleted@x.adr")));
        QVERIFY(!makeFavourite(dir.path(), QStringLiteral("folder.adr")));
        QCOMPARE(readBytes(favourite), QByteArray("current favourite"));
        QCOMPARE(QDir(dir.path()).entryList(all), before);
        QCOMPARE(favouriteFailedMessage(), QStringLiteral("Echec de la création du favori !!"));

        // A folder in place of the favourite: the copy fails and leaves no stray file.
        QVERIFY(QFile::remove(favourite));
        QVERIFY(QDir().mkdir(favourite));
        touch(dir.filePath(QStringLiteral("a@x.adr")));
        QVERIFY(!makeFavourite(dir.path(), QStringLiteral("a@x.adr")));
        QVERIFY(QFileInfo(favourite).isDir());
        QCOMPARE(QDir(dir.path()).entryList(all).size(), before.size() + 1);
    }

    void tlsRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("tls");
        QTest::newRow("110") << "110" << 110 << false;
        QTest::newRow("900") << "900" << 900 << false;
        QTest::newRow("901") << "901" << 901 << true;
        QTest::newRow("995") << "995" << 995 << true;
        QTest::newRow("empty") << "" << 110 << false;
        QTest::newRow("abc") << "abc" << 110 << false;
        QTest::newRow("plus") << "+995" << 995 << true;
        QTest::newRow("minus") << "-995" << -995 << false;
        QTest::newRow("sign alone") << "-" << 110 << false;
        QTest::newRow("hexadecimal") << "$3E3" << 110 << false;
        QTest::newRow("0x") << "0x3E3" << 110 << false;
        QTest::newRow("blank before") << " 995" << 995 << true;
        QTest::newRow("blanks after") << "995  " << 995 << true;
        QTest::newRow("tab and blanks") << "\t 901 " << 901 << true;
        QTest::newRow("blank inside") << "9 95" << 110 << false;
        QTest::newRow("blanks only") << "   " << 110 << false;
        QTest::newRow("trailing") << "995a" << 110 << false;
        QTest::newRow("Arabic-Indic digits") << QStringLiteral("٩٩٥") << 110 << false;
        QTest::newRow("beyond int") << "99999999999" << 110 << false;
    }

    void tlsRule()
    {
        QFETCH(QString, text);
        QFETCH(int, port);
        QFETCH(bool, tls);
        QCOMPARE(portNumber(text), port);
        QCOMPARE(usesTls(text), tls);
    }

    // IMAP on its own ports or for a server written imap://host or imaps://host, POP3 for
    // pop3:// and pop3s:// on any port (the prefix is no part of the host); the "s" schemes are
    // implicit TLS, and a scheme's own port stands in for a field that holds no number.
    void protocolRule_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("imap");
        QTest::addColumn<int>("portUsed"); // 0: the field's
        QTest::addColumn<bool>("tls");
        QTest::newRow("110") << "mail.example" << "110" << "mail.example" << false << 0 << false;
        QTest::newRow("995") << "mail.example" << "995" << "mail.example" << false << 0 << false;
        QTest::newRow("143") << "mail.example" << "143" << "mail.example" << true << 0 << false;
        QTest::newRow("993") << "mail.example" << "993" << "mail.example" << true << 0 << false;
        QTest::newRow("993 with blanks") << "mail.example" << " 993 " << "mail.example" << true << 0 << false;
        QTest::newRow("imap:// on 1143") << "imap://mail.example" << "1143" << "mail.example" << true << 0 << false;
        QTest::newRow("IMAP:// on 110") << "IMAP://mail.example" << "110" << "mail.example" << true << 0 << false;
        QTest::newRow("imap in the name") << "imap.example" << "110" << "imap.example" << false << 0 << false;
        QTest::newRow("imaps:// without a port") << "imaps://mail.example" << "" << "mail.example" << true << 993 << true;
        QTest::newRow("imaps:// on 143") << "imaps://mail.example" << "143" << "mail.example" << true << 0 << true;
        QTest::newRow("pop3:// on 993") << "pop3://mail.example" << "993" << "mail.example" << false << 0 << false;
        QTest::newRow("pop3s:// without a port") << "POP3S://mail.example" << "-" << "mail.example" << false << 995 << true;
    }

    void protocolRule()
    {
        QFETCH(QString, server);
        QFETCH(QString, port);
        QFETCH(QString, host);
        QFETCH(bool, imap);
        QFETCH(int, portUsed);
        QFETCH(bool, tls);
        const MailAccount a = sessionAccount(server, port, QStringLiteral("moi@example.org"), QStringLiteral("x"), false);
        QCOMPARE(a.host, host);
        QCOMPARE(a.protocol == MailAccount::Protocol::Imap, imap);
        QCOMPARE(int(a.port), portUsed ? portUsed : accounts::portNumber(port));
        QCOMPARE(a.tls, tls);
    }
};

QTEST_GUILESS_MAIN(AccountSelectionTest)
#include "test_accountselection.moc"
