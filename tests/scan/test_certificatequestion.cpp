// SPDX-License-Identifier: GPL-3.0-or-later
// What the user sees of the server's encryption: the certificate question asked once and
// remembered, asked again more strongly when the certificate changes, never asked by a timer's
// scan; and the status line of a login in clear text.
#include <QtTest>

#include <QStatusBar>

#include "protocol/CertificateTrust.h"
#include "mailbox/MessageList.h"
#include "protocol/NetworkErrors.h"
#include "scan/HeaderScan.h"
#include "support/DovecotServer.h"
#include "support/FakeImapServer.h"
#include "support/FakePop3Server.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/TestFiles.h"
#include "support/WindowFixture.h"
#include "window/PelicordeFP.h"

namespace {

const QString Failed = QStringLiteral("Erreur durant la reception des messages");
const QString Checked = QStringLiteral("Courrier vérifié il y a moins d'une minute");

QByteArray mail()
{
    mailfactory::Mail m;
    m.from = "ami@example.org";
    m.subject = QStringLiteral("Bonjour");
    m.text = QStringLiteral("Corps.");
    return mailfactory::build(m);
}

} // namespace

class CertificateQuestionTest : public QObject
{
    Q_OBJECT
    DovecotServer dovecot;
    RecordingPrompter prompter;
    std::unique_ptr<WindowFixture> w;

private slots:
    void initTestCase()
    {
        QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText()));
        dovecot.setMessages({mail()});
    }

    void init()
    {
        w = std::make_unique<WindowFixture>();
        QVERIFY(w->start());
        QTRY_VERIFY(w->form->Timer2->isActive());
        w->form->Timer2->stop();
        prompter.reset();
    }
    void cleanup() { w.reset(); }

    void trustOnFirstUse_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::addColumn<bool>("imap");
        QTest::newRow("STLS") << false << false;
        QTest::newRow("implicit TLS") << true << false;
        QTest::newRow("IMAP STARTTLS") << false << true;
        QTest::newRow("IMAP implicit TLS") << true << true;
    }
    void trustOnFirstUse()
    {
        QFETCH(bool, tls);
        QFETCH(bool, imap);
        TForm1 &form = *w->form;
        QVERIFY(dovecot.replaceCertificate()); // self-signed, trusted by no CA
        const MailAccount account = imap ? dovecot.imapAccount(tls) : dovecot.account(tls);
        w->pointAt(account);
        const QString server = QStringLiteral("127.0.0.1:%1").arg(account.port);
        const QString store = certificates::storePath(form.dataFolder);
        const QString toConfirm =
            QStringLiteral("Le certificat du serveur %1 est à confirmer : relève à la prochaine demande").arg(server);

        enum Action { User, Timer, Replace };
        struct Step
        {
            const char *what;
            Action action;
            bool answer;
            QString question; // how the question starts; empty: none asked
            QString status;
            bool listed;      // the message got into the list
        };
        const QString first = QStringLiteral("Le certificat du serveur %1 n'est pas garanti").arg(server);
        const QString changed = QStringLiteral("Le certificat du serveur a changé depuis la dernière connexion à %1").arg(server);
        const QList<Step> steps{
            {"first connection, Annuler", User, false, first, {}, false},
            {"a timer's scan never asks", Timer, true, {}, toConfirm, false},
            {"first connection, Oui", User, true, first, Checked, true},
            {"remembered", User, true, {}, Checked, true},
            {"replaced, the timer's scan", Replace, true, {}, toConfirm, false},
            {"changed, Oui", User, true, changed, Checked, true},
            {"the new one remembered", User, true, {}, Checked, true},
        };
        for (const Step &step : steps) {
            prompter.reset();
            prompter.answers = {step.answer};
            form.list->clearDataRows();
            const QString log = dovecot.logText();
            if (step.action == Replace)
                QVERIFY(dovecot.replaceCertificate());
            if (step.action == User)
                headerScan(form);
            else
                requestScan(form);
            const QString peerFingerprint =
                certificates::fingerprint(QSslCertificate::fromPath(dovecot.certificatePath()).value(0));

            QCOMPARE(prompter.questions.size(), step.question.isEmpty() ? 0 : 1);
            if (!step.question.isEmpty()) {
                const QString q = prompter.questions.first();
                QVERIFY2(q.startsWith(step.question), qPrintable(q));
                // A changed certificate may be an interception: Return answers Annuler.
                QCOMPARE(prompter.questionDefaults.first(),
                         step.question == changed ? Prompter::Default::Annuler : Prompter::Default::Oui);
                for (const QString &part : {QStringLiteral("(le certificat est auto-signé : aucune autorité ne le garantit)"),
                                            QStringLiteral("Empreinte SHA-256 : ") + peerFingerprint,
                                            QStringLiteral("Émetteur : localhost"), QStringLiteral("Sujet : localhost"),
                                            QStringLiteral("Valide du ")})
                    QVERIFY2(q.contains(part), qPrintable(step.what + QStringLiteral(": ") + q));
            }
            QCOMPARE(prompter.infos, step.listed || step.action != User
                                         ? QStringList()
                                         : QStringList{Failed + QStringLiteral("\n\nCertificat du serveur refusé")});
            // When the scan stopped, with its time.
            if (!step.status.isEmpty())
                QCOMPARE(form.StatusBar1->currentMessage().remove(QRegularExpression(QStringLiteral(" \\(\\d\\d:\\d\\d\\)"))),
                         step.status);
            QCOMPARE(form.list->cell(1, 1), step.listed ? QStringLiteral("Bonjour") : QString());
            // Without the user's yes the password never went out.
            if (!step.listed)
                QVERIFY2(!dovecot.logText().mid(log.size()).contains(QStringLiteral("Login: user=")), step.what);
            if (step.listed) {
                QFile file(store);
                QVERIFY(file.open(QIODevice::ReadOnly));
                QCOMPARE(file.readAll(), (server + QLatin1Char(' ') + peerFingerprint + QLatin1Char('\n')).toLatin1());
                QCOMPARE(file.permissions() & 0x0077, QFile::Permissions()); // owner only
            }
        }
    }

    // Every kind of certificate fault but the OCSP answers has its French phrase.
    void certificateFaultsInFrench()
    {
        for (int kind = QSslError::UnableToGetIssuerCertificate; kind <= QSslError::CertificateStatusUnknown; ++kind) {
            const QSslError error{QSslError::SslError(kind), QSslCertificate{}};
            QVERIFY2(networkerrors::certificateFault(error) != error.errorString(), qPrintable(error.errorString()));
        }
    }

    // A server without STLS: the plain login, and the status line says so.
    void clearText()
    {
        FakePop3Server fake;
        fake.mailbox = {mail()};
        QVERIFY(fake.start());
        w->pointAt(fake.account());
        headerScan(*w->form);
        QCOMPARE(w->form->list->cell(1, 1), QStringLiteral("Bonjour"));
        QCOMPARE(w->form->StatusBar1->currentMessage(), Checked + QStringLiteral(" — Connexion non chiffrée"));
        QVERIFY(prompter.questions.isEmpty());
    }

    // A "Oui" to a certificate, or a server's encryption, that cannot be recorded (a full or
    // read-only data folder; folders in the way here, which stop root too) is said: in a box
    // to whoever started the scan, and on the status line; the question comes back.
    void unrecordableAnswersAreSaid()
    {
        TForm1 &form = *w->form;
        QVERIFY(dovecot.replaceCertificate()); // self-signed, trusted by no CA
        w->pointAt(dovecot.account(false)); // STLS
        const QString certificates = certificates::storePath(form.dataFolder);
        const QString encrypted = form.dataFolder + QStringLiteral("/Serveurs-chiffres.txt");
        QVERIFY(QDir().mkdir(certificates));
        QVERIFY(QDir().mkdir(encrypted));
        const QString answerBox = QStringLiteral("Votre réponse n'a pas pu être enregistrée : Impossible d'écrire %1").arg(certificates);
        const QString protectionBox = QStringLiteral("La protection du mot de passe n'a pas pu être enregistrée : %1").arg(encrypted);
        const auto startsWith = [](const QString &text, const QString &start) { return text.startsWith(start); };

        for (int scan = 1; scan <= 2; ++scan) { // asked each time: the answer was never kept
            prompter.reset();
            headerScan(form);
            QCOMPARE(prompter.questions.size(), 1);
            QCOMPARE(prompter.infos.size(), 2);
            QVERIFY2(startsWith(prompter.infos[0], answerBox), qPrintable(prompter.infos[0]));
            QVERIFY2(startsWith(prompter.infos[1], protectionBox), qPrintable(prompter.infos[1]));
            QCOMPARE(form.list->cell(1, 1), QStringLiteral("Bonjour"));
            QCOMPARE(form.StatusBar1->currentMessage(),
                     Checked + QStringLiteral(" — Certificat accepté mais non enregistré ; protection du chiffrement non "
                                              "enregistrée"));
        }
        // The certificate kept at last, a timer's scan tells of the encryption on the line alone.
        QVERIFY(QDir().rmdir(certificates));
        headerScan(form);
        prompter.reset();
        requestScan(form);
        QVERIFY(prompter.questions.isEmpty());
        QVERIFY(prompter.infos.isEmpty());
        QCOMPARE(form.StatusBar1->currentMessage(), Checked + QStringLiteral(" — Protection du chiffrement non enregistrée"));
    }

    // A server once logged into over STLS that no longer offers it, refuses it or refuses CAPA:
    // no USER goes out; the scan the user starts says so in a box, the timer's on the status
    // line. Saving the account again accepts the server as it now is.
    void encryptionWithdrawn_data()
    {
        QTest::addColumn<QByteArray>("withdrawal");
        QTest::addColumn<bool>("imap");
        QTest::newRow("STLS no longer offered") << QByteArray() << false;
        QTest::newRow("STLS refused") << QByteArray("STLS") << false;
        QTest::newRow("CAPA refused") << QByteArray("CAPA") << false;
        QTest::newRow("STARTTLS no longer offered") << QByteArray() << true;
        QTest::newRow("STARTTLS refused") << QByteArray("STARTTLS") << true;
    }
    void encryptionWithdrawn()
    {
        QFETCH(QByteArray, withdrawal);
        QFETCH(bool, imap);
        TForm1 &form = *w->form;
        FakePop3Server pop3;
        FakeImapServer imapServer;
        FakePop3Server &fake = imap ? imapServer : pop3;
        const QByteArray capabilities = imapServer.script["CAPABILITY"];
        imapServer.script["CAPABILITY"] = QByteArray(capabilities).replace("IMAP4rev1", "IMAP4rev1 STARTTLS");
        fake.offersStls = true;
        QVERIFY(fake.start());
        MailAccount account = fake.account();
        account.protocol = imap ? MailAccount::Protocol::Imap : MailAccount::Protocol::Pop3;
        w->pointAt(account);
        headerScan(form);
        const QString record = form.dataFolder + QStringLiteral("/Serveurs-chiffres.txt");
        QCOMPARE(readBytes(record), QStringLiteral("127.0.0.1:%1\n").arg(fake.port()).toLatin1());
        QCOMPARE(QFile::permissions(record) & 0x0077, QFile::Permissions());

        fake.offersStls = !withdrawal.isEmpty();
        if (withdrawal.isEmpty())
            imapServer.script["CAPABILITY"] = capabilities;
        if (imap && !withdrawal.isEmpty())
            imapServer.script[withdrawal] = "$ NO not now";
        else
            fake.breakCommand(withdrawal, FakePop3Server::Fault::Err);
        const QString withdrawn = QStringLiteral("Le serveur 127.0.0.1:%1 ne propose plus le chiffrement : connexion "
                                                 "refusée pour protéger le mot de passe").arg(fake.port());
        headerScan(form);
        QCOMPARE(prompter.infos.value(0).section(u'\n', 0, 0), withdrawn);
        requestScan(form);
        QCOMPARE(prompter.infos.size(), 1);
        QVERIFY(form.StatusBar1->currentMessage().startsWith(withdrawn + QStringLiteral(" ("))); // with its time
        const auto logins = std::count_if(fake.commands.cbegin(), fake.commands.cend(), [](const QByteArray &c) {
            return c == "USER pelicorde@example.com" || c.contains(" LOGIN ");
        });
        QCOMPARE(logins, 1); // the first scan's only
        if (withdrawal.isEmpty()) {
            form.BitBtn1Click(); // Sauvegarde
            QCOMPARE(readBytes(record), QByteArray());
            headerScan(form);
            QCOMPARE(form.StatusBar1->currentMessage(), Checked + QStringLiteral(" — Connexion non chiffrée"));
        }
    }
};

PELICORDE_TEST_MAIN(CertificateQuestionTest)
#include "test_certificatequestion.moc"
