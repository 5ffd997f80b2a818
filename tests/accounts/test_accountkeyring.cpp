// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QLineEdit>
#include <QPushButton>

#include "core/AccountFile.h"
#include "core/AccountPassword.h"
#include "support/PrivateKeyring.h"
#include "support/RecordingPrompter.h"
#include "support/TestFiles.h"
#include "support/WindowFixture.h"
#include "window/PelicordeFP.h"

// The password in the desktop's keyring, through the real main window and a keyring of the
// test's own (without one, test_accounthandlers: the file keeps it as it always did).
class AccountKeyringTest : public QObject
{
    Q_OBJECT

    PrivateKeyring m_keyring;
    RecordingPrompter m_prompter;
    WindowFixture m_w;
    const accounts::Account m_account{QStringLiteral("127.0.0.1"), QStringLiteral("995"), QStringLiteral("mot dé passe"),
                                      QStringLiteral("moi@exemple.fr")};

    QString dataPath(const QString &name) const { return m_w.path(QStringLiteral("appdata/Pelicorde/") + name); }
    QString accountFile() const { return dataPath(m_account.address + QStringLiteral(".adr")); }
    QString favourite() const { return dataPath(QStringLiteral("_Favori.adr")); }

    static accounts::Account fields(const TForm1 &form)
    {
        return {form.Edit3->text(), form.Edit4->text(), form.Edit16->text(), form.Edit15->text()};
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_keyring.start(), qPrintable(m_keyring.errorText()));
        // Before anything of the program connects to the session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_keyring.address().toUtf8());
        QVERIFY(m_w.prepareFolders());
        QVERIFY(QDir().mkpath(dataPath(QString())));
    }

    // A file written before holds the password and still loads; "Sauvegarde" moves it into the
    // keyring, out of the account file and out of the favourite copied from it (each keeps its
    // four fields, the password's empty), and the next start reads it back from the keyring.
    void savingMovesThePasswordIntoTheKeyring()
    {
        const accounts::Account old{m_account.server, m_account.port, QStringLiteral("ancien"), m_account.address};
        writeBytes(accountFile(), accounts::encodeAccount(old));
        writeBytes(favourite(), accounts::encodeAccount(old));
        {
            TForm1 form(DesignWorkArea);
            form.show();
            QTRY_VERIFY(!form.firstShow);
            QVERIFY(fields(form) == old);
            form.Edit16->setText(m_account.password);
            QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
        }
        QCOMPARE(m_prompter.infos, QStringList{QStringLiteral("Le compte de réception actuellement utilisé a été sauvegardé")});
        const QByteArray withoutPassword = "127.0.0.1\n995\n\nmoi@exemple.fr\n";
        QCOMPARE(accounts::scrambled(readBytes(accountFile())), withoutPassword);
        QCOMPARE(accounts::scrambled(readBytes(favourite())), withoutPassword);
        QCOMPARE(m_keyring.lookup(accounts::keyringKey(m_account.address, m_account.server)), m_account.password);

        TForm1 form(DesignWorkArea);
        form.show();
        QTRY_VERIFY(!form.firstShow);
        QVERIFY(fields(form) == m_account);
    }

    // Locked, its unlocking refused: the start's scan says the password is unavailable, and
    // "Sauvegarde" says it saved nothing and writes nothing, in clear or otherwise.
    void lockedKeyringGivesAndTakesNothing()
    {
        QVERIFY(m_keyring.lock());
        m_prompter.reset();
        // Below 900: the first show scans.
        const QByteArray plainPort = accounts::encodeAccount({m_account.server, QStringLiteral("110"), {}, m_account.address});
        writeBytes(favourite(), plainPort);
        const QByteArray saved = readBytes(accountFile());
        TForm1 form(DesignWorkArea);
        form.show();
        QTRY_VERIFY(!form.firstShow);
        QCOMPARE(form.Edit16->text(), QString());
        QVERIFY2(QRegularExpression(QStringLiteral("^Relève impossible à \\d\\d:\\d\\d : mot de passe indisponible, le "
                                                   "trousseau de la session ne le contient pas, ou il est resté verrouillé$"))
                     .match(form.scanStop)
                     .hasMatch(),
                 qPrintable(form.scanStop));

        form.Edit16->setText(QStringLiteral("nouveau"));
        QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
        QCOMPARE(m_prompter.infos,
                 QStringList{QStringLiteral("Le mot de passe n'a pas pu être confié au trousseau de la session (le trousseau "
                                            "de la session est verrouillé, ou son accès a été refusé) : le compte n'a pas "
                                            "été sauvegardé")});
        QCOMPARE(readBytes(accountFile()), saved);
        QCOMPARE(readBytes(favourite()), plainPort);
    }
};

QTEST_MAIN(AccountKeyringTest)
#include "test_accountkeyring.moc"
