// SPDX-License-Identifier: GPL-3.0-or-later
// Attachment saving through the real window, against Dovecot and the scripted server: the
// summary, the overwrite question, and names from the sender that try to leave the data
// folder or write through a link.
#include <QtTest>

#include <QCheckBox>
#include <QDirIterator>

#include "attachments/AttachmentSaving.h"
#include "core/SafeFile.h"
#include "core/ServerOperation.h"
#include "mailbox/MessageList.h"
#include "protocol/SessionAccount.h"
#include "support/DovecotServer.h"
#include "support/FakePop3Server.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/TestFiles.h"
#include "support/WindowFixture.h"
#include "window/PelicordeFP.h"

#include <sys/stat.h>

using Fault = FakePop3Server::Fault;

namespace {

const QString Failure = QStringLiteral("Erreur durant la reception de ce message");
const QString NoneSaved = QStringLiteral("Aucune pièce-jointe sauvegardée");

QString overwriteQuestion(const QString &path)
{
    return QStringLiteral("Le fichier\n") + path + QStringLiteral("\nExiste déja : Voulez-vous l'écraser ?");
}

QString summary(const QStringList &paths)
{
    QString s = QStringLiteral("Les pièces-jointes suivantes ont été sauvegardées : \n\n");
    for (const QString &p : paths)
        s += QStringLiteral("- ") + p + QLatin1Char('\n');
    return s;
}

QByteArray withAttachments(const QList<mailfactory::Attachment> &attachments)
{
    mailfactory::Mail m;
    m.subject = QStringLiteral("Documents");
    m.text = QStringLiteral("Ci-joint.");
    m.attachments = attachments;
    return mailfactory::build(m);
}

// A mail whose attachments carry the raw Content-Disposition parameters given, content as 7bit.
QByteArray rawAttachments(const QList<QPair<QByteArray, QByteArray>> &parts)
{
    QByteArray m = "From: <x@spam.example>\r\nSubject: Noms\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                   "--b\r\nContent-Type: text/plain\r\n\r\nTexte\r\n";
    for (const auto &[parameter, content] : parts)
        m += "--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment" + parameter
             + "\r\n\r\n" + content + "\r\n";
    return m + "--b--\r\n";
}

} // namespace

class AttachmentSavingTest : public QObject
{
    Q_OBJECT

    WindowFixture m_w;
    RecordingPrompter m_prompter;
    DovecotServer m_dovecot;
    TForm1 *m_form = nullptr;
    QString m_data;

    // Saves the attachments of message `row` of a mailbox holding box.
    void save(const QList<QByteArray> &box, int row, bool imap = false)
    {
        m_dovecot.setMessages(box);
        pointAt(imap ? m_dovecot.imapAccount() : m_dovecot.account());
        if (imap) // the rows' UIDs
            m_form->BitBtn2Click();
        m_form->currentRow = row;
        saveAttachments(*m_form);
        QFile::remove(data(QStringLiteral("Serveurs-chiffres.txt"))); // written by the login over STLS
    }

    QString data(const QString &name) const { return m_data + QLatin1Char('/') + name; }

    // The fields name account, whose mailbox the list stands for, as after a scan of it.
    void pointAt(const MailAccount &account)
    {
        m_w.pointAt(account);
        m_form->list->setMailbox(sessionAccountKey(account), {}, {});
    }

private slots:
    void initTestCase()
    {
        // The data folder two levels down, so that "../../x" would land inside the root.
        QVERIFY(m_w.prepareFolders(QStringLiteral("a/b")));
        QVERIFY2(m_dovecot.start(), qPrintable(m_dovecot.errorText()));
        QVERIFY(m_w.create());
        m_form = m_w.form.get();
        m_data = m_form->dataFolder;
        QCOMPARE(m_data, m_w.path(QStringLiteral("a/b/Pelicorde")));
    }

    void cleanupTestCase()
    {
        m_w.form.reset();
        m_dovecot.stop();
    }

    void init()
    {
        m_prompter.reset();
        QDir(m_data).removeRecursively();
        QVERIFY(QDir().mkpath(m_data));
    }

    // The previewed message's attachments are written whole with the usual permissions and
    // listed; text parts are not attachments; a message without any says so.
    void savesAndLists_data() { bothProtocols(); }
    void savesAndLists()
    {
        QFETCH(bool, imap);
        QByteArray binary;
        for (int i = 0; i < 70000; ++i)
            binary += char(i * 7);
        const QList<QByteArray> box{
            withAttachments({}),
            withAttachments({{QStringLiteral("relevé.pdf"), binary, "application/pdf"},
                             {QStringLiteral("Note €.txt"), "Première ligne\r\n", "text/plain"}}),
        };
        save(box, 2, imap);
        const QStringList paths{data(QStringLiteral("relevé.pdf")), data(QStringLiteral("Note €.txt"))};
        QCOMPARE(m_prompter.infos, QStringList{summary(paths)});
        QVERIFY(m_prompter.questions.isEmpty());
        QCOMPARE(readBytes(paths[0]), binary);
        QCOMPARE(readBytes(paths[1]), QByteArray("Première ligne\r\n"));
        const mode_t mask = ::umask(0);
        ::umask(mask);
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(paths[0]).constData(), &st), 0);
        QVERIFY(S_ISREG(st.st_mode));
        QCOMPARE(int(st.st_mode & 0777), int(0666 & ~mask));
        QCOMPARE(QDir(m_data).entryList(QDir::Files | QDir::Hidden).size(), 2); // no leftovers

        m_prompter.reset();
        save(box, 1, imap);
        QCOMPARE(m_prompter.infos, QStringList{NoneSaved});

        // A disposition missing its ';' is counted, listed and saved alike.
        m_prompter.reset();
        const QByteArray joined = "From: <x@spam.example>\r\nSubject: Joint\r\nMIME-Version: 1.0\r\n"
                                  "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nTexte\r\n"
                                  "--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment filename=\"x.txt\"\r\n\r\nJoint\r\n--b--\r\n";
        m_dovecot.setMessages({joined});
        m_w.pointAt(imap ? m_dovecot.imapAccount() : m_dovecot.account());
        m_form->CheckBox1->setChecked(true);
        m_form->BitBtn2Click();
        QCOMPARE(m_form->list->cell(1, MessageList::Attachments), QStringLiteral("1"));
        QCOMPARE(m_form->list->cell(1, MessageList::AttachmentNames), QStringLiteral("x.txt|"));
        save({joined}, 1, imap);
        QCOMPARE(m_prompter.infos, QStringList{summary({data(QStringLiteral("x.txt"))})});
        QCOMPARE(readBytes(data(QStringLiteral("x.txt"))), QByteArray("Joint"));
    }

    // The second attachment of the same name finds the first and asks; Oui replaces it and the
    // summary lists the path twice.
    void sameNameTwiceAsks()
    {
        save({withAttachments({{QStringLiteral("doc.txt"), "un"}, {QStringLiteral("doc.txt"), "deux"}})}, 1);
        const QString path = data(QStringLiteral("doc.txt"));
        QCOMPARE(m_prompter.questions, QStringList{overwriteQuestion(path)});
        QCOMPARE(m_prompter.infos, QStringList{summary({path, path})});
        QCOMPARE(readBytes(path), QByteArray("deux"));
    }

    // Annuler stops the walk: the existing file and the later attachments are left alone.
    void cancelStopsTheWalk()
    {
        const QList<QByteArray> box{withAttachments(
            {{QStringLiteral("x1.txt"), "1"}, {QStringLiteral("x2.txt"), "2"}, {QStringLiteral("x3.txt"), "3"}})};
        writeBytes(data(QStringLiteral("x2.txt")), "ancien");
        m_prompter.answers = {false};
        save(box, 1);
        QCOMPARE(m_prompter.questions, QStringList{overwriteQuestion(data(QStringLiteral("x2.txt")))});
        QCOMPARE(m_prompter.infos, QStringList{summary({data(QStringLiteral("x1.txt"))})});
        QCOMPARE(readBytes(data(QStringLiteral("x2.txt"))), QByteArray("ancien"));
        QVERIFY(!QFile::exists(data(QStringLiteral("x3.txt"))));

        // Annuler on the first: nothing saved.
        m_prompter.reset();
        m_prompter.answers = {false};
        save(box, 1);
        QCOMPARE(m_prompter.questions.size(), 1);
        QCOMPARE(m_prompter.infos, QStringList{NoneSaved});

        // The sixth tick under the question scans only once the run has ended.
        m_prompter.reset();
        m_prompter.answers = {false};
        m_form->list->setRows(2);
        m_form->list->clearDataRows();
        QString listedInside = QStringLiteral("?");
        m_prompter.whileShown = [&](const QString &) {
            m_form->check.minuteCounter = 5;
            m_form->Timer2Timer();
            listedInside = m_form->list->cell(1, MessageList::Subject);
        };
        save(box, 1);
        QCOMPARE(listedInside, QString());
        QTRY_COMPARE(m_form->list->cell(1, MessageList::Subject), QStringLiteral("Documents"));
    }

    // A mail never writes a file the program reads (its trust records among them): such an
    // attachment is saved under a changed name, and the summary says so. A changed name that
    // is taken is asked about like any other.
    void programFilesStayTheProgramsOwn()
    {
        writeBytes(data(QStringLiteral("Certificats.txt")), "epingle");
        writeBytes(data(QStringLiteral("_Favori.adr")), "favori");
        writeBytes(data(QStringLiteral("_Favori.adr (pièce jointe)")), "ancien");
        m_prompter.answers = {true};
        save({withAttachments({{QStringLiteral("Certificats.txt"), "pirate"},
                               {QStringLiteral("Serveurs-chiffres.txt"), "vide"},
                               {QStringLiteral("_Favori.adr"), "x"},
                               {QStringLiteral("certificats.txt"), "autre"}})},
             1);
        const QString favourite = data(QStringLiteral("_Favori.adr (pièce jointe)"));
        QCOMPARE(m_prompter.questions, QStringList{overwriteQuestion(favourite)});
        QCOMPARE(readBytes(data(QStringLiteral("Certificats.txt"))), QByteArray("epingle"));
        QCOMPARE(readBytes(data(QStringLiteral("_Favori.adr"))), QByteArray("favori"));
        QVERIFY(!QFileInfo::exists(data(QStringLiteral("Serveurs-chiffres.txt"))));
        QCOMPARE(readBytes(data(QStringLiteral("Certificats (pièce jointe).txt"))), QByteArray("pirate"));
        QCOMPARE(readBytes(data(QStringLiteral("Serveurs-chiffres (pièce jointe).txt"))), QByteArray("vide"));
        QCOMPARE(readBytes(favourite), QByteArray("x"));
        QCOMPARE(readBytes(data(QStringLiteral("certificats.txt"))), QByteArray("autre"));
        const auto renamed = [&](const char *saved, const char *name) {
            return data(QString::fromUtf8(saved))
                + QStringLiteral(" (nom changé : « %1 » est le nom d'un fichier de Pelicorde)").arg(QString::fromUtf8(name));
        };
        QCOMPARE(m_prompter.infos,
                 QStringList{summary({renamed("Certificats (pièce jointe).txt", "Certificats.txt"),
                                      renamed("Serveurs-chiffres (pièce jointe).txt", "Serveurs-chiffres.txt"),
                                      renamed("_Favori.adr (pièce jointe)", "_Favori.adr"),
                                      data(QStringLiteral("certificats.txt"))})});
    }

    // Names from the sender never lead out of the data folder.
    void hostileNamesStayInside()
    {
        save({rawAttachments({{"; filename=\"../../evil\"", "1"},
                              {"; filename=\"/etc/passwd\"", "2"},
                              {"; filename*=utf-8''a%5Cb", "3"},
                              {"; filename=\"..\"", "4"},
                              {"; filename*=utf-8''c%01t%1Bl%7F.txt", "5"},
                              {"; filename*=utf-8''..%2F..%2F..%2Fevil2", "6"},
                              {"", "7"}})},
             1);
        QCOMPARE(m_prompter.infos.size(), 1);
        const QStringList lines = m_prompter.infos[0].split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1);
        QCOMPARE(lines.size(), 7);
        QSet<QString> names;
        for (const QString &line : lines) {
            QVERIFY2(line.startsWith(QStringLiteral("- ") + m_data + QLatin1Char('/')), qPrintable(line));
            const QString name = line.mid(m_data.size() + 3);
            QVERIFY2(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && name != QLatin1String("..")
                         && std::none_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; }),
                     qPrintable(name));
            names << name;
        }
        QCOMPARE(names.size(), 7);
        QVERIFY(names.contains(QStringLiteral("evil")));
        QVERIFY(names.contains(QStringLiteral("passwd")));
        QVERIFY(names.contains(QStringLiteral("b")));
        QVERIFY(names.contains(QStringLiteral("piece-jointe-4")));
        QVERIFY(names.contains(QStringLiteral("piece-jointe-7")));
        // Nothing was written anywhere else under the root.
        QDirIterator it(m_w.root.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        int files = 0;
        while (it.hasNext()) {
            const QString path = it.next();
            QVERIFY2(path.startsWith(m_data + QLatin1Char('/')), qPrintable(path));
            ++files;
        }
        QCOMPARE(files, 7);
    }

    // A link at the destination counts as an existing file; Oui replaces the link itself and its
    // target, dangling or not, stays as it was; Annuler leaves the link.
    void linksAreNotFollowed()
    {
        const QString outside = m_w.path(QStringLiteral("outside.txt"));
        const QString ghost = m_w.path(QStringLiteral("ghost.txt"));
        writeBytes(outside, "original");
        QVERIFY(QFile::link(outside, data(QStringLiteral("lien.txt"))));
        QVERIFY(QFile::link(ghost, data(QStringLiteral("fantome.txt"))));
        QVERIFY(QFile::link(outside, data(QStringLiteral("garde.txt"))));
        m_prompter.answers = {true, true, false};
        save({withAttachments({{QStringLiteral("lien.txt"), "pirate"},
                               {QStringLiteral("fantome.txt"), "pirate"},
                               {QStringLiteral("garde.txt"), "pirate"}})},
             1);
        QCOMPARE(m_prompter.questions.size(), 3);
        QCOMPARE(readBytes(outside), QByteArray("original"));
        QVERIFY(!QFile::exists(ghost));
        for (const char *name : {"lien.txt", "fantome.txt"}) {
            const QFileInfo saved(data(QLatin1String(name)));
            QVERIFY(!saved.isSymLink());
            QCOMPARE(readBytes(saved.filePath()), QByteArray("pirate"));
        }
        QVERIFY(QFileInfo(data(QStringLiteral("garde.txt"))).isSymLink());
        QCOMPARE(m_prompter.infos,
                 QStringList{summary({data(QStringLiteral("lien.txt")), data(QStringLiteral("fantome.txt"))})});
    }

    // A busy press beeps; a failed fetch writes nothing; a failed write keeps what came before,
    // stops there and shows no summary.
    void failures()
    {
        {
            ServerOperation running;
            saveAttachments(*m_form);
        }
        QCOMPARE(m_prompter.beeps, 1);
        QVERIFY(m_prompter.infos.isEmpty());

        FakePop3Server server;
        QVERIFY(server.start());
        server.mailbox = {withAttachments({{QStringLiteral("a.txt"), "a"}})};
        server.breakCommand("RETR", Fault::DropHalf, 1);
        pointAt(server.account());
        m_form->currentRow = 1;
        saveAttachments(*m_form);
        QCOMPARE(m_prompter.infos, QStringList{Failure + QStringLiteral("\n\nConnexion coupée par le serveur")});
        QVERIFY(QDir(m_data).isEmpty());

        m_prompter.reset();
        QVERIFY(QDir().mkdir(data(QStringLiteral("dossier"))));
        save({withAttachments({{QStringLiteral("avant.txt"), "1"}, {QStringLiteral("dossier"), "2"},
                               {QStringLiteral("apres.txt"), "3"}})},
             1);
        QCOMPARE(m_prompter.questions, QStringList{overwriteQuestion(data(QStringLiteral("dossier")))});
        QCOMPARE(m_prompter.infos, QStringList{Failure});
        QCOMPARE(readBytes(data(QStringLiteral("avant.txt"))), QByteArray("1"));
        QVERIFY(!QFile::exists(data(QStringLiteral("apres.txt"))));
        QCOMPARE(QDir(m_data).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
    }

    void safeFileName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("safe");
        QTest::addColumn<QString>("kept"); // under which it is saved; empty: the safe name
        QTest::newRow("plain") << QStringLiteral("Relevé €.pdf") << QStringLiteral("Relevé €.pdf") << QString();
        QTest::newRow("up") << QStringLiteral("../../evil") << QStringLiteral("evil") << QString();
        QTest::newRow("absolute") << QStringLiteral("/etc/passwd") << QStringLiteral("passwd") << QString();
        QTest::newRow("backslash") << QStringLiteral("C:\\a\\b") << QStringLiteral("b") << QString();
        QTest::newRow("dot dot") << QStringLiteral("..") << QStringLiteral("piece-jointe-3") << QString();
        QTest::newRow("dot") << QStringLiteral("dir/.") << QStringLiteral("piece-jointe-3") << QString();
        QTest::newRow("ends in slash") << QStringLiteral("dir/") << QStringLiteral("piece-jointe-3") << QString();
        QTest::newRow("empty") << QString() << QStringLiteral("piece-jointe-3") << QString();
        QTest::newRow("controls") << QStringLiteral("a\tb\x1b" "c\x7f" "d\u0085.txt") << QStringLiteral("a_b_c_d_.txt") << QString();
        QTest::newRow("list separator") << QStringLiteral("a|b.txt") << QStringLiteral("a_b.txt") << QString();
        QTest::newRow("outside cp1252") << QStringLiteral("☃ neige.txt") << QStringLiteral("? neige.txt") << QString();
        QTest::newRow("long") << QString(300, QChar(u'é')) + QStringLiteral(".pdf")
                              << QString(125, QChar(u'é')) + QStringLiteral(".pdf") << QString();
        // The program's own files, compared as the file system does once the name is clean.
        QTest::newRow("blacklist") << QStringLiteral("../Liste-noire.txt") << QStringLiteral("Liste-noire.txt")
                                   << QStringLiteral("Liste-noire (pièce jointe).txt");
        QTest::newRow("check ids") << QStringLiteral("pelicorde-check.uid") << QStringLiteral("pelicorde-check.uid")
                                   << QStringLiteral("pelicorde-check (pièce jointe).uid");
        QTest::newRow("other case") << QStringLiteral("LISTE-NOIRE.txt") << QStringLiteral("LISTE-NOIRE.txt") << QString();
        QTest::newRow("account, any case") << QStringLiteral("bob@x.fr.ADR") << QStringLiteral("bob@x.fr.ADR")
                                           << QStringLiteral("bob@x.fr.ADR (pièce jointe)");
        QTest::newRow("long account") << QString(251, QLatin1Char('a')) + QStringLiteral(".adr")
                                      << QString(251, QLatin1Char('a')) + QStringLiteral(".adr")
                                      << QString(239, QLatin1Char('a')) + QStringLiteral(" (pièce jointe)");
    }
    void safeFileName()
    {
        QFETCH(QString, name);
        QFETCH(QString, safe);
        QFETCH(QString, kept);
        QCOMPARE(attachments::safeFileName(name, 3), safe);
        QCOMPARE(attachments::clearOfProgramFiles(safe), kept.isEmpty() ? safe : kept);
    }
};

QTEST_MAIN(AttachmentSavingTest)
#include "test_attachmentsaving.moc"
