// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QLineEdit>
#include <QPushButton>

#include "core/AccountFile.h"
#include "support/DovecotServer.h"
#include "support/PrivateKeyring.h"
#include "support/RecordingPrompter.h"
#include "support/TestFiles.h"
#include "support/WindowFixture.h"

// The password in the desktop's keyring, through the window and pelicorde-check (without a
// keyring, test_accounthandlers and test_check: the file keeps it as it always did).
class AccountKeyringTest : public QObject
{
    Q_OBJECT

    PrivateKeyring m_keyring;
    RecordingPrompter m_prompter;
    WindowFixture m_w;
    const QString m_port = QString::number(freeLoopbackPort()); // a check with the password fails to connect
    QString dataPath(const char *name) const { return m_w.path(QStringLiteral("appdata/Pelicorde/") + QLatin1String(name)); }

    // What pelicorde-check says of the favourite, on the window's data folder and bus.
    static QString checkError()
    {
        QProcess check;
        check.start(qEnvironmentVariable("PELICORDE_CHECK"), {});
        check.waitForFinished(60000);
        return QString::fromUtf8(check.readAllStandardError());
    }

private slots:
    void initTestCase()
    {
        const QString failed = m_keyring.start();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_keyring.address().toUtf8()); // before the program's first use
        QVERIFY(m_w.prepareFolders() && QDir().mkpath(dataPath("")));
    }

    // A file written before holds the password and still loads; "Sauvegarde" moves it into the
    // keyring, out of the account file and of the favourite copied from it (four fields each,
    // the password's empty), and the next start and pelicorde-check read it back.
    void savingMovesThePasswordIntoTheKeyring()
    {
        for (const char *file : {"moi@exemple.fr.adr", "_Favori.adr"})
            writeBytes(dataPath(file), accounts::encodeAccount({"127.0.0.1", m_port, "ancien", "moi@exemple.fr"}));
        for (const char *password : {"ancien", "mot dé passe"}) {
            TForm1 form(DesignWorkArea);
            form.show();
            QTRY_VERIFY(!form.firstShow);
            QCOMPARE(form.Edit16->text(), QString::fromUtf8(password));
            form.Edit16->setText(QStringLiteral("mot dé passe"));
            QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
            for (const char *file : {"moi@exemple.fr.adr", "_Favori.adr"})
                QCOMPARE(accounts::scrambled(readBytes(dataPath(file))), "127.0.0.1\n" + m_port.toLatin1() + "\n\nmoi@exemple.fr\n");
        }
        QCOMPARE(m_prompter.infos, QStringList(2, QStringLiteral("Le compte de réception actuellement utilisé a été sauvegardé")));
        QCOMPARE(checkError(), QStringLiteral("pelicorde-check: Connexion impossible au serveur 127.0.0.1:%1 : connexion "
                                              "refusée par le serveur\n").arg(m_port));
    }

    // Locked, its unlocking refused: the start's scan and pelicorde-check say the password is
    // unavailable, and "Sauvegarde" says it saved nothing and writes nothing, in clear or otherwise.
    void lockedKeyringGivesAndTakesNothing()
    {
        QVERIFY(m_keyring.lock());
        m_prompter.reset();
        const QByteArray favourite = accounts::encodeAccount({"127.0.0.1", "110", "", "moi@exemple.fr"}); // scanned at start
        writeBytes(dataPath("_Favori.adr"), favourite);
        const QByteArray saved = readBytes(dataPath("moi@exemple.fr.adr"));
        TForm1 form(DesignWorkArea);
        form.show();
        QTRY_VERIFY(!form.firstShow);
        const QString why = QStringLiteral("le trousseau de la session ne le contient pas, ou il est resté verrouillé");
        QCOMPARE(form.check.scanStop.section(u' ', 4), QStringLiteral(": mot de passe indisponible, ") + why);
        QCOMPARE(checkError(), QStringLiteral("pelicorde-check: Mot de passe du compte favori indisponible : %1\n").arg(why));
        form.Edit16->setText(QStringLiteral("nouveau"));
        QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
        QCOMPARE(m_prompter.infos, QStringList{QStringLiteral("Le mot de passe n'a pas pu être confié au trousseau de la "
                                                              "session (le trousseau de la session est verrouillé, ou son "
                                                              "accès a été refusé) : le compte n'a pas été sauvegardé")});
        QCOMPARE(readBytes(dataPath("moi@exemple.fr.adr")), saved);
        QCOMPARE(readBytes(dataPath("_Favori.adr")), favourite);
    }
};

QTEST_MAIN(AccountKeyringTest)
#include "test_accountkeyring.moc"
