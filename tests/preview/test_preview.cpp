// SPDX-License-Identifier: GPL-3.0-or-later
// The preview pane against a real Dovecot: fields, text and HTML views, the preview file,
// the text limit, the pane toggles and the failures.
#include "support/WindowFixture.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWebEngineView>
#include <csignal>
#include <sys/stat.h>

#include "core/Ansi.h"
#include "core/ServerOperation.h"
#include "message/MailMessage.h"
#include "mailbox/MessageList.h"
#include "preview/Preview.h"
#include "preview/SafeWebView.h"
#include "support/DovecotServer.h"
#include "support/FakePop3Server.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/ShownPage.h"
#include "support/TestFiles.h"
#include "window/Controls.h"

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A plain-text mail whose body, once decoded, is exactly bodyLength characters.
QByteArray mailOfBodyLength(int bodyLength)
{
    const QString line = QString(99, QLatin1Char('a')) + QLatin1Char('\n');
    const int lines = bodyLength / 100 - 1;
    mailfactory::Mail m;
    m.text = line.repeated(lines);
    const int base = int(MailMessage::parse(mailfactory::build(m)).body().size());
    m.text += QString(bodyLength - base, QLatin1Char('b'));
    return mailfactory::build(m);
}

} // namespace

class PreviewTest : public QObject
{
    Q_OBJECT
    DovecotServer dovecot;
    std::unique_ptr<WindowFixture> w;
    RecordingPrompter prompter;

    TForm1 &form() { return *w->form; }
    QList<QWidget *> pane()
    {
        return {form().Label7, form().Label8, form().Label9, form().Label15, form().Edit11, form().Edit12, form().Edit13,
                form().Edit14, form().Edit17, form().BitBtn3, form().BitBtn8, form().Memo2};
    }

    // Serves the messages and lists them with the given PJ cells.
    void serve(const QList<QByteArray> &messages, const QStringList &pj = {})
    {
        dovecot.setMessages(messages);
        QList<QStringList> rows;
        for (int i = 0; i < messages.size(); ++i)
            rows << QStringList{QStringLiteral("s%1@x.org").arg(i + 1), QStringLiteral("Objet %1").arg(i + 1),
                                "", "", pj.value(i), "", ""};
        w->setRows(rows);
    }

    void preview(int row)
    {
        prompter.reset();
        w->clickCell(MessageList::Subject, row);
    }

    void waitShown()
    {
        QWidget *view = form().pane->view();
        QVERIFY(view);
        QTRY_COMPARE(shownPage(view).url, PreviewSchemeHandler::urlFor(w->previewFile()));
    }

private slots:
    void initTestCase() { QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText())); }

    void init()
    {
        w = std::make_unique<WindowFixture>();
        QVERIFY(w->start());
        w->pointAt(dovecot.account());
        prompter.reset();
    }

    void cleanup() { w.reset(); }

    void htmlMessageGoesToTheHtmlView_data() { bothProtocols(); }
    void htmlMessageGoesToTheHtmlView()
    {
        QFETCH(bool, imap);
        mailfactory::Mail m;
        m.subject = QStringLiteral("Caf\u00e9 offert");
        m.html = QStringLiteral("<html><body><p>Prix : 5 \u20ac, caf\u00e9 \u4e2d</p></body></html>");
        const QByteArray raw = mailfactory::build(m);
        serve({raw}, {"_"});
        if (imap) { // the rows and their UIDs as a scan lists them
            w->pointAt(dovecot.imapAccount());
            form().BitBtn2Click();
        }
        QVERIFY(!form().pane->view()); // no web engine before the first preview

        preview(1);
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(prompter.infos.isEmpty());
        QCOMPARE(form().currentRow, 1);
        QCOMPARE(form().Edit11->text(), QStringLiteral("Alice Martin <alice@example.org>"));
        QCOMPARE(form().Edit12->text(), QStringLiteral("bob@example.net"));
        const QDateTime sent = QDateTime::fromString(QStringLiteral("Mon, 07 Dec 2026 10:15:00 +0100"), Qt::RFC2822Date).toLocalTime();
        QCOMPARE(form().Edit13->text(), sent.toString(QStringLiteral("dd/MM/yyyy")));
        QCOMPARE(form().Edit14->text(), sent.toString(QStringLiteral("HH:mm:ss")));
        QCOMPARE(form().Edit17->text(), m.subject);

        const QString body = MailMessage::parse(raw).body();
        QVERIFY(body.startsWith(m.html));
        QCOMPARE(form().Memo2->toPlainText(), body + QLatin1Char('\n'));
        QCOMPARE(form().Memo2->textCursor().position(), 0);
        QVERIFY(form().Panel1->isHidden());
        QVERIFY(form().BitBtn5->isHidden());
        for (QWidget *c : pane())
            QVERIFY2(!c->isHidden(), qPrintable(c->objectName()));

        // Windows-1252, no mark or wrapper; what it lacks becomes a character reference.
        const QByteArray bytes = readAll(w->previewFile());
        QVERIFY(bytes.contains("5 \x80, caf\xe9 &#x4E2D;</p>"));
        QCOMPARE(bytes.size(), ansi::fromUnicode(body).size() + 7);
        QCOMPARE(QFile::permissions(w->previewFile()), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        waitShown();

        QCOMPARE(form().SG1->height(), OpenPaneGridHeight);
        QCOMPARE(form().gridColour(), QColor(192, 192, 192));
        QVERIFY(!form().SG1->isEnabled());
        if (imap)
            QCOMPARE(dovecot.storedFlags(), QStringList{QString()});
    }

    // The preview file is Windows-1252, so the view reads it as such whatever charset the page
    // declares, and every character it cannot hold reaches the view as a character reference.
    // Each message of the table is previewed in turn: the page and the text view it shows,
    // each preview its own page, not the one before.
    void pagesAsShown()
    {
        struct Page
        {
            QByteArray mail;
            QString page; // the text the web view rendered
            QString memo; // the text view's, when the row looks at it
        };
        const QString accents = QStringLiteral("\u00e9 \u00e0 \u20ac \u0153");
        const auto html = [](const QString &head, const QString &body) {
            mailfactory::Mail m;
            m.html = QStringLiteral("<html><head>%1</head><body><p>%2</p></body></html>").arg(head, body);
            return mailfactory::build(m);
        };
        const auto utf8Html = [](const QByteArray &encoding, const QByteArray &body) {
            return "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: " + encoding + "\r\n\r\n" + body + "\r\n";
        };
        const QString badByte = QStringLiteral("Caf\u00e9 \u00e0 5 \u20ac \uFFFD!");
        const QList<Page> pages = {
            {html(QStringLiteral("<meta charset=\"utf-8\">"), QStringLiteral("1 ") + accents), QStringLiteral("1 ") + accents, {}},
            {html(QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"),
                  QStringLiteral("2 ") + accents),
             QStringLiteral("2 ") + accents, {}},
            {html({}, QStringLiteral("3 ") + accents), QStringLiteral("3 ") + accents, {}},
            {html({}, QStringLiteral("\u4e2d\u6587 \u041f\u0440\u0438\u0432\u0435\u0442 \u0395\u03bb\u03bb\u03ac\u03b4\u03b1 \U0001F389 \u00e9")),
             QStringLiteral("\u4e2d\u6587 \u041f\u0440\u0438\u0432\u0435\u0442 \u0395\u03bb\u03bb\u03ac\u03b4\u03b1 \U0001F389 \u00e9"), {}},
            // One invalid sequence in a UTF-8 part is U+FFFD, the rest reads as UTF-8.
            {utf8Html("8bit", "<p>Caf\xC3\xA9 \xC3\xA0 5 \xE2\x82\xAC \xC3!</p>"), badByte, QStringLiteral("<p>") + badByte + "</p>\n\n"},
            {utf8Html("quoted-printable", "<p>Caf=C3=A9 =C3=A0 5 =E2=82=AC =C3!</p>"), badByte, {}},
            {utf8Html("base64", QByteArray("<p>Caf\xC3\xA9 \xC3\xA0 5 \xE2\x82\xAC \xC3!</p>").toBase64()), badByte, {}},
            // Control characters show as U+FFFD, as in headers; TAB stays.
            {"Content-Type: text/plain; charset=us-ascii\r\n\r\nPrix\x81 :\t5\x8D \x1B[0m!\r\n",
             QStringLiteral("Prix\uFFFD : 5\uFFFD \uFFFD[0m!"), QStringLiteral("Prix\uFFFD :\t5\uFFFD \uFFFD[0m!\n\n")},
        };
        QList<QByteArray> messages;
        for (const Page &p : pages)
            messages << p.mail;
        serve(messages);
        for (int i = 0; i < pages.size(); ++i) {
            form().BitBtn8->click();
            QWidget *view = ensurePreviewView(*form().pane); // made anew once the pane closed
            QSignalSpy loaded(view, SIGNAL(loadFinished(bool)));
            preview(i + 1);
            QVERIFY(prompter.infos.isEmpty());
            if (!pages[i].memo.isNull())
                QCOMPARE(form().Memo2->toPlainText(), pages[i].memo);
            QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 60000);
            QTRY_COMPARE(shownPage(view).text.trimmed(), pages[i].page);
        }
    }

    void plainTextGoesToTheTextView()
    {
        mailfactory::Mail m;
        m.text = QStringLiteral("Ligne un\nLigne deux\n");
        m.subject = QStringList(8000, QStringLiteral("Promo")).join(u' '); // longer than a line edit's default
        const QByteArray raw = mailfactory::build(m);
        serve({raw});
        preview(1);
        QCOMPARE(form().Edit17->text(), m.subject);
        QCOMPARE(prompter.beeps, 1);
        const QString body = MailMessage::parse(raw).body();
        QVERIFY(body.startsWith(m.text));
        QCOMPARE(form().Memo2->toPlainText(), body + QLatin1Char('\n'));
        QVERIFY(!form().Panel1->isHidden());
        QCOMPARE(readAll(w->previewFile()), ansi::fromUnicode(body));
        waitShown();
    }

    void alternativeShowsBothPartsAndTheHtmlPart()
    {
        mailfactory::Mail m;
        m.text = QStringLiteral("Version texte\n");
        m.html = QStringLiteral("<p>Version <b>HTML</b></p>\n");
        const QByteArray raw = mailfactory::build(m);
        serve({raw});
        preview(1);
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(prompter.infos.isEmpty());

        const MailMessage mail = MailMessage::parse(raw);
        QCOMPARE(mail.parts().size(), 2);
        // The preamble a mail program never shows stays out: the parts, as written.
        const QString memo = mail.parts()[0].text + '\n' + mail.parts()[1].text + '\n';
        QVERIFY(mail.parts()[0].text.startsWith(m.text) && mail.parts()[1].text.startsWith(m.html));
        QCOMPARE(form().Memo2->toPlainText(), memo);
        QCOMPARE(readAll(w->previewFile()), ansi::fromUnicode(mail.parts()[1].text));
        QVERIFY(!form().Panel1->isHidden());
        waitShown();

        // Htm/Txt flips the view and flips it back; nothing is reloaded.
        const QByteArray file = readAll(w->previewFile());
        form().BitBtn3->click();
        QVERIFY(form().Panel1->isHidden());
        form().BitBtn3->click();
        QVERIFY(!form().Panel1->isHidden());
        QCOMPARE(readAll(w->previewFile()), file);
        QCOMPARE(form().Memo2->toPlainText(), memo);
    }

    void attachmentButtonAndClosingThePane()
    {
        mailfactory::Mail withParts;
        withParts.html = QStringLiteral("<p>Voir les pi\u00e8ces</p>");
        withParts.attachments = {{QStringLiteral("a.pdf"), "%PDF-1.4", "application/pdf"},
                                 {QStringLiteral("b.txt"), "texte", "application/octet-stream"}};
        mailfactory::Mail plain;
        plain.text = QStringLiteral("Rien de joint\n");
        const QByteArray raw = mailfactory::build(withParts);
        serve({raw, mailfactory::build(plain)}, {"2", "_"});
        const MailMessage mail = MailMessage::parse(raw);
        QCOMPARE(mail.parts().size(), 3);

        preview(1);
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(!form().BitBtn5->isHidden());
        QCOMPARE(form().BitBtn5->text(), QStringLiteral("PJ = 2"));
        QVERIFY(form().Panel1->isHidden()); // multipart/mixed: the HTML view
        QCOMPARE(readAll(w->previewFile()), ansi::fromUnicode(mail.parts()[0].text));
        QCOMPARE(form().Memo2->toPlainText(), mail.parts()[0].text + '\n');

        form().BitBtn8->click();
        QCOMPARE(form().SG1->height(), form().normalGridHeight);
        QCOMPARE(form().normalGridHeight, 636);
        QCOMPARE(form().gridColour(), TForm1::GridRestColour);
        QVERIFY(form().SG1->isEnabled());
        QVERIFY(!form().Panel1->isHidden());
        QVERIFY(form().BitBtn5->isHidden());
        for (QWidget *c : pane())
            QVERIFY2(c->isHidden(), qPrintable(c->objectName()));
        QCOMPARE(form().currentRow, 1);
        QVERIFY(!form().pane->view()); // gone with the pane, and its helper with it
        form().BitBtn8->click(); // opened again on the same page
        QTRY_COMPARE(shownPage(form().pane->view()).text.trimmed(), QStringLiteral("Voir les pi\u00e8ces"));
        form().BitBtn8->click();

        preview(2);
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(form().BitBtn5->isHidden());
        QCOMPARE(form().Edit17->text(), QStringLiteral("Bonjour"));
        form().BitBtn8->click();

        // A text mail with an attachment reads in the text view, its lines as written and without
        // the preamble; a long sender shows from its start.
        mailfactory::Mail textWithPart;
        textWithPart.from = "\"" + QByteArray(60, 'N') + "\" <long@example.org>";
        textWithPart.text = QStringLiteral("Ligne un\nLigne deux\n");
        textWithPart.attachments = {{QStringLiteral("c.pdf"), "%PDF-1.4", "application/pdf"}};
        const QByteArray textRaw = mailfactory::build(textWithPart);
        QVERIFY(textRaw.contains("This is a multi-part message") || MailMessage::parse(textRaw).contentType() == "multipart/mixed");
        serve({textRaw}, {"1"});
        preview(1);
        QVERIFY(!form().Panel1->isHidden());
        QCOMPARE(form().Memo2->toPlainText(), MailMessage::parse(textRaw).parts()[0].text + '\n');
        QVERIFY(form().Memo2->toPlainText().startsWith(QStringLiteral("Ligne un\nLigne deux\n")));
        QCOMPARE(form().Edit11->cursorPosition(), 0);
        QVERIFY(form().Edit11->text().startsWith(QStringLiteral("NNNN")));
    }

    void textLimit()
    {
        serve({mailOfBodyLength(PreviewTextLimit - 2), mailOfBodyLength(PreviewTextLimit - 1)});
        preview(1);
        QCOMPARE(form().Memo2->toPlainText().size(), PreviewTextLimit - 1);
        QVERIFY(prompter.infos.isEmpty());
        QCOMPARE(prompter.beeps, 1);
        const QByteArray written = readAll(w->previewFile());
        QCOMPARE(written.size(), PreviewTextLimit - 2);

        form().BitBtn8->click();
        preview(2);
        QCOMPARE(form().Memo2->toPlainText().size(), PreviewTextLimit);
        QCOMPARE(prompter.infos, QStringList{QStringLiteral("500000")});
        QCOMPARE(prompter.beeps, 1);
        QCOMPARE(readAll(w->previewFile()), written);
        QVERIFY(!form().Panel1->isHidden());
    }

    void failuresShowTheirBox()
    {
        mailfactory::Mail m;
        m.text = QStringLiteral("Seul message\n");
        serve({mailfactory::build(m)});
        w->setRows({{"a@x.org", "Un", "", "", "2", "", ""}, {"b@x.org", "Parti", "", "", "2", "", ""}});

        preview(2); // gone from the server
        QCOMPARE(prompter.infos, QStringList{QStringLiteral("Erreur durant la reception de ce message\n\n"
                                                            "Le serveur a refusé une commande")});
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(!form().Label7->isHidden());
        QVERIFY(!form().SG1->isEnabled());
        QCOMPARE(form().gridColour(), QColor(192, 192, 192));
        QVERIFY(form().BitBtn5->isHidden());

        form().BitBtn8->click();
        form().Edit16->setText(QStringLiteral("faux"));
        preview(1);
        QCOMPARE(prompter.infos, QStringList{QStringLiteral("Erreur durant la reception de ce message") + QStringLiteral("\n\nIdentification refusée par le serveur (mot de passe ou adresse)")});
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(form().BitBtn5->isHidden());
        QVERIFY(!QFileInfo::exists(w->previewFile()));
    }

    void previewFileIsPrivateAndNeverFollowsALink()
    {
        mailfactory::Mail m;
        m.html = QStringLiteral("<p>pi\u00e8ge</p>");
        serve({mailfactory::build(m)});
        const QString victim = w->root.filePath(QStringLiteral("victim.txt"));
        {
            QFile f(victim);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("intact");
        }
        QVERIFY(QFile::link(victim, w->previewFile()));

        preview(1);
        QCOMPARE(prompter.beeps, 1);
        QCOMPARE(readAll(victim), QByteArray("intact"));
        const QFileInfo file(w->previewFile());
        QVERIFY(!file.isSymLink());
        QVERIFY(file.isFile());
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(w->previewFile()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0600);
        QVERIFY(readAll(w->previewFile()).startsWith("<p>pi\xe8ge</p>"));
        QCOMPARE(QDir(form().previewFolder).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("Htm_temp.htm")});
        QCOMPARE(QFileInfo(form().previewFolder).permissions() & 0x0077, QFileDevice::Permissions());

        // A file that cannot be written shows nothing: not the page shown before it.
        waitShown();
        form().BitBtn8->click();
        {
            const FileSizeLimit fullDisk(8);
            QVERIFY(fullDisk.active());
            preview(1);
        }
        QCOMPARE(prompter.beeps, 2);
        QVERIFY(!QFileInfo::exists(w->previewFile()));
        QTRY_VERIFY(!shownPage(form().pane->view()).text.contains(QStringLiteral("pi\u00e8ge")));

        // A temp folder where nothing can be written: one more beep, the preview goes on.
        form().BitBtn8->click();
        form().tempFolder = w->root.filePath(QStringLiteral("missing"));
        form().previewFolder.clear();
        preview(1);
        QCOMPARE(prompter.beeps, 2);
        QVERIFY(prompter.infos.isEmpty());
        QVERIFY(!form().Memo2->toPlainText().isEmpty());
    }

    // In a temp folder shared with other users (sticky, as /tmp), another user's "Htm_temp.htm"
    // is never shown nor touched: the preview file lives in a folder of the program's own.
    void sharedTempFolderHoldsNoPageOfAnother()
    {
        const QString shared = w->root.filePath(QStringLiteral("shared"));
        const QString ours = shared + QStringLiteral("/pelicorde-%1").arg(::getuid());
        QVERIFY(QDir().mkpath(ours));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
        // A folder of the program's name that others may enter (someone else's trap) is not taken.
        QVERIFY(::chmod(QFile::encodeName(ours).constData(), 0777) == 0);
        const QString planted = shared + QStringLiteral("/Htm_temp.htm");
        {
            QFile f(planted);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("<p>page d'un autre</p>");
        }
        form().tempFolder = shared;
        form().previewFolder.clear();
        mailfactory::Mail m;
        m.html = QStringLiteral("<p>la mienne</p>");
        serve({mailfactory::build(m)});
        preview(1);
        waitShown();
        QTRY_COMPARE(shownPage(form().pane->view()).text.trimmed(), QStringLiteral("la mienne"));
        QCOMPARE(readAll(planted), QByteArray("<p>page d'un autre</p>"));
        QVERIFY(w->previewFile().startsWith(ours + QLatin1Char('-')));
        QVERIFY(QDir(ours).isEmpty());
    }

    // The pane closed while the message downloads stays closed: the end of the preview shows no
    // attachment button over the list, where it would save whichever row is current by then.
    void paneClosedDuringTheDownload()
    {
        mailfactory::Mail m;
        m.text = QStringLiteral("x\n");
        m.attachments = {{QStringLiteral("a.pdf"), "%PDF-1.4", "application/pdf"}};
        FakePop3Server server;
        server.mailbox = {mailfactory::build(m)};
        server.delayMs = 300;
        QVERIFY(server.start());
        server.breakCommand("RETR", FakePop3Server::Fault::Delay);
        w->pointAt(server.account());
        w->setRows({{"a@x.org", "Un", "", "", "1", "", ""}});
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (server.received("RETR")) {
                closer.stop();
                form().BitBtn8->click();
            }
        });
        closer.start(5);
        preview(1);
        QVERIFY(!closer.isActive());
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(prompter.infos.isEmpty());
        QVERIFY(form().Label7->isHidden());
        QVERIFY(form().SG1->isEnabled());
        QVERIFY(form().BitBtn5->isHidden());
    }

    void refusedWhileAnotherOperationRuns()
    {
        mailfactory::Mail m;
        m.text = QStringLiteral("x\n");
        serve({mailfactory::build(m)});
        {
            ServerOperation running;
            preview(1);
        }
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(prompter.infos.isEmpty());
        QVERIFY(form().Label7->isHidden());
        QVERIFY(form().SG1->isEnabled());
        QCOMPARE(form().gridColour(), TForm1::GridRestColour);
        QCOMPARE(form().SG1->height(), 636);
        QCOMPARE(form().currentRow, 1);
    }

    // Should pelicorde-preview end while the pane is open, the text view shows the message and
    // the web engine stays out of the program: the next preview starts another helper.
    void anotherHelperWhenTheHelperEnds()
    {
        mailfactory::Mail m;
        m.html = QStringLiteral("<p>Toujours l\u00e0</p>");
        serve({mailfactory::build(m)});
        preview(1);
        auto *remote = qobject_cast<RemoteWebView *>(form().pane->view());
        QVERIFY(remote);
        waitShown();
        const qint64 first = remote->helperId();
        QCOMPARE(::kill(pid_t(first), SIGKILL), 0);
        QTRY_VERIFY(!form().pane->view());
        QVERIFY(form().Panel1->isVisible());
        QVERIFY(form().Memo2->toPlainText().contains(QStringLiteral("Toujours l\u00e0")));
        // Htm/Txt back to the page: a new helper shows it.
        form().BitBtn3->click();
        remote = qobject_cast<RemoteWebView *>(form().pane->view());
        QVERIFY(remote);
        QVERIFY(remote->helperId() != first);
        QTRY_COMPARE(shownPage(remote).text.trimmed(), QStringLiteral("Toujours l\u00e0"));

        QCOMPARE(::kill(pid_t(remote->helperId()), SIGKILL), 0);
        QTRY_VERIFY(!form().pane->view());
        form().BitBtn8->click();
        preview(1);
        remote = qobject_cast<RemoteWebView *>(form().pane->view());
        QVERIFY(remote);
        waitShown();
        QTRY_COMPARE(shownPage(remote).text.trimmed(), QStringLiteral("Toujours l\u00e0"));
    }
};

PELICORDE_TEST_MAIN(PreviewTest)
#include "test_preview.moc"
