// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <memory>

#include <csignal>
#include <sys/resource.h>

#include "core/AccountFile.h"
#include "core/ServerOperation.h"
#include "mailbox/MessageList.h"
#include "support/DovecotServer.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/TestFiles.h"
#include "support/WindowFixture.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

// The account handlers through the real main window: "Sauvegarde", the favourite at the first
// show, the "Compte" list and its choice, and the TLS box that follows the port field.
// Servers are loopback addresses only: a choice and a first show may start a scan.
class AccountHandlersTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> m_w;
    RecordingPrompter m_prompter;

    QString dataPath(const QString &name) const { return m_w->path(QStringLiteral("appdata/Pelicorde/") + name); }

    QString folder() const { return m_w->path(QStringLiteral("appdata/Pelicorde")); }

    static QByteArray bytes(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

    static void fill(TForm1 &form, const accounts::Account &a)
    {
        form.Edit3->setText(a.server);
        form.Edit4->setText(a.port);
        form.Edit16->setText(a.password);
        form.Edit15->setText(a.address);
    }

    static accounts::Account fields(const TForm1 &form)
    {
        return {form.Edit3->text(), form.Edit4->text(), form.Edit16->text(), form.Edit15->text()};
    }

    // A loopback port nothing listens on, above 900: a scan started by a choice fails at once.
    static QString closedTlsPort() { return QString::number(freeLoopbackPort()); }

    static QStringList items(const QComboBox &box)
    {
        QStringList texts;
        for (int i = 0; i < box.count(); ++i)
            texts << box.itemText(i);
        return texts;
    }

    // Opens the list as a user does and picks the item with that text by clicking it.
    // whileOpen runs between the opening and the click.
    static void pick(TForm1 &form, const QString &text, const std::function<void()> &whileOpen = {})
    {
        ComboBox *box = form.ComboBox1;
        box->showPopup();
        const int row = box->findText(text);
        QVERIFY2(row >= 0, qPrintable(text));
        QAbstractItemView *view = box->view();
        QTRY_VERIFY(view->isVisible());
        if (whileOpen)
            whileOpen();
        const QRect rect = view->visualRect(box->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
        QTRY_VERIFY(!view->isVisible());
    }

private slots:
    void init()
    {
        m_w = std::make_unique<WindowFixture>();
        QVERIFY(m_w->prepareFolders());
        QVERIFY(QDir().mkpath(folder()));
        m_prompter.reset();
    }

    void cleanup() { m_w.reset(); }

    // Saved through "Sauvegarde", made the favourite, loaded by a new window's first show.
    void savedAccountIsLoadedAtTheNextStart()
    {
        const accounts::Account tls{QStringLiteral("127.0.0.1"), QStringLiteral("995"), QStringLiteral("mot dé passe"),
                                    QStringLiteral("moi@exemple.fr")};
        const accounts::Account plain{QStringLiteral("127.0.0.1"), QStringLiteral("110"), QStringLiteral("autre"),
                                      QStringLiteral("toi@exemple.fr")};
        {
            TForm1 form(DesignWorkArea);
            for (const accounts::Account &a : {tls, plain}) {
                fill(form, a);
                QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
            }
            QCOMPARE(m_prompter.infos,
                     QStringList(2, QStringLiteral("Le compte de réception actuellement utilisé a été sauvegardé")));
            QCOMPARE(bytes(dataPath(QStringLiteral("moi@exemple.fr.adr"))), accounts::encodeAccount(tls));
            QCOMPARE(bytes(dataPath(QStringLiteral("toi@exemple.fr.adr"))), accounts::encodeAccount(plain));
        }

        for (const accounts::Account &a : {tls, plain}) {
            QFile::remove(dataPath(QStringLiteral("_Favori.adr")));
            QVERIFY(QFile::copy(dataPath(a.address + QStringLiteral(".adr")), dataPath(QStringLiteral("_Favori.adr"))));
            TForm1 form(DesignWorkArea);
            QVERIFY(fields(form) == accounts::Account{});
            form.show();
            QTRY_VERIFY(!form.firstShow);
            QVERIFY(fields(form) == a);
            QCOMPARE(form.CheckBox2->isChecked(), a.port == QStringLiteral("995"));
        }
    }

    // An address that is no file name is refused with a message; an empty field or a failed
    // write shows nothing; none of them writes or damages a file.
    void refusedOrFailedSaveKeepsFiles()
    {
        TForm1 form(DesignWorkArea);
        for (const char *address : {"a/b", "..", "a\\b"}) {
            m_prompter.reset();
            fill(form, {QStringLiteral("127.0.0.1"), QStringLiteral("110"), QStringLiteral("p"), QString::fromUtf8(address)});
            QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
            QCOMPARE(m_prompter.infos,
                     QStringList{QStringLiteral("Adresse de réception invalide : le compte n'a pas été sauvegardé")});
        }
        QVERIFY(QDir(folder()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
        QVERIFY(QDir(m_w->path(QStringLiteral("appdata"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                == QStringList{QStringLiteral("Pelicorde")});
        // An empty field: nothing written, nothing shown.
        m_prompter.reset();
        fill(form, {QStringLiteral("127.0.0.1"), QString(), QStringLiteral("p"), QStringLiteral("x@y")});
        QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
        QVERIFY(m_prompter.infos.isEmpty());
        QVERIFY(!QFileInfo::exists(dataPath(QStringLiteral("x@y.adr"))));

        // The disk fills up while an account is saved again: the old file stays whole and
        // nothing claims success (a file size limit stands in for the full disk, as root too).
        const accounts::Account old{QStringLiteral("127.0.0.1"), QStringLiteral("110"), QStringLiteral("p"),
                                    QStringLiteral("x@y")};
        QCOMPARE(accounts::saveAccount(folder(), old), accounts::SaveStatus::Saved);
        fill(form, {QStringLiteral("127.0.0.1"), QStringLiteral("110"), QString(300, QLatin1Char('p')), old.address});
        {
            const FileSizeLimit fullDisk(64);
            QVERIFY(fullDisk.active());
            QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
        }
        QVERIFY(m_prompter.infos.isEmpty());
        QCOMPARE(bytes(dataPath(QStringLiteral("x@y.adr"))), accounts::encodeAccount(old));
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("x@y.adr")});
    }

    // The list is rebuilt at each opening, without the favourite, and rebuilding chooses nothing.
    // Choosing copies the account over the favourite, loads it and the TLS box follows.
    void listAndChoice()
    {
        const QString port = closedTlsPort();
        const accounts::Account first{QStringLiteral("127.0.0.1"), port, QStringLiteral("un"), QStringLiteral("b@exemple.fr")};
        const accounts::Account second{QStringLiteral("127.0.0.2"), QStringLiteral("900"), QStringLiteral("deux"),
                                       QStringLiteral("a@exemple.fr")};
        QCOMPARE(accounts::saveAccount(folder(), first), accounts::SaveStatus::Saved);
        QCOMPARE(accounts::saveAccount(folder(), second), accounts::SaveStatus::Saved);
        QVERIFY(QFile::copy(dataPath(QStringLiteral("a@exemple.fr.adr")), dataPath(QStringLiteral("_Favori.adr"))));
        const QByteArray favourite = bytes(dataPath(QStringLiteral("_Favori.adr")));

        TForm1 form(DesignWorkArea);
        form.ComboBox1->showPopup();
        QCOMPARE(items(*form.ComboBox1), (QStringList{QStringLiteral("a@exemple.fr"), QStringLiteral("b@exemple.fr")}));
        QCOMPARE(form.ComboBox1->currentIndex(), -1);
        form.ComboBox1->hidePopup();
        QCOMPARE(bytes(dataPath(QStringLiteral("_Favori.adr"))), favourite); // rebuilding chose nothing

        // Saved while the program runs: listed at the next opening.
        fill(form, {QStringLiteral("127.0.0.1"), QStringLiteral("110"), QStringLiteral("trois"), QStringLiteral("c@exemple.fr")});
        QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
        form.ComboBox1->showPopup();
        QCOMPARE(items(*form.ComboBox1), (QStringList{QStringLiteral("a@exemple.fr"), QStringLiteral("b@exemple.fr"),
                                                      QStringLiteral("c@exemple.fr")}));
        form.ComboBox1->hidePopup();
        QCOMPARE(bytes(dataPath(QStringLiteral("_Favori.adr"))), favourite);

        m_prompter.reset();
        pick(form, QStringLiteral("b@exemple.fr"));
        QCOMPARE(bytes(dataPath(QStringLiteral("_Favori.adr"))), bytes(dataPath(QStringLiteral("b@exemple.fr.adr"))));
        QVERIFY(fields(form) == first);
        QVERIFY(form.CheckBox2->isChecked());
        QVERIFY(!m_prompter.infos.contains(QStringLiteral("Echec de la création du favori !!")));

        pick(form, QStringLiteral("a@exemple.fr"));
        QCOMPARE(bytes(dataPath(QStringLiteral("_Favori.adr"))), bytes(dataPath(QStringLiteral("a@exemple.fr.adr"))));
        QVERIFY(fields(form) == second);
        QVERIFY(!form.CheckBox2->isChecked());
    }

    // An item stands for its own file, whatever the case of its suffix; a file named ".adr"
    // names no account and is not listed.
    void itemsKeepTheirOwnFile()
    {
        const accounts::Account upper{QStringLiteral("127.0.0.1"), closedTlsPort(), QStringLiteral("haut"),
                                      QStringLiteral("Bob")};
        const accounts::Account lower{QStringLiteral("127.0.0.2"), QStringLiteral("110"), QStringLiteral("bas"),
                                      QStringLiteral("bob")};
        for (const auto &[name, account] : {std::pair{"Bob.ADR", upper}, std::pair{"bob.adr", lower}, std::pair{".adr", lower}}) {
            QFile f(dataPath(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(accounts::encodeAccount(account));
        }

        TForm1 form(DesignWorkArea);
        form.ComboBox1->showPopup();
        QCOMPARE(items(*form.ComboBox1), (QStringList{QStringLiteral("Bob"), QStringLiteral("bob")}));
        form.ComboBox1->hidePopup();
        pick(form, QStringLiteral("Bob"));
        QVERIFY(!m_prompter.infos.contains(QStringLiteral("Echec de la création du favori !!")));
        QCOMPARE(bytes(dataPath(QStringLiteral("_Favori.adr"))), accounts::encodeAccount(upper));
        QVERIFY(fields(form) == upper);
        QVERIFY(form.CheckBox2->isChecked());
    }

    // A choice that cannot be made the favourite says so and touches nothing; one made while a
    // server operation runs is refused with a beep.
    void failedOrRefusedChoiceTouchesNothing()
    {
        const accounts::Account gone{QStringLiteral("127.0.0.1"), QStringLiteral("110"), QStringLiteral("p"),
                                     QStringLiteral("parti@exemple.fr")};
        const accounts::Account kept{QStringLiteral("127.0.0.1"), closedTlsPort(), QStringLiteral("q"),
                                     QStringLiteral("reste@exemple.fr")};
        const QString dir = folder();
        QCOMPARE(accounts::saveAccount(dir, gone), accounts::SaveStatus::Saved);
        QCOMPARE(accounts::saveAccount(dir, kept), accounts::SaveStatus::Saved);
        QVERIFY(QFile::copy(dataPath(QStringLiteral("reste@exemple.fr.adr")), dataPath(QStringLiteral("_Favori.adr"))));
        const QByteArray favourite = bytes(dataPath(QStringLiteral("_Favori.adr")));

        TForm1 form(DesignWorkArea);
        const accounts::Account typed{QStringLiteral("127.0.0.9"), QStringLiteral("995"), QStringLiteral("x"),
                                      QStringLiteral("tape@exemple.fr")};
        fill(form, typed);
        // Deleted while the list is open.
        pick(form, QStringLiteral("parti@exemple.fr"),
             [&] { QVERIFY(QFile::remove(dataPath(QStringLiteral("parti@exemple.fr.adr")))); });
        QCOMPARE(m_prompter.infos, QStringList{QStringLiteral("Echec de la création du favori !!")});
        QCOMPARE(m_prompter.beeps, 0);
        QCOMPARE(bytes(dataPath(QStringLiteral("_Favori.adr"))), favourite);
        QVERIFY(fields(form) == typed);
        QVERIFY(form.CheckBox2->isChecked());

        m_prompter.reset();
        {
            ServerOperation running;
            pick(form, QStringLiteral("reste@exemple.fr"));
        }
        QCOMPARE(m_prompter.beeps, 1);
        QVERIFY(m_prompter.infos.isEmpty());
        QVERIFY(fields(form) == typed);
        QCOMPARE(form.ComboBox1->currentIndex(), -1); // the refused choice is not shown as made
    }

    // A choice scans the mailbox of the chosen account at once, TLS included, also when blanks
    // surround the port digits.
    void choiceScansTheChosenMailbox_data()
    {
        QTest::addColumn<QString>("portFormat");
        QTest::newRow("digits") << QStringLiteral("%1");
        QTest::newRow("blanks around") << QStringLiteral(" %1\t ");
    }
    void choiceScansTheChosenMailbox()
    {
        QFETCH(QString, portFormat);
        DovecotServer server;
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        server.setMessages({mailfactory::build({}), mailfactory::build({}), mailfactory::build({})});
        const accounts::Account account{server.host(), portFormat.arg(server.tlsPort()), server.password(),
                                        server.user()};
        QCOMPARE(accounts::saveAccount(folder(), account), accounts::SaveStatus::Saved);

        TForm1 form(DesignWorkArea);
        QCOMPARE(form.list->rows(), 2);
        pick(form, server.user());
        QVERIFY(form.CheckBox2->isChecked());
        QTRY_COMPARE(form.list->rows(), 4);
        QCOMPARE(form.Edit10->text(), QStringLiteral("3"));
        QVERIFY(m_prompter.errors.isEmpty());
        QVERIFY(m_prompter.infos.isEmpty());
    }

    // Only the port field moves the TLS box; a click on the box itself changes nothing.
    void tlsBoxFollowsThePortOnly()
    {
        QVERIFY(m_w->start());
        TForm1 &form = *m_w->form;
        form.Edit4->clear();
        form.Edit4->setFocus();
        QTest::keyClicks(form.Edit4, QStringLiteral("995"));
        QVERIFY(form.CheckBox2->isChecked());
        QTest::keyClick(form.Edit4, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(form.Edit4, Qt::Key_Backspace);
        QCOMPARE(form.Edit4->text(), QString());
        QVERIFY(!form.CheckBox2->isChecked());
        QTest::keyClicks(form.Edit4, QStringLiteral(" 995 "));
        QVERIFY(form.CheckBox2->isChecked());

        for (bool ticked : {false, true}) {
            form.Edit4->setText(ticked ? QStringLiteral("901") : QStringLiteral("900"));
            QCOMPARE(form.CheckBox2->isChecked(), ticked);
            QTest::mouseClick(form.CheckBox2, Qt::LeftButton);
            QTest::keyClick(form.CheckBox2, Qt::Key_Space);
            QCOMPARE(form.CheckBox2->isChecked(), ticked);
        }
    }
};

QTEST_MAIN(AccountHandlersTest)
#include "test_accounthandlers.moc"
