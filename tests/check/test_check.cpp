// SPDX-License-Identifier: GPL-3.0-or-later
// pelicorde-check as a status bar runs it: the real program against the test Dovecot, its
// one line of JSON, its exit code, and the files it must leave alone.
#include <QtTest>

#include "core/AccountFile.h"
#include "protocol/CertificateTrust.h"
#include "support/DovecotServer.h"
#include "support/FeedingFifo.h"
#include "support/LearningMail.h"
#include "support/TestFiles.h"

#include <QTcpServer>
#include <optional>
#include <sys/stat.h>

namespace {

QByteArray mail(const QByteArray &from, int i)
{
    return "From: <" + from + ">\r\nTo: pelicorde@example.com\r\nSubject: Message " + QByteArray::number(i)
           + "\r\nDate: Mon, 3 Jun 2024 10:00:00 +0200\r\nMessage-ID: <" + QByteArray::number(i)
           + "@example.org>\r\n\r\nCorps\r\n";
}

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
};

} // namespace

class CheckTest : public QObject
{
    Q_OBJECT
    DovecotServer dovecot;
    QTemporaryDir appData;
    QString dataFolder() const { return appData.filePath(QStringLiteral("Pelicorde")); }

    Run check(const QStringList &arguments = {})
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("APPDATA"), appData.path());
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("PELICORDE_CHECK"), arguments);
        if (!p.waitForFinished(60000))
            p.kill();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
                p.readAllStandardError()};
    }

    void writeFavourite(const QString &password, bool imap = false)
    {
        const accounts::Account a{imap ? QStringLiteral("imap://") + dovecot.host() : dovecot.host(),
                                  QString::number(imap ? dovecot.imapsPort() : dovecot.tlsPort()), password, dovecot.user()};
        writeBytes(accounts::favouriteFilePath(dataFolder()), accounts::encodeAccount(a));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(!qEnvironmentVariableIsEmpty("PELICORDE_CHECK"));
        QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText()));
        QVERIFY(QDir().mkpath(dataFolder()));
        // The window has had the server's certificate confirmed.
        for (const quint16 port : {dovecot.tlsPort(), dovecot.imapsPort()}) {
            const PeerCertificate peer{dovecot.host(), port, QSslCertificate::fromPath(dovecot.certificatePath()), {}};
            QVERIFY(certificates::remember(certificates::storePath(dataFolder()), peer));
        }
    }

    // Counts, then only what arrived since; the blacklist's dates are never written. Over IMAP
    // no message is marked \Seen.
    void counts_data() { bothProtocols(); }
    void counts()
    {
        QFETCH(bool, imap);
        QFile::remove(dataFolder() + QStringLiteral("/pelicorde-check.uid"));
        const QByteArray blacklist = "spam.example\t00/00/0000\r\npromo@\t00/00/0000\r\n";
        const QString blacklistPath = dataFolder() + QStringLiteral("/Liste-noire.txt");
        writeBytes(blacklistPath, blacklist);
        writeFavourite(dovecot.password(), imap);
        dovecot.setMessages({mail("ami@example.org", 1), mail("x@spam.example", 2), mail("promo@shop.example", 3)});

        Run r = check();
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("{\"messages\": 3, \"marked\": 2, \"new\": 3}\n"));
        QCOMPARE(readBytes(blacklistPath), blacklist);

        r = check();
        QCOMPARE(r.out, QByteArray("{\"messages\": 3, \"marked\": 2, \"new\": 0}\n"));

        dovecot.addMessage(mail("y@spam.example", 4));
        r = check();
        QCOMPARE(r.out, QByteArray("{\"messages\": 4, \"marked\": 3, \"new\": 1}\n"));
        QCOMPARE(dovecot.storedMessages().size(), 4); // nothing deleted
        QCOMPARE(dovecot.storedFlags(), QStringList(4, QString()));
    }

    // Once the score has learned enough, the line also counts the marked messages it suggested;
    // friends are never counted, and with the window's switch off the line is as before.
    void suggested()
    {
        using namespace learningmail;
        QFile::remove(dataFolder() + QStringLiteral("/pelicorde-check.uid"));
        writeBytes(dataFolder() + QStringLiteral("/Liste-noire.txt"), "spam.example\t00/00/0000\r\n");
        writeFavourite(dovecot.password());
        trainStore(dataFolder());
        dovecot.setMessages({wholeMail(spam(100)), wholeMail(ham(100)), mail("x@spam.example", 2), wholeMail(spam(101))});
        QCOMPARE(check().out, QByteArray("{\"messages\": 4, \"marked\": 3, \"new\": 4, \"suggested\": 2}\n"));

        writeBytes(dataFolder() + QStringLiteral("/Liste-amis.txt"), "x3131q@promo-masse.example\r\n");
        QCOMPARE(check().out, QByteArray("{\"messages\": 4, \"marked\": 2, \"new\": 0, \"suggested\": 1}\n"));

        // --list: each message before the line, who ticked it and its score.
        const QList<QByteArray> lines = check({QStringLiteral("--list")}).out.split('\n');
        QCOMPARE(lines.size(), 6);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\{\"number\": 1, \"id\": \"[^\"]+\", \"sender\": \"x3100q@promo-masse.example\", "
                                                   "\"subject\": \"[^\"]+\", \"ticked_by\": \"score\", \"score\": (0\\.9\\d+|1\\.0+)\\}$"))
                     .match(QString::fromUtf8(lines[0])).hasMatch(), lines[0].constData());
        QVERIFY(lines[2].contains("\"ticked_by\": \"blacklist\""));
        QVERIFY(lines[3].contains("\"ticked_by\": null"));
        QCOMPARE(lines[4], QByteArray("{\"messages\": 4, \"marked\": 2, \"new\": 0, \"suggested\": 1}"));

        writeBytes(dataFolder() + QStringLiteral("/Options.txt"), "suggestions=0\n");
        QCOMPARE(check().out, QByteArray("{\"messages\": 4, \"marked\": 1, \"new\": 0}\n"));
        for (const char *name : {"/Options.txt", "/Liste-amis.txt", "/Apprentissage.sqlite", "/Apprentissage.sqlite-wal",
                                 "/Apprentissage.sqlite-shm"})
            QFile::remove(dataFolder() + QLatin1String(name));
    }

    // --learn-spam and --learn-ham: an mbox and a Maildir learned once per message, a message
    // learned the other way moved; a path that cannot be read is said, and nothing read is a failure.
    void learnFromFiles()
    {
        using namespace learningmail;
        QTemporaryDir files;
        QByteArray mbox;
        for (int i = 200; i < 203; ++i)
            mbox += "From x@y Mon Dec  7 10:00:00 2026\n" + wholeMail(spam(i)).replace("\r\n", "\n") + "\n";
        writeBytes(files.filePath(QStringLiteral("Junk.mbox")), mbox);
        QVERIFY(QDir().mkpath(files.filePath(QStringLiteral("Maildir/cur"))) && QDir().mkpath(files.filePath(QStringLiteral("Maildir/new"))));
        for (int i = 200; i < 202; ++i)
            writeBytes(files.filePath(QStringLiteral("Maildir/cur/%1.eml").arg(i)), wholeMail(ham(i)));
        const QString store = dataFolder() + QStringLiteral("/Apprentissage.sqlite");

        Run r = check({QStringLiteral("--learn-spam"), files.filePath(QStringLiteral("Junk.mbox"))});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("{\"learned\": \"spam\", \"messages\": 3, \"added\": 3, \"moved\": 0, \"unchanged\": 0}\n"));
        r = check({QStringLiteral("--learn-ham"), files.filePath(QStringLiteral("Maildir")), files.filePath(QStringLiteral("Junk.mbox"))});
        QCOMPARE(r.out, QByteArray("{\"learned\": \"ham\", \"messages\": 5, \"added\": 2, \"moved\": 3, \"unchanged\": 0}\n"));
        QCOMPARE(learned(dataFolder()), std::pair(0, 5));
        QCOMPARE(QFile::permissions(store) & 0x0077, QFileDevice::Permissions());

        r = check({QStringLiteral("--learn-spam"), files.filePath(QStringLiteral("absent"))});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.err.startsWith("pelicorde-check: "));
        r = check({QStringLiteral("--learn-ham")});
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.out.isEmpty());
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(store + QLatin1String(suffix));
    }

    // What stands in the data folder or in the way, and what the program says of it: the uid
    // file a FIFO (neither read nor written), a read-only blacklist, a uid file that cannot be
    // saved, a blacklist that cannot be read (no count passes for "0 marked"), a server that
    // refuses the connection (in French, not in Qt's English).
    void dataFolderFiles_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QString>("err"); // without "pelicorde-check: " and the line end
        const QByteArray counts("{\"messages\": 2, \"marked\": 1, \"new\": 2}\n");
        const QString notAFile = QStringLiteral("Impossible d'écrire <uid> (ce n'est pas un fichier ordinaire mais un "
                                                "lien, un périphérique, un tube ou un dossier : rien n'y a été écrit)");
        const QString unreadable = QStringLiteral("Liste noire illisible : <blacklist> (ce n'est pas un fichier ordinaire, "
                                                  "ou il dépasse 1 Mo, ou sa lecture est refusée)");
        QTest::newRow("uid file a FIFO") << QStringLiteral("fifo") << QByteArray() << notAFile;
        QTest::newRow("read-only blacklist") << QStringLiteral("read-only") << counts << QString();
        QTest::newRow("uid file cannot be saved") << QStringLiteral("unsaved") << QByteArray() << notAFile;
        QTest::newRow("blacklist a FIFO") << QStringLiteral("blacklist fifo") << QByteArray() << unreadable;
        QTest::newRow("blacklist too large") << QStringLiteral("blacklist large") << QByteArray() << unreadable;

        QTest::newRow("connection refused") << QStringLiteral("refused") << QByteArray()
                                            << QStringLiteral("Connexion impossible au serveur 127.0.0.1:<port> : "
                                                              "connexion refusée par le serveur");
    }
    void dataFolderFiles()
    {
        QFETCH(QString, what);
        QFETCH(QByteArray, out);
        QFETCH(QString, err);
        const QString blacklistPath = dataFolder() + QStringLiteral("/Liste-noire.txt");
        const QString seenPath = dataFolder() + QStringLiteral("/pelicorde-check.uid");
        writeBytes(blacklistPath, "spam.example\t00/00/0000\r\n");
        QTcpServer gone; // a port nobody listens on
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        const QString port = QString::number(gone.serverPort());
        gone.close();
        const accounts::Account refused{dovecot.host(), port, dovecot.password(), dovecot.user()};
        if (what == QLatin1String("refused"))
            writeBytes(accounts::favouriteFilePath(dataFolder()), accounts::encodeAccount(refused));
        else
            writeFavourite(dovecot.password());
        dovecot.setMessages({mail("ami@example.org", 1), mail("x@spam.example", 2)});
        QFile::remove(seenPath);
        if (what == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(seenPath).constData(), 0600), 0); // no writer: opening it blocks
        if (what == QLatin1String("read-only"))
            QVERIFY(QFile::setPermissions(blacklistPath, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        if (what == QLatin1String("unsaved"))
            QVERIFY(QDir().mkdir(seenPath)); // in the way of the file, for root too
        if (what == QLatin1String("blacklist large"))
            QVERIFY(QFile::resize(blacklistPath, 1024 * 1024 + 1)); // sparse: no disk used
        std::optional<FeedingFifo> fifo;
        if (what == QLatin1String("blacklist fifo")) {
            QVERIFY(QFile::remove(blacklistPath));
            fifo.emplace(blacklistPath, "spam.example\t00/00/0000\r\n");
            QVERIFY(fifo->made());
        }
        const Run r = check();
        fifo.reset();
        QFile::setPermissions(blacklistPath, QFile::ReadOwner | QFile::WriteOwner);
        QDir().rmdir(seenPath);
        QFile::remove(seenPath);
        QCOMPARE(r.out, out);
        QCOMPARE(r.exitCode, out.isEmpty() ? 2 : 0);
        QCOMPARE(QString::fromUtf8(r.err), err.isEmpty() ? QString() : QStringLiteral("pelicorde-check: ")
                 + err.replace(QLatin1String("<uid>"), seenPath).replace(QLatin1String("<port>"), port)
                       .replace(QLatin1String("<blacklist>"), blacklistPath)
                 + u'\n');
    }

    // The program stands on the core alone: no widgets, no web engine, no GUI library.
    void needsNoWindowLibrary()
    {
        QProcess ldd;
        ldd.start(QStringLiteral("ldd"), {qEnvironmentVariable("PELICORDE_CHECK")});
        QVERIFY(ldd.waitForFinished());
        const QByteArray libraries = ldd.readAllStandardOutput();
        QVERIFY2(libraries.contains("libQt6Core"), libraries.constData());
        for (const char *library : {"libQt6Gui", "libQt6Widgets", "libQt6WebEngine"})
            QVERIFY2(!libraries.contains(library), library);
    }

    // Failures: one line on stderr, nothing on stdout, exit 2.
    void failures_data()
    {
        QTest::addColumn<bool>("favourite");
        QTest::addColumn<QString>("password");
        QTest::newRow("no favourite") << false << QString();
        QTest::newRow("wrong password") << true << QStringLiteral("faux");
        QTest::newRow("certificate not confirmed") << true << QString();
    }
    void failures()
    {
        QFETCH(bool, favourite);
        QFETCH(QString, password);
        QFile::remove(accounts::favouriteFilePath(dataFolder()));
        if (favourite)
            writeFavourite(password.isNull() ? dovecot.password() : password);
        // Nobody to ask: a certificate the window has not confirmed ends the check before the login.
        if (password.isNull() && favourite)
            QVERIFY(dovecot.replaceCertificate());
        const QString log = dovecot.logText();
        const Run r = check();
        QCOMPARE(r.exitCode, 2);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.startsWith("pelicorde-check: "));
        QCOMPARE(r.err.count('\n'), 1);
        if (password.isNull() && favourite) {
            QCOMPARE(r.err, QStringLiteral("pelicorde-check: Certificat du serveur %1:%2 non confirmé : ouvrez Pelicorde "
                                           "pour le vérifier\n").arg(dovecot.host()).arg(dovecot.tlsPort()).toUtf8());
            QVERIFY(!dovecot.logText().mid(log.size()).contains(QStringLiteral("Login: user=")));
        }
    }
};

QTEST_GUILESS_MAIN(CheckTest)
#include "test_check.moc"
