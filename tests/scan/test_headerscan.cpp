// SPDX-License-Identifier: GPL-3.0-or-later
// The header scan through the real main window: against Dovecot for what a real server
// holds, against the scripted server for faults and servers that lack capabilities.
#include <QtTest>

#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <memory>

#include "core/ServerOperation.h"
#include "mailbox/MessageList.h"
#include "protocol/pop3/Pop3Session.h"
#include "scan/HeaderScan.h"
#include "support/DovecotServer.h"
#include "support/FakeImapServer.h"
#include "support/FakePop3Server.h"
#include "support/LearningMail.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

using Fault = FakePop3Server::Fault;
using mailfactory::Mail;

namespace {

const QString Failed = QStringLiteral("Erreur durant la reception des messages");
const QString Checked = QStringLiteral("Courrier vérifié il y a moins d'une minute");
const QColor DarkRed(128, 0, 0);
const QString LoginRefused = QStringLiteral("Identification refusée par le serveur (mot de passe ou adresse)");

// The scan's box with the cause under it.
QStringList failedBecause(const QString &cause) { return {Failed + QStringLiteral("\n\n") + cause}; }

QByteArray mail(const QByteArray &from, const QString &subject, const QByteArray &date = "Mon, 07 Dec 2026 10:15:00 +0100")
{
    Mail m;
    m.from = from;
    m.subject = subject;
    m.date = date;
    m.text = QStringLiteral("Bonjour.");
    return mailfactory::build(m);
}

QByteArray withAttachments(const QByteArray &from, const QStringList &names)
{
    Mail m;
    m.from = from;
    m.subject = QStringLiteral("Pièces");
    m.text = QStringLiteral("Ci-joint.");
    for (const QString &name : names)
        m.attachments << mailfactory::Attachment{name, "contenu de " + name.toUtf8()};
    return mailfactory::build(m);
}

QByteArray raw(const QByteArray &contentType)
{
    return "From: <raw@example.org>\r\nSubject: brut\r\nDate: Tue, 08 Dec 2026 08:00:00 +0000\r\n"
           "Content-Type: " + contentType + "\r\n\r\nCorps.\r\n";
}

QString dateCell(const QByteArray &date)
{
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(date), Qt::RFC2822Date).toLocalTime();
    return when.toString(QStringLiteral("dd/MM/yyyy")) + QStringLiteral("  ") + when.toString(QStringLiteral("HH:mm:ss"));
}

// What ProgressBar1 shows at each change of its position.
struct Step
{
    int value;
    QColor grid, bar, counterColour;
    QString counter;
};

} // namespace

class HeaderScanTest : public QObject
{
    Q_OBJECT

    DovecotServer dovecot;
    RecordingPrompter prompter;
    std::unique_ptr<WindowFixture> w;
    TForm1 *form = nullptr;

    void pointAtDovecot(bool imap = false) { w->pointAt(imap ? dovecot.imapAccount() : dovecot.account()); }
    void pointAt(const FakePop3Server &fake) { w->pointAt(fake.account()); }

    QStringList row(int r) const
    {
        QStringList cells;
        for (int c = 0; c < MessageList::ColumnCount; ++c)
            cells << form->list->cell(r, c);
        return cells;
    }
    QList<QStringList> rows() const
    {
        QList<QStringList> all;
        for (int r = 1; r < form->list->rows(); ++r)
            all << row(r);
        return all;
    }
    QString statusLine() const { return form->StatusBar1->currentMessage(); }
    // The status line says text, "HH:MM" standing for the time something happened.
    bool statusSays(const QString &text) const
    {
        const QString pattern = QRegularExpression::escape(text).replace(QLatin1String("HH\\:MM"), QLatin1String("\\d\\d:\\d\\d"));
        return QRegularExpression(u'^' + pattern + u'$').match(statusLine()).hasMatch();
    }
    QColor counterColour() const { return form->Edit10->palette().color(QPalette::Text); }
    QString blacklistPath() const { return form->dataFolder + QStringLiteral("/Liste-noire.txt"); }

    void writeBlacklist(const QByteArray &bytes)
    {
        QFile f(blacklistPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray readBlacklist() const
    {
        QFile f(blacklistPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The scan ends at rest: grid colour, bar hidden, minute counter 0, and the status line
    // fresh, or after a failure its box and the status line saying so with its time and cause.
    void verifyAtRest(const QString &failure = {})
    {
        if (!failure.isEmpty())
            QCOMPARE(prompter.infos, failedBecause(failure));
        QCOMPARE(form->gridColour(), TForm1::GridRestColour);
        QVERIFY(form->ProgressBar1->isHidden());
        // The scripted server offers no STLS: its logins are in clear text, and the line says so.
        QVERIFY2(failure.isEmpty() ? statusLine() == Checked || statusLine() == Checked + QStringLiteral(" — Connexion non chiffrée")
                                   : statusSays(QStringLiteral("Échec de la relève à HH:MM : ") + failure),
                 qPrintable(statusLine()));
        QCOMPARE(form->check.trayTipText, statusLine());
        QCOMPARE(form->check.minuteCounter, 0);
        QVERIFY(!ServerOperation::busy());
    }

private slots:
    void initTestCase() { QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText())); }
    void cleanupTestCase() { dovecot.stop(); }

    void init()
    {
        w = std::make_unique<WindowFixture>();
        QVERIFY(w->start());
        form = w->form.get();
        // The first show scans with empty fields: two rows and a beep.
        QTRY_VERIFY(form->Timer2->isActive());
        form->Timer2->stop();
        prompter.reset();
    }

    void cleanup()
    {
        form = nullptr;
        w.reset();
    }

    // Empty mailbox, growth, shrinking: rows, counter, unique ids and the new-mail signal,
    // which goes on exactly when messages not listed before came.
    void countsAndNewMailSignal()
    {
        pointAtDovecot();
        dovecot.setMessages({});
        form->check.minuteCounter = 3;
        form->BitBtn2Click();
        QCOMPARE(form->list->rows(), 2);
        QCOMPARE(row(1), QStringList(7, QString()));
        QCOMPARE(form->Edit10->text(), QStringLiteral("0"));
        QCOMPARE(form->check.lastMessageCount, 0);
        QCOMPARE(prompter.beeps, 0);
        QVERIFY(!form->Timer1->isActive());
        QVERIFY(prompter.infos.isEmpty());
        verifyAtRest();

        QList<QByteArray> five;
        for (int i = 1; i <= 5; ++i)
            five << mail("<s" + QByteArray::number(i) + "@example.org>", QStringLiteral("Cinq %1").arg(i));
        dovecot.setMessages(five);
        form->BitBtn2Click();
        QCOMPARE(form->list->rows(), 6);
        QCOMPARE(form->list->cell(5, MessageList::Subject), QStringLiteral("Cinq 5"));
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(form->Timer1->isActive());
        {
            Pop3Session session;
            session.open(dovecot.account());
            const QHash<int, QString> ids = session.uniqueIds();
            QCOMPARE(ids.size(), 5);
            for (int r = 1; r <= 5; ++r)
                QCOMPARE(form->list->uid(r), ids.value(r));
        }

        // Three of the five, with the preview pane open: the grid keeps the pane's state.
        form->Timer1->stop();
        form->SG1->setEnabled(false);
        form->SG1->resize(form->SG1->width(), 120);
        dovecot.removeMessage(4);
        dovecot.removeMessage(2);
        form->BitBtn2Click();
        QCOMPARE(form->list->rows(), 4);
        for (int r = 1; r <= 3; ++r)
            QCOMPARE(form->list->cell(r, MessageList::Subject), QStringLiteral("Cinq %1").arg(2 * r - 1));
        QCOMPARE(form->Edit10->text(), QStringLiteral("3"));
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(!form->Timer1->isActive());
        QVERIFY(!form->SG1->isEnabled());
        QCOMPARE(form->SG1->height(), 120);
        verifyAtRest();

        // As many again: no signal.
        form->BitBtn2Click();
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(!form->Timer1->isActive());
        QVERIFY(prompter.infos.isEmpty());
        QVERIFY(prompter.errors.isEmpty());
    }

    // Every column of a row, the same pipelined against Dovecot and the scripted server, and
    // one command at a time against a server without PIPELINING or TOP. The same over IMAP,
    // each row with its UID, nothing marked \Seen, the removal left to the deletion to learn.
    void rowContents_data() { bothProtocols(); }
    void rowContents()
    {
        QFETCH(bool, imap);
        const QByteArray date = "Wed, 09 Dec 2026 23:30:05 -0500";
        Mail html;
        html.html = QStringLiteral("<p>Bonjour</p>");
        Mail alternative;
        alternative.text = QStringLiteral("Bonjour");
        alternative.html = QStringLiteral("<p>Bonjour</p>");
        const QList<QByteArray> box{
            mail("Alice Martin <alice@example.org>", QStringLiteral("Texte seul"), date),
            mailfactory::build(html),
            mailfactory::build(alternative),
            withAttachments("<pj@example.org>", {QStringLiteral("a.pdf")}),
            raw("Text/HTML"),
            raw("Multipart/Mixed; boundary=x"),
            raw("text/plain"),
            "From: <nul@example.org>\r\nSubject: sans type\r\n\r\nCorps.\r\n",
            mail("", QStringLiteral("Réunion à 10 h — ordre du jour")),
            mail("undisclosed-recipients:;", QStringLiteral("Groupe vide")),
        };

        pointAtDovecot(imap);
        dovecot.setMessages(box);
        form->BitBtn2Click();
        QVERIFY(prompter.infos.isEmpty());
        const QList<QStringList> got = rows();
        QCOMPARE(got.size(), box.size());
        QCOMPARE(got[0], (QStringList{"alice@example.org", "Texte seul", dateCell(date), "Autre", "", "", ""}));
        const QStringList types{"Autre", "T/H", "M/A", "M/M", "Autre", "Autre", "Autre", "Autre", "Autre", "Autre"};
        for (int r = 0; r < box.size(); ++r)
            QCOMPARE(got[r][MessageList::Type], types[r]);
        QCOMPARE(got[4][MessageList::DateTime], dateCell("Tue, 08 Dec 2026 08:00:00 +0000"));
        QCOMPARE(got[7][MessageList::DateTime], QString());
        QCOMPARE(got[8][MessageList::From], QString());
        QCOMPARE(got[8][MessageList::Subject], QStringLiteral("Réunion à 10 h — ordre du jour"));
        QCOMPARE(got[9][MessageList::From], QStringLiteral("undisclosed-recipients:;")); // no address: what the field says
        if (imap) {
            QCOMPARE(form->list->uid(10), QStringLiteral("10"));
            QVERIFY(form->list->idScope().toUInt() > 0);
            // Whether a deletion moves them to Junk is the folder list's to tell, asked by the
            // deletion alone.
            QCOMPARE(form->list->removal(), (Removal{Removal::Kind::Unknown, {}}));
            QCOMPARE(dovecot.storedFlags(), QStringList(box.size(), QString()));
            return;
        }

        FakePop3Server piped;
        piped.mailbox = box;
        QVERIFY(piped.start());
        pointAt(piped);
        form->BitBtn2Click();
        QCOMPARE(rows(), got);
        QVERIFY(piped.largestBurst > 1);

        FakePop3Server plain;
        plain.mailbox = box;
        plain.hasPipelining = false;
        plain.hasTop = false;
        QVERIFY(plain.start());
        pointAt(plain);
        form->BitBtn2Click();
        QCOMPARE(rows(), got);
        QVERIFY(!plain.received("TOP"));
        QCOMPARE(plain.largestBurst, 1);
        QVERIFY(prompter.infos.isEmpty());
    }

    // A large mailbox: each row reaches the grid as one change, not one per cell, and the
    // counter ends on the count with every row filled.
    void manyRowsOneChangeEach()
    {
        pointAtDovecot();
        const int n = 600;
        dovecot.setMessages(mailfactory::realisticMailbox(n));
        QSignalSpy changes(form->list, &MessageList::dataChanged);
        form->BitBtn2Click();
        QVERIFY(prompter.infos.isEmpty());
        QCOMPARE(form->list->rows(), n + 1);
        QVERIFY(form->list->cell(n, MessageList::Subject).endsWith(QStringLiteral(" #%1").arg(n)));
        QCOMPARE(form->Edit10->text(), QString::number(n));
        // One per row, one for the emptying at the start.
        QVERIFY2(changes.size() <= n + 1, qPrintable(QString::number(changes.size())));
        verifyAtRest();
    }

    // Counter, colours and progress positions of both passes; "P.J." counts and names, then
    // switches itself off; the next scan empties the attachment columns again.
    void progressAndAttachments_data() { bothProtocols(); }
    void progressAndAttachments()
    {
        QFETCH(bool, imap);
        QList<Step> steps;
        connect(form->ProgressBar1, &QProgressBar::valueChanged, this, [&](int value) {
            QVERIFY(form->ProgressBar1->isVisible());
            steps << Step{value, form->gridColour(), form->progressBarColour(), counterColour(), form->Edit10->text()};
        });
        pointAtDovecot(imap);
        QList<QByteArray> four;
        for (int i = 1; i <= 4; ++i)
            four << mail("<p" + QByteArray::number(i) + "@example.org>", QStringLiteral("Quatre"));
        dovecot.setMessages(four);
        form->BitBtn2Click();
        QCOMPARE(steps.size(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(steps[i].value, 25 * (i + 1));
            QCOMPARE(steps[i].counter, QString::number(i + 1));
            QCOMPARE(steps[i].grid, DarkRed);
            QCOMPARE(steps[i].bar, QColor(Qt::red));
            QCOMPARE(steps[i].counterColour, QColor(Qt::red));
        }
        verifyAtRest();

        steps.clear();
        dovecot.setMessages({withAttachments("<a@example.org>", {QStringLiteral("a.pdf"), QStringLiteral("b.doc")}),
                             mail("<b@example.org>", QStringLiteral("Sans pièce")),
                             withAttachments("<c@example.org>", {QStringLiteral("c.zip")})});
        form->CheckBox1->setChecked(true);
        form->BitBtn2Click();
        // The attachment pass moves the bar per part: the single-part message 2 has none. IMAP
        // reads structures, not parts: per message.
        const QList<int> expected = imap ? QList<int>{0, 33, 66, 100, 0, 33, 66, 100} : QList<int>{0, 33, 66, 100, 0, 33, 100};
        QCOMPARE(steps.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(steps[i].value, expected[i]);
            const QColor colour = i < 4 ? QColor(Qt::red) : QColor(Qt::blue);
            QCOMPARE(steps[i].bar, colour);
            QCOMPARE(steps[i].counterColour, colour);
            QCOMPARE(steps[i].grid, DarkRed);
        }
        QCOMPARE(steps[4].counter, QStringLiteral("3")); // the header pass's last count
        QCOMPARE(steps[6].counter, imap ? QStringLiteral("1/3") : QStringLiteral("2/3")); // the progress moves before the counter
        QCOMPARE(form->Edit10->text(), QStringLiteral("3/3"));
        QCOMPARE(form->list->cell(1, MessageList::Attachments), QStringLiteral("2"));
        QCOMPARE(form->list->cell(1, MessageList::AttachmentNames), QStringLiteral("a.pdf|b.doc|"));
        QCOMPARE(form->list->cell(2, MessageList::Attachments), QStringLiteral("_"));
        QCOMPARE(form->list->cell(2, MessageList::AttachmentNames), QString());
        QCOMPARE(form->list->cell(3, MessageList::Attachments), QStringLiteral("1"));
        QCOMPARE(form->list->cell(3, MessageList::AttachmentNames), QStringLiteral("c.zip|"));
        QVERIFY(!form->CheckBox1->isChecked());
        verifyAtRest();

        form->BitBtn2Click();
        for (int r = 1; r <= 3; ++r) {
            QCOMPARE(form->list->cell(r, MessageList::Attachments), QString());
            QCOMPARE(form->list->cell(r, MessageList::AttachmentNames), QString());
        }
        QVERIFY(prompter.infos.isEmpty());
        QVERIFY(prompter.errors.isEmpty());
    }

    // Structures IMAP describes badly or past its limits (70 nested parts, 8,000 empty ones):
    // each costs at most its own "P.J." cell, "?" over IMAP; the pass goes on without a box and
    // the other rows count and name the attachments as POP3 does.
    void attachmentsOfOddStructures_data() { bothProtocols(); }
    void attachmentsOfOddStructures()
    {
        QFETCH(bool, imap);
        pointAtDovecot(imap);
        const auto message = [](const QByteArray &body) {
            return "From: <o@example.org>\r\nSubject: Structure\r\nDate: Tue, 08 Dec 2026 08:00:00 +0000\r\n"
                   "MIME-Version: 1.0\r\n" + body;
        };
        const auto mixed = [](const QByteArrayList &headers) {
            QByteArray m = "Content-Type: multipart/mixed; boundary=\"m\"\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\nTexte\r\n";
            for (const QByteArray &header : headers)
                m += "--m\r\n" + header + "\r\n\r\nx\r\n";
            return m + "--m--\r\n";
        };
        QByteArray deep = mixed({"Content-Type: application/pdf; name=\"profond.pdf\""});
        for (int i = 0; i < 70; ++i) {
            const QByteArray b = "d" + QByteArray::number(i);
            deep = "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n--" + b + "\r\n" + deep + "\r\n--" + b + "--\r\n";
        }
        const QByteArray many = "Content-Type: multipart/mixed; boundary=\"e\"\r\n\r\n" + QByteArray("--e\r\n\r\n").repeated(8000) + "--e--\r\n";
        dovecot.setMessages({message(deep),
                             message(mixed({"Content-Type: application/pdf; name=\"a.pdf\"", "Content-Type: BINARY;name=\"b.bin\"",
                                            "Content-Type: image/png; name=c.png"})),
                             message(many), message("Content-Type: BINARY; name=\"seul.bin\"\r\n\r\nx\r\n"),
                             message(mixed({"Content-Type: application/pdf; name=mon fichier.pdf"}))});
        form->CheckBox1->setChecked(true);
        form->BitBtn2Click();
        QList<QStringList> cells;
        for (int r = 1; r <= 5; ++r)
            cells << QStringList{form->list->cell(r, MessageList::Attachments), form->list->cell(r, MessageList::AttachmentNames)};
        const QStringList unknown = imap ? QStringList{"?", ""} : QStringList{"_", ""};
        QCOMPARE(cells, (QList<QStringList>{unknown, {"3", "a.pdf|b.bin|c.png|"}, unknown, {"1", "seul.bin|"}, {"1", "mon fichier.pdf|"}}));
        QVERIFY(prompter.errors.isEmpty());
        QVERIFY(!form->CheckBox1->isChecked());
        verifyAtRest();
    }

    // Over IMAP with "P.J." the structures come in the header pass's own FETCH: one pass, and
    // the attachments on the rows.
    void imapAttachmentsInTheHeaderPass()
    {
        FakeImapServer fake;
        const QByteArray text = "(\"text\" \"plain\" NIL NIL NIL \"7bit\" 1 1)";
        const QByteArray pdf = "(\"application\" \"pdf\" (\"name\" \"a.pdf\") NIL NIL \"base64\" 4 NIL)";
        QByteArray fetched;
        for (int n = 1; n <= 3; ++n)
            fetched += FakeImapServer::fetched(n).chopped(3) + " BODYSTRUCTURE " + (n == 2 ? "(" + text + pdf + " \"mixed\")" : text) + ")\r\n";
        fake.script["FETCH"] = fetched + "$ OK done";
        QVERIFY(fake.start());
        MailAccount account = fake.account();
        account.protocol = MailAccount::Protocol::Imap;
        w->pointAt(account);
        form->CheckBox1->setChecked(true);
        form->BitBtn2Click();
        QCOMPARE(form->list->cell(1, MessageList::Attachments), QStringLiteral("_"));
        QCOMPARE(form->list->cell(2, MessageList::AttachmentNames), QStringLiteral("a.pdf|"));
        QCOMPARE(std::count_if(fake.commands.cbegin(), fake.commands.cend(), [](const QByteArray &c) { return c.contains(" FETCH "); }), 1);
        verifyAtRest();
    }

    // A login refused and a connection dropped in the middle of the header pass: one box,
    // what was on screen or already read stays, the scan still ends at rest.
    void networkFailures_data()
    {
        QTest::addColumn<bool>("pipelining");
        QTest::newRow("pipelined") << true;
        QTest::newRow("one at a time") << false;
    }
    void networkFailures()
    {
        QFETCH(bool, pipelining);
        FakePop3Server fake;
        fake.hasPipelining = pipelining;
        for (int i = 1; i <= 4; ++i)
            fake.mailbox << mail("<f" + QByteArray::number(i) + "@example.org>", QStringLiteral("Faux %1").arg(i));
        QVERIFY(fake.start());
        pointAt(fake);
        form->BitBtn2Click();
        const QList<QStringList> before = rows();
        QCOMPARE(before.size(), 4);
        prompter.reset();

        form->Edit16->setText(QStringLiteral("mauvais"));
        form->StatusBar1->clearMessage();
        form->check.minuteCounter = 2;
        form->BitBtn2Click();
        QCOMPARE(rows(), before);
        QCOMPARE(form->check.lastMessageCount, 4);
        QCOMPARE(prompter.beeps, 0);
        verifyAtRest(LoginRefused);

        prompter.reset();
        form->Edit16->setText(fake.password);
        fake.breakCommand("TOP", Fault::Drop, 3);
        fake.mailbox << mail("<f5@example.org>", QStringLiteral("Faux 5"));
        form->BitBtn2Click();
        QCOMPARE(form->list->rows(), 6);
        QCOMPARE(form->list->cell(2, MessageList::Subject), QStringLiteral("Faux 2"));
        for (int r = 3; r <= 5; ++r)
            QCOMPARE(row(r), QStringList(7, QString()));
        QCOMPARE(form->check.lastMessageCount, 5);
        QCOMPARE(prompter.beeps, 1); // the count grew, whatever came after
        QVERIFY(prompter.errors.isEmpty());
        verifyAtRest(QStringLiteral("Connexion coupée par le serveur"));
    }

    // The box says what went wrong, in French, for a user.
    void failureCauses_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("cause");
        QTest::addColumn<bool>("imap");
        for (const bool imap : {false, true}) {
            const QByteArray over = imap ? ", IMAP" : "";
            QTest::newRow("nobody listening" + over) << QStringLiteral("closed") << QStringLiteral("Connexion refusée par le serveur") << imap;
            QTest::newRow("no such server" + over) << QStringLiteral("name") << QStringLiteral("Serveur introuvable") << imap;
            QTest::newRow("wrong password" + over) << QStringLiteral("password") << LoginRefused << imap;
            QTest::newRow("silent server" + over) << QStringLiteral("stall") << QStringLiteral("Le serveur ne répond plus") << imap;
            // The other protocol's greeting: how to write the account for the server.
            QTest::newRow("the other protocol's greeting" + over)
                << QStringLiteral("greeting")
                << QStringLiteral("Ce serveur parle %1 : écrivez %2://127.0.0.1 comme serveur (%2s:// pour un port "
                                  "chiffré d'emblée)").arg(imap ? "POP3" : "IMAP", imap ? "pop3" : "imap")
                << imap;
        }
        QTest::newRow("TLS fails") << QStringLiteral("tls") << QStringLiteral("Échec du chiffrement TLS") << false;
    }
    void failureCauses()
    {
        QFETCH(QString, failure);
        QFETCH(QString, cause);
        QFETCH(bool, imap);
        const SessionLimits defaults = SessionLimits::defaults();
        const auto restore = qScopeGuard([&] { SessionLimits::setDefaults(defaults); });
        SessionLimits quick = defaults;
        quick.idleMs = 500;
        SessionLimits::setDefaults(quick);
        FakePop3Server pop3;
        FakeImapServer imapServer;
        FakePop3Server &fake = imap ? imapServer : pop3;
        imapServer.script["LOGIN"] = "$ NO [AUTHENTICATIONFAILED] refusé";
        fake.mailbox << mail("<c1@example.org>", QStringLiteral("C 1"));
        fake.brokenStls = failure == QLatin1String("tls");
        fake.breakCommand("GREETING", failure == QLatin1String("stall") ? Fault::Stall : Fault::None);
        QVERIFY(fake.start());
        MailAccount account = fake.account();
        account.protocol = imap ? MailAccount::Protocol::Imap : MailAccount::Protocol::Pop3;
        w->pointAt(account);
        if (failure == QLatin1String("closed"))
            fake.close();
        if (failure == QLatin1String("name")) // refused before any lookup
            form->Edit3->setText(imap ? QStringLiteral("imap://serveur..introuvable") : QStringLiteral("serveur..introuvable"));
        if (failure == QLatin1String("password"))
            form->Edit16->setText(QStringLiteral("mauvais"));
        if (failure == QLatin1String("greeting")) {
            pop3.greeting = "* OK IMAP4rev1 ready";
            imapServer.script["GREETING"] = "+OK Dovecot ready.";
        }
        form->BitBtn2Click();
        verifyAtRest(cause);
    }

    // An error in the attachment pass goes to the standard error report at once and stops the
    // pass where it is; the scan still ends: marks, colours, bar, status line. The next scan
    // runs normally.
    void attachmentPassError()
    {
        FakePop3Server fake;
        for (int i = 1; i <= 3; ++i)
            fake.mailbox << withAttachments("<g" + QByteArray::number(i) + "@example.org>", {QStringLiteral("x.txt")});
        fake.breakCommand("RETR", Fault::Err, 2);
        QVERIFY(fake.start());
        pointAt(fake);
        writeBlacklist("g3@\t00/00/0000\r\n");
        form->CheckBox1->setChecked(true);
        form->BitBtn2Click();
        QCOMPARE(prompter.errors.size(), 1);
        QVERIFY(prompter.errors[0].contains(QStringLiteral("RETR 2")));
        QVERIFY(prompter.infos.isEmpty());
        QCOMPARE(form->list->cell(1, MessageList::Attachments), QStringLiteral("1"));
        QCOMPARE(form->list->cell(2, MessageList::Attachments), QString());
        QCOMPARE(form->list->cell(3, MessageList::Mark), QStringLiteral("1"));
        QVERIFY(form->CheckBox1->isChecked());
        verifyAtRest();

        fake.breakCommand("RETR", Fault::None, 2);
        form->BitBtn2Click();
        QCOMPARE(prompter.errors.size(), 1);
        QCOMPARE(form->list->cell(3, MessageList::AttachmentNames), QStringLiteral("x.txt|"));
        QVERIFY(!form->CheckBox1->isChecked());
        verifyAtRest();

        // After a refused login the attachment pass still runs, on a session that never
        // opened: the box, then the error report, then the end of the scan.
        prompter.reset();
        form->StatusBar1->clearMessage();
        form->CheckBox1->setChecked(true);
        form->Edit16->setText(QStringLiteral("mauvais"));
        form->BitBtn2Click();
        QCOMPARE(prompter.errors.size(), 1);
        QCOMPARE(form->list->rows(), 4);
        verifyAtRest(LoginRefused);
    }

    // A header the server refuses is that message's failure: the box, and the session goes on
    // with the attachment pass and the end of the scan.
    void refusedHeader_data()
    {
        QTest::addColumn<bool>("pipelining");
        QTest::newRow("pipelined") << true;
        QTest::newRow("one at a time") << false;
    }
    void refusedHeader()
    {
        QFETCH(bool, pipelining);
        FakePop3Server fake;
        fake.hasPipelining = pipelining;
        for (int i = 1; i <= 3; ++i)
            fake.mailbox << withAttachments("<h" + QByteArray::number(i) + "@example.org>", {QStringLiteral("y.txt")});
        fake.breakCommand("TOP", Fault::Err, 2);
        QVERIFY(fake.start());
        pointAt(fake);
        writeBlacklist("h1@\t00/00/0000\r\n");
        form->CheckBox1->setChecked(true);
        form->BitBtn2Click();
        QVERIFY(prompter.errors.isEmpty());
        QCOMPARE(form->list->cell(1, MessageList::From), QStringLiteral("h1@example.org"));
        QCOMPARE(form->list->cell(1, MessageList::Mark), QStringLiteral("1"));
        QCOMPARE(form->list->cell(2, MessageList::From), QString());
        for (int r = 1; r <= 3; ++r)
            QCOMPARE(form->list->cell(r, MessageList::Attachments), QStringLiteral("1"));
        QVERIFY(!form->CheckBox1->isChecked());
        verifyAtRest(QStringLiteral("Le serveur a refusé une commande"));
    }

    // A reply too many, or one without its end, would shift every later row onto the next
    // message: the scan fails and leaves no row standing for the wrong message, so the
    // blacklist marks none. In the attachment pass, no count stands for the wrong message.
    // A stray reply is found however late the replies behind it come, with or without UIDL.
    void outOfStep_data()
    {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("pipelining");
        QTest::addColumn<QByteArray>("stray"); // with Fault::Stray; "-UIDL": the server lacks UIDL
        QTest::newRow("reply too many, pipelined") << QByteArray("TOP") << int(Fault::Twice) << true << QByteArray();
        QTest::newRow("reply too many, one at a time") << QByteArray("TOP") << int(Fault::Twice) << false << QByteArray();
        QTest::newRow("reply without its end") << QByteArray("TOP") << int(Fault::Unterminated) << true << QByteArray();
        QTest::newRow("attachment pass") << QByteArray("RETR") << int(Fault::Twice) << true << QByteArray();
        QTest::newRow("stray status line") << QByteArray("TOP") << int(Fault::Stray) << true << QByteArray("+OK stray\r\n");
        QTest::newRow("stray reply, late last one, no UIDL")
            << QByteArray("TOP") << int(Fault::Stray) << true << QByteArray("+OK\r\n.\r\n-UIDL");
    }
    void outOfStep()
    {
        QFETCH(QByteArray, verb);
        QFETCH(int, fault);
        QFETCH(bool, pipelining);
        QFETCH(QByteArray, stray);
        FakePop3Server fake;
        fake.hasPipelining = pipelining;
        for (int i = 1; i <= 5; ++i)
            fake.mailbox << withAttachments("<k" + QByteArray::number(i) + "@example.org>", {QStringLiteral("z.txt")});
        fake.breakCommand(verb, Fault(fault), 2);
        fake.hasUidl = !stray.endsWith("-UIDL");
        fake.strayReply = stray.chopped(fake.hasUidl ? 0 : 5);
        if (!fake.hasUidl)
            fake.breakCommand(verb, Fault::Delay, 5);
        QVERIFY(fake.start());
        pointAt(fake);
        const QByteArray blacklist = "k2@\t00/00/0000\r\n";
        writeBlacklist(blacklist);
        form->CheckBox1->setChecked(verb == "RETR");
        form->BitBtn2Click();
        if (verb == "RETR") {
            QCOMPARE(prompter.errors.size(), 1);
            QCOMPARE(form->list->cell(3, MessageList::From), QStringLiteral("k3@example.org"));
            for (int r = 1; r <= 5; ++r)
                QCOMPARE(form->list->cell(r, MessageList::Attachments), QString());
        } else {
            QCOMPARE(rows(), QList<QStringList>(5, QStringList(7, QString())));
            QCOMPARE(form->list->uid(3), QString());
            QCOMPARE(readBlacklist(), blacklist);
        }
        verifyAtRest(verb == "RETR" ? QString() : QStringLiteral("Échange désynchronisé avec le serveur"));
    }

    // A server that never ends a reply, or trickles it, cannot keep the scan going: the box,
    // the rows read before it, and the scan ends.
    // The pause between the emptied list and the count is seen as before, while the headers
    // are already asked for: until it is over, no row, no bar, the counter at 0.
    void headersReadDuringThePause()
    {
        FakePop3Server fake;
        for (int i = 1; i <= 30; ++i)
            fake.mailbox << mail("<p" + QByteArray::number(i) + "@example.org>", QStringLiteral("P %1").arg(i));
        QVERIFY(fake.start());
        pointAt(fake);
        QElapsedTimer clock;
        qint64 asked = -1, shown = -1;
        QStringList seenWhenAsked;
        QTimer watch;
        watch.setInterval(1);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (asked < 0 && fake.received("UIDL")) {
                asked = clock.elapsed();
                seenWhenAsked = QStringList{form->Edit10->text(), row(1).join(u'|'),
                                            form->ProgressBar1->isVisible() ? "bar" : "no bar"};
            }
        });
        QObject::connect(form->Edit10, &QLineEdit::textChanged, [&](const QString &t) {
            if (shown < 0 && t == QStringLiteral("1"))
                shown = clock.elapsed();
        });
        clock.start();
        watch.start();
        form->BitBtn2Click();
        QVERIFY(prompter.infos.isEmpty());
        QCOMPARE(seenWhenAsked, (QStringList{"0", "||||||", "no bar"}));
        // Without the hold the rows would follow the headers within a few milliseconds.
        QVERIFY2(shown - asked >= 50, qPrintable(QStringLiteral("%1 ms").arg(shown - asked)));
        QCOMPARE(row(30).mid(0, 2), (QStringList{"p30@example.org", "P 30"}));
        QCOMPARE(form->Edit10->text(), QStringLiteral("30"));
        verifyAtRest();
    }

    // A server that sends steadily, fast enough for the limit on waiting, still meets the clock.
    void hostileServer_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("steady");
        QTest::addColumn<QString>("cause");
        QTest::newRow("endless header") << int(Fault::Endless) << false << QStringLiteral("Réponse trop longue du serveur");
        QTest::newRow("trickled header") << int(Fault::Trickle) << false << QStringLiteral("Le serveur répond trop lentement");
        QTest::newRow("steadily sent header") << int(Fault::Trickle) << true << QStringLiteral("Le serveur répond trop lentement");
    }
    void hostileServer()
    {
        QFETCH(int, fault);
        QFETCH(bool, steady);
        QFETCH(QString, cause);
        const SessionLimits defaults = SessionLimits::defaults();
        const auto restore = qScopeGuard([&] { SessionLimits::setDefaults(defaults); });
        SessionLimits quick = defaults;
        quick.operationMs = 1000;
        if (steady) {
            quick.creditBytesPerSecond = 1; // a second more to wait for every byte
            quick.sessionMs = 1500;
        }
        SessionLimits::setDefaults(quick);
        FakePop3Server fake;
        fake.delayMs = 20;
        for (int i = 1; i <= 3; ++i)
            fake.mailbox << mail("<m" + QByteArray::number(i) + "@example.org>", QStringLiteral("M %1").arg(i));
        fake.breakCommand("TOP", Fault(fault), 2);
        QVERIFY(fake.start());
        pointAt(fake);
        form->BitBtn2Click();
        QCOMPARE(form->list->cell(1, MessageList::Subject), QStringLiteral("M 1"));
        QCOMPARE(row(2), QStringList(7, QString()));
        verifyAtRest(cause);
    }

    // Marks come from the blacklist at every scan; the first entry that catches a row gets the
    // last header date, in place; a failed scan marks the rows still listed but writes no date.
    void blacklistMarking()
    {
        const QByteArray lastDate = "Fri, 11 Dec 2026 12:00:00 +0000";
        dovecot.setMessages({mail("<alice@example.org>", QStringLiteral("Amie")),
                             mail("<promo@spam.example>", QStringLiteral("Promo")),
                             mail("<offre@spam.example>", QStringLiteral("Offre"), lastDate)});
        const QByteArray other = "pattern\tnot a date\r\nalice@EXAMPLE.org\t00/00/0000\r\n";
        const QByteArray fresh = "spam.example\t00/00/0000\r\n" + other;
        writeBlacklist(fresh);
        const QByteArray dated = "spam.example\t" + dateCell(lastDate).left(10).toLatin1() + "\r\n" + other;

        pointAtDovecot();
        form->BitBtn2Click();
        QCOMPARE(readBlacklist(), dated);
        const QStringList marks{"", "1", "1"};
        auto currentMarks = [&] {
            QStringList m;
            for (int r = 1; r <= 3; ++r)
                m << form->list->cell(r, MessageList::Mark);
            return m;
        };
        QCOMPARE(currentMarks(), marks);

        // The user's toggles do not survive a scan.
        form->list->setCell(1, MessageList::Mark, QStringLiteral("1"));
        form->list->setCell(2, MessageList::Mark, QString());
        writeBlacklist(fresh);
        form->BitBtn2Click();
        QCOMPARE(currentMarks(), marks);
        QCOMPARE(readBlacklist(), dated);

        // No header read: the rows on screen are marked, no date is written.
        form->list->setCell(3, MessageList::Mark, QString());
        writeBlacklist(fresh);
        form->Edit16->setText(QStringLiteral("mauvais"));
        form->BitBtn2Click();
        QCOMPARE(prompter.infos, failedBecause(LoginRefused));
        QCOMPARE(currentMarks(), marks);
        QCOMPARE(readBlacklist(), fresh);
    }

    // Once the score has learned 20 of each kind, a scan ticks the rows it finds spam with a
    // mark of their own, on amber, and says why in the tip; a blacklist tick stays as it was, a
    // friend's row is never ticked, and before that nothing is suggested.
    void suggestions_data()
    {
        QTest::addColumn<bool>("imap");
        QTest::addColumn<int>("spamsLearned");
        QTest::newRow("POP3") << false << 20;
        QTest::newRow("IMAP") << true << 20;
        QTest::newRow("cold start") << false << 19;
    }
    void suggestions()
    {
        QFETCH(bool, imap);
        QFETCH(int, spamsLearned);
        using namespace learningmail;
        trainStore(form->dataFolder, spamsLearned, 20);
        dovecot.setMessages({wholeMail(spam(100)), wholeMail(ham(100)), mail("<promo@spam.example>", QStringLiteral("Promo")),
                             wholeMail(spam(101))});
        writeBlacklist("spam.example\t00/00/0000\r\n");
        QFile friends(form->dataFolder + QStringLiteral("/Liste-amis.txt"));
        QVERIFY(friends.open(QIODevice::WriteOnly));
        friends.write("x3131q@promo-masse.example\r\n");
        friends.close();
        pointAtDovecot(imap);
        form->BitBtn2Click();
        QCOMPARE(form->list->rows(), 5);

        const bool warm = spamsLearned >= 20;
        const MessageList &list = *form->list;
        QCOMPARE(list.isMarked(1), warm);
        QCOMPARE(list.isSuggestion(1), warm);
        QVERIFY(!list.isMarked(2));
        QVERIFY(list.isMarked(3) && !list.isSuggestion(3));
        QVERIFY(!list.isMarked(4)); // the friend's
        const auto tip = [&](int row) { return form->SG1->model()->index(row - 1, MessageList::Mark).data(Qt::ToolTipRole).toString(); };
        if (warm) {
            QVERIFY2(QRegularExpression(QStringLiteral("^Spam probable \\(score [01],\\d\\d\\), appris de vos suppressions$"))
                         .match(tip(1)).hasMatch(), qPrintable(tip(1)));
            QVERIFY2(tip(2).startsWith(QStringLiteral("Pas de spam probable")), qPrintable(tip(2)));
        } else {
            QCOMPARE(tip(1), QStringLiteral("Score en apprentissage : 19 spams et 20 messages légitimes appris, il en faut "
                                            "20 de chaque"));
        }

        // What the user sees: the suggested tick on amber, the blacklist's on the grid's colour.
        form->show();
        const QImage grid = form->SG1->grab().toImage();
        const auto cell = [&](int row) { return grid.copy(form->SG1->cellRect(MessageList::Mark, row).adjusted(0, 0, -1, -1)); };
        const auto amber = [&](int row) {
            const QImage image = cell(row);
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += image.pixelColor(x, y) == SuggestionColour ? 1 : 0;
            return n;
        };
        QCOMPARE(amber(1) > 0, warm);
        QCOMPARE(amber(3), 0);
        if (warm)
            QVERIFY(cell(1) != cell(3));
    }

    // A damaged database of what was learned stops no scan: it is put aside, the status line
    // says so in one line, and learning starts again.
    void damagedLearnedStore()
    {
        const QString store = form->dataFolder + QStringLiteral("/Apprentissage.sqlite");
        QFile damaged(store);
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write(QByteArray(8192, 'x'));
        damaged.close();
        dovecot.setMessages({mail("<alice@example.org>", QStringLiteral("Amie"))});
        pointAtDovecot();
        form->BitBtn2Click();
        QCOMPARE(form->list->cell(1, MessageList::Subject), QStringLiteral("Amie"));
        QVERIFY(prompter.infos.isEmpty());
        QVERIFY2(statusLine().startsWith(Checked + QStringLiteral(" — Apprentissage : la base était illisible")),
                 qPrintable(statusLine()));
        QVERIFY(QFile::exists(store + QStringLiteral(".endommagé")));
    }

    // CheckBox4, by mouse or keyboard, takes the suggestions off the rows at once and back, and
    // the choice is the next window's.
    void suggestionsSwitch()
    {
        using namespace learningmail;
        trainStore(form->dataFolder);
        dovecot.setMessages({wholeMail(spam(100)), wholeMail(ham(100))});
        pointAtDovecot();
        QVERIFY(form->CheckBox4->isChecked());
        form->BitBtn2Click();
        QVERIFY(form->list->isSuggestion(1));

        form->CheckBox4->click();
        QVERIFY(!form->list->isMarked(1));
        QFile options(form->dataFolder + QStringLiteral("/Options.txt"));
        QVERIFY(options.open(QIODevice::ReadOnly));
        QCOMPARE(options.readAll(), QByteArray("suggestions=0\n"));
        QCOMPARE(options.permissions() & 0x0077, QFileDevice::Permissions());
        form->BitBtn2Click();
        QVERIFY(!form->list->isMarked(1));
        {
            TForm1 next(DesignWorkArea);
            QVERIFY(!next.CheckBox4->isChecked());
        }

        form->CheckBox4->setFocus();
        QTest::keyClick(form->CheckBox4, Qt::Key_Space);
        QVERIFY(form->CheckBox4->isChecked());
        QVERIFY(form->list->isSuggestion(1));
        TForm1 next(DesignWorkArea);
        QVERIFY(next.CheckBox4->isChecked());
    }

    // The row menu, from the right button over a row's text or from Shift+F10 and the Menu key:
    // the sender goes into the blacklist or the friends list as the editor writes them, and the
    // rows are marked again at once; "not spam" unticks and teaches the score.
    void rowMenu()
    {
        using namespace learningmail;
        trainStore(form->dataFolder);
        dovecot.setMessages({wholeMail(ham(100)), wholeMail(spam(100)), wholeMail(ham(104)), wholeMail(spam(101))});
        pointAtDovecot();
        form->show();
        form->BitBtn2Click();
        QVERIFY(!form->list->isMarked(1) && form->list->isSuggestion(2) && form->list->isSuggestion(4));

        w->clickCell(MessageList::Subject, 1, Qt::RightButton);
        QTRY_VERIFY(form->RowMenu->isVisible());
        QCOMPARE(form->menuRow, 1);
        form->RowMenu->hide();
        form->AddToBlacklist1->trigger();
        QVERIFY(readBlacklist().startsWith("marie.dupont@atelier-dupont.example\t"));
        QCOMPARE(QFile::permissions(blacklistPath()) & 0x0077, QFileDevice::Permissions());
        // Rows 1 and 3 share the sender.
        QVERIFY(form->list->isMarked(1) && form->list->isMarked(3) && !form->list->isSuggestion(1));

        form->SG1->setFocus();
        form->SG1->setCurrentIndex(form->SG1->model()->index(1, MessageList::Subject));
        QTest::keyClick(form->SG1, Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(form->RowMenu->isVisible());
        QCOMPARE(form->menuRow, 2);
        form->RowMenu->hide();
        form->AddToFriends1->trigger();
        QFile friends(form->dataFolder + QStringLiteral("/Liste-amis.txt"));
        QVERIFY(friends.open(QIODevice::ReadOnly));
        QVERIFY(friends.readAll().startsWith("x3100q@promo-masse.example"));
        QVERIFY(!form->list->isMarked(2));
        QVERIFY(form->list->isSuggestion(4));

        form->SG1->setCurrentIndex(form->SG1->model()->index(3, MessageList::Subject));
        QTest::keyClick(form->SG1, Qt::Key_Menu);
        QTRY_VERIFY(form->RowMenu->isVisible());
        form->RowMenu->hide();
        form->NotSpam1->trigger();
        QVERIFY(!form->list->isMarked(4));
        QCOMPARE(form->list->tickedBy(4), MessageList::TickedBy::User);
        QTRY_COMPARE(learned(form->dataFolder), std::pair(20, 21));

        // A scan while the menu is open: its row may stand for another message now.
        w->clickCell(MessageList::Subject, 3, Qt::RightButton);
        QTRY_VERIFY(form->RowMenu->isVisible());
        form->RowMenu->hide();
        dovecot.setMessages({wholeMail(ham(100)), wholeMail(spam(100)), wholeMail(ham(105))});
        form->BitBtn2Click();
        const QByteArray blacklist = readBlacklist();
        form->AddToBlacklist1->trigger();
        QCOMPARE(readBlacklist(), blacklist);
        QVERIFY(prompter.infos.isEmpty());
    }

    // One server operation at a time: a press during a scan beeps and starts nothing; scans
    // asked for by timers or the tray meanwhile make exactly one more scan after it.
    void refusedAndDeferred()
    {
        FakePop3Server fake;
        for (int i = 1; i <= 4; ++i)
            fake.mailbox << mail("<d" + QByteArray::number(i) + "@example.org>", QStringLiteral("D %1").arg(i));
        QVERIFY(fake.start());
        pointAt(fake);

        bool inside = false;
        int connectionsInside = -1;
        connect(form->ProgressBar1, &QProgressBar::valueChanged, this, [&](int value) {
            if (inside || value != 50)
                return;
            inside = true;
            form->BitBtn2Click();
            requestScan(*form);
            requestScan(*form);
            connectionsInside = fake.connections;
        });
        form->BitBtn2Click();
        QVERIFY(inside);
        QCOMPARE(connectionsInside, 1);
        QCOMPARE(prompter.beeps, 2); // the refused press, then the new mail
        QVERIFY(ServerOperation::scanDeferred());

        QTRY_COMPARE(fake.connections, 2);
        QVERIFY(!ServerOperation::scanDeferred());
        QVERIFY(!ServerOperation::busy());
        QCOMPARE(prompter.beeps, 2);
        QCOMPARE(form->list->rows(), 5);
        verifyAtRest();

        // Nothing running: the request scans at once.
        requestScan(*form);
        QCOMPARE(fake.connections, 3);
        QVERIFY(prompter.infos.isEmpty());
        QVERIFY(prompter.errors.isEmpty());
    }

    // A tick during another operation (a deletion, say) is answered by the scan that operation
    // ends with: no second scan after it.
    void deferredRequestAnsweredByTheNextScan()
    {
        FakePop3Server fake;
        fake.mailbox << mail("<e1@example.org>", QStringLiteral("E 1"));
        QVERIFY(fake.start());
        pointAt(fake);
        {
            const ServerOperation deletion;
            requestScan(*form);
            QVERIFY(ServerOperation::scanDeferred());
        }
        form->BitBtn2Click();
        QCOMPARE(fake.connections, 1);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(fake.connections, 1);
        QVERIFY(!ServerOperation::scanDeferred());
    }

    // Any of the four connection fields empty: two empty rows, a beep, nothing else.
    void emptyField_data()
    {
        QTest::addColumn<QString>("field");
        for (const char *name : {"Edit3", "Edit4", "Edit15", "Edit16"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void emptyField()
    {
        QFETCH(QString, field);
        FakePop3Server fake;
        fake.mailbox << mail("<e1@example.org>", QStringLiteral("E1")) << mail("<e2@example.org>", QStringLiteral("E2"));
        QVERIFY(fake.start());
        pointAt(fake);
        form->BitBtn2Click();
        prompter.reset();
        form->StatusBar1->clearMessage();
        form->check.minuteCounter = 4;

        form->findChild<QLineEdit *>(field)->clear();
        form->BitBtn2Click();
        QCOMPARE(form->list->rows(), 2);
        QCOMPARE(row(1), QStringList(7, QString()));
        QCOMPARE(form->list->uid(1), QString());
        QCOMPARE(prompter.beeps, 1);
        QCOMPARE(fake.connections, 1);
        QCOMPARE(form->check.lastMessageCount, 2);
        QVERIFY2(statusSays(QStringLiteral("Relève impossible à HH:MM : compte de réception incomplet")), qPrintable(statusLine()));
        QCOMPARE(form->check.minuteCounter, 4);
        QVERIFY(prompter.infos.isEmpty());
    }
};

QTEST_MAIN(HeaderScanTest)
#include "test_headerscan.moc"
