// SPDX-License-Identifier: GPL-3.0-or-later
// Servers that ask for a delay between logins (LOGIN-DELAY) or hold the mailbox for another
// session: the boxes the user sees, and the scans that wait for the delay, on a clock of the
// test's own.
#include <QtTest>

#include <QStatusBar>
#include <QTimer>
#include <memory>

#include "attachments/AttachmentSaving.h"
#include "deletion/Deletion.h"
#include "protocol/LoginDelay.h"
#include "mailbox/MessageList.h"
#include "scan/HeaderScan.h"
#include "scan/ScanController.h"
#include "support/FakePop3Server.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"
#include "window/PelicordeFP.h"

namespace {

const QString Checked = QStringLiteral("Courrier vérifié il y a moins d'une minute");
const QString Wait = QStringLiteral("Le serveur demande d'attendre avant de se connecter de nouveau");
const QString Later = QStringLiteral("\n\nRéessayez un peu plus tard.");
const QString InUse = QStringLiteral("La boîte aux lettres est utilisée par une autre session "
                                     "(un autre logiciel de messagerie la relève peut-être).")
                      + Later;

QByteArray mail(const QString &subject)
{
    mailfactory::Mail m;
    m.from = "<promo@spam.example>";
    m.subject = subject;
    m.text = QStringLiteral("Texte.");
    return mailfactory::build(m);
}

} // namespace

class LoginDelayTest : public QObject
{
    Q_OBJECT

    RecordingPrompter prompter;
    std::unique_ptr<WindowFixture> w;
    TForm1 *form = nullptr;
    FakePop3Server *server = nullptr;
    qint64 now = 1000000;

    QString statusLine() const { return form->StatusBar1->currentMessage(); }
    QStringList subjects() const
    {
        QStringList out;
        for (int r = 1; r < form->list->rows(); ++r)
            out << form->list->cell(r, MessageList::Subject);
        return out;
    }
    QTimer *heldScanTimer() const { return form->scans->holdTimer(); }
    // Lets the held scan's timer fire at once; it checks the clock itself.
    void fireHeldScan()
    {
        QVERIFY(heldScanTimer() && heldScanTimer()->isActive());
        heldScanTimer()->start(0);
        QTRY_VERIFY(!heldScanTimer()->isActive() || heldScanTimer()->interval() > 0);
    }
    // A scan of three messages at the test's clock, with the server announcing delay seconds.
    void scanned(int delay)
    {
        server->loginDelay = delay;
        w->pointAt(server->account());
        form->BitBtn2Click();
        QCOMPARE(form->list->rows(), 4);
        QCOMPARE(server->connections, 1);
        prompter.reset();
    }

private slots:
    void init()
    {
        loginDelays().clear();
        loginDelays().setClock([this] { return now; });
        w = std::make_unique<WindowFixture>();
        QVERIFY(w->start());
        form = w->form.get();
        QTRY_VERIFY(form->Timer2->isActive());
        form->Timer2->stop();
        server = new FakePop3Server(false, form);
        server->mailbox = {mail(QStringLiteral("Un")), mail(QStringLiteral("Deux")), mail(QStringLiteral("Trois"))};
        QVERIFY(server->start());
        prompter.reset();
    }

    void cleanup()
    {
        form = nullptr;
        server = nullptr;
        w.reset();
        loginDelays().setClock({});
        loginDelays().clear();
    }

    void announcedDelay_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<int>("seconds");
        QTest::newRow("per user, any case") << QStringList{"TOP", "login-delay 10 USER"} << 10;
        QTest::newRow("negative") << QStringList{"LOGIN-DELAY -5"} << 0;
        QTest::newRow("other tag") << QStringList{"LOGIN-DELAYS 5"} << 0;
        QTest::newRow("an hour at most") << QStringList{"LOGIN-DELAY 99999999999"} << 3600;
    }
    void announcedDelay()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(int, seconds);
        QCOMPARE(announcedLoginDelay(capabilities), seconds);
    }

    // A login refused with a response code: the box says what the server asked for, in every
    // operation that logs in; other refusals keep the operation's own box.
    void refusedLogin_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("announced");
        QTest::addColumn<QByteArray>("refusal");
        QTest::addColumn<QString>("box");
        const QString scanFailed = QStringLiteral("Erreur durant la reception des messages");
        QTest::newRow("scan, delay known") << QStringLiteral("scan") << 10 << QByteArray("[LOGIN-DELAY] Too soon")
                                           << Wait + QStringLiteral(" (10 secondes entre deux connexions).") + Later;
        QTest::newRow("scan, delay unknown") << QStringLiteral("scan") << 0 << QByteArray("[LOGIN-DELAY] Too soon")
                                             << Wait + QStringLiteral(".") + Later;
        QTest::newRow("scan, in use") << QStringLiteral("scan") << 0 << QByteArray("[IN-USE] Mailbox locked") << InUse;
        const QString login = QStringLiteral("\n\nIdentification refusée par le serveur (mot de passe ou adresse)");
        QTest::newRow("scan, no code") << QStringLiteral("scan") << 0 << QByteArray("LOGIN-DELAY in use") << scanFailed + login;
        QTest::newRow("deletion, sub-code, any case")
            << QStringLiteral("deletion") << 900 << QByteArray("[login-delay/600] Wait")
            << Wait + QStringLiteral(" (15 minutes entre deux connexions).") + Later;
        QTest::newRow("deletion, temporary")
            << QStringLiteral("deletion") << 0 << QByteArray("[SYS/TEMP] Try later")
            << QStringLiteral("Erreur durant la reception des messages\n\nVérifiez les informations Pop3 entrées") + login;
        QTest::newRow("attachments, in use") << QStringLiteral("attachments") << 0 << QByteArray("[IN-USE] Locked") << InUse;
    }
    void refusedLogin()
    {
        QFETCH(QString, operation);
        QFETCH(int, announced);
        QFETCH(QByteArray, refusal);
        QFETCH(QString, box);
        scanned(announced);
        now += 3600 * 1000; // long after: the login is tried
        server->refusePass = refusal;
        if (operation == QLatin1String("scan")) {
            form->BitBtn2Click();
        } else if (operation == QLatin1String("deletion")) {
            form->list->setCell(1, MessageList::Mark, QStringLiteral("1"));
            deleteMarked(*form);
        } else {
            form->currentRow = 1;
            saveAttachments(*form);
        }
        QVERIFY(!prompter.infos.isEmpty());
        QCOMPARE(prompter.infos.first(), box);
        QVERIFY(prompter.errors.isEmpty());
    }

    // Inside the delay, a tick or the tray menu makes no connection and leaves the status line;
    // the receive button leaves the list and says when the scan runs; the scan after a deletion
    // empties the list and says the same, unless the delay refused the deletion's login (nothing
    // changed). The held scan runs once the delay has passed, once.
    void heldScan_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("whileHeld");
        QTest::addColumn<QStringList>("after");
        const QStringList all{"Un", "Deux", "Trois"};
        QTest::newRow("ticks and tray") << QStringLiteral("tick") << all << all;
        QTest::newRow("receive button") << QStringLiteral("press") << all << all;
        QTest::newRow("after a deletion") << QStringLiteral("delete") << QStringList{QString()} << QStringList{"Un", "Trois"};
        QTest::newRow("deletion refused") << QStringLiteral("refused") << all << all;
    }
    void heldScan()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, whileHeld);
        QFETCH(QStringList, after);
        scanned(10);
        now += 4000;
        form->check.minuteCounter = 4;
        form->Timer2Timer();
        const QRegularExpression held(QStringLiteral(
            "^Relève des messages à \\d\\d:\\d\\d:\\d\\d : le serveur demande d'attendre entre deux connexions$"));
        if (action == QLatin1String("tick")) {
            // The status line says when the scan runs, never a check that did not happen.
            form->Timer2Timer(); // the sixth
            QVERIFY2(held.match(statusLine()).hasMatch(), qPrintable(statusLine()));
            form->VerifierMails1Click();
            form->Timer2Timer();
            QVERIFY2(held.match(statusLine()).hasMatch(), qPrintable(statusLine()));
            QCOMPARE(form->check.trayTipText, statusLine());
            QCOMPARE(form->check.minuteCounter, 5);
        } else {
            if (action == QLatin1String("press")) {
                form->BitBtn2Click();
            } else if (action == QLatin1String("delete")) {
                form->list->setCell(2, MessageList::Mark, QStringLiteral("1"));
                deleteMarked(*form);
                QVERIFY(server->received("DELE 2"));
            } else {
                form->list->setCell(2, MessageList::Mark, QStringLiteral("1"));
                server->refusePass = "[LOGIN-DELAY] Too soon";
                deleteMarked(*form);
                server->refusePass.clear();
                QCOMPARE(prompter.infos.size(), 1);
                prompter.reset();
            }
            QVERIFY2(held.match(statusLine()).hasMatch(), qPrintable(statusLine()));
        }
        const int connections = server->connections;
        const bool deletion = action == QLatin1String("delete") || action == QLatin1String("refused");
        QCOMPARE(connections, deletion ? 2 : 1);
        QCOMPARE(subjects(), whileHeld);

        now += 7000; // past the scan's delay, not yet past the deletion's login
        fireHeldScan();
        if (deletion) {
            QCOMPARE(server->connections, connections); // it waits again
            now += 10000;
            fireHeldScan();
        }
        QTRY_COMPARE(server->connections, connections + 1);
        QCOMPARE(subjects(), after);
        QCOMPARE(statusLine(), Checked + QStringLiteral(" — Connexion non chiffrée")); // no STLS offered
        QCOMPARE(form->check.minuteCounter, 0);
        QVERIFY(!heldScanTimer()->isActive());
        QVERIFY(prompter.infos.isEmpty());
    }
};

QTEST_MAIN(LoginDelayTest)
#include "test_logindelay.moc"
