// Servers that ask for a delay between logins (LOGIN-DELAY) or hold the mailbox for another
// session: the boxes the user sees, and the scans that wait for the delay, on a clock of the
// test's own.
#include <QtTest>

#include <QStatusBar>
#include <QTimer>
#include <memory>

#include "app/PelicordeFP.h"
#include "attachments/AttachmentSaving.h"
#include "deletion/Deletion.h"
#include "mailbox/HeaderScan.h"
#include "mailbox/LoginDelay.h"
#include "mailbox/MessageList.h"
#include "support/FakePop3Server.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"

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
    m.attachments << mailfactory::Attachment{QStringLiteral("a.txt"), "a"};
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
    QTimer *heldScan() const { return form->findChild<QTimer *>(QStringLiteral("LoginDelayTimer")); }
    // Lets the held scan's timer fire at once; it checks the clock itself.
    void fireHeldScan()
    {
        QVERIFY(heldScan() && heldScan()->isActive());
        heldScan()->start(0);
        QTRY_VERIFY(!heldScan()->isActive() || heldScan()->interval() > 0);
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
        QTest::newRow("none") << QStringList{"TOP", "UIDL"} << 0;
        QTest::newRow("plain") << QStringList{"TOP", "LOGIN-DELAY 900"} << 900;
        QTest::newRow("per user, any case") << QStringList{"login-delay 10 USER"} << 10;
        QTest::newRow("no value") << QStringList{"LOGIN-DELAY"} << 0;
        QTest::newRow("not a number") << QStringList{"LOGIN-DELAY soon"} << 0;
        QTest::newRow("negative") << QStringList{"LOGIN-DELAY -5"} << 0;
        QTest::newRow("other tag") << QStringList{"LOGIN-DELAYS 5"} << 0;
        QTest::newRow("absurd: an hour at most") << QStringList{"LOGIN-DELAY 99999999999"} << 3600;
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
        QTest::newRow("scan, password") << QStringLiteral("scan") << 0 << QByteArray("[AUTH] Authentication failed.") << scanFailed;
        QTest::newRow("scan, no code") << QStringLiteral("scan") << 0 << QByteArray("LOGIN-DELAY in use") << scanFailed;
        QTest::newRow("deletion, sub-code, any case")
            << QStringLiteral("deletion") << 900 << QByteArray("[login-delay/600] Wait")
            << Wait + QStringLiteral(" (15 minutes entre deux connexions).") + Later;
        QTest::newRow("deletion, in use") << QStringLiteral("deletion") << 0 << QByteArray("[IN-USE] Locked") << InUse;
        QTest::newRow("deletion, temporary")
            << QStringLiteral("deletion") << 0 << QByteArray("[SYS/TEMP] Try later")
            << QStringLiteral("Erreur durant la reception des messages\n\nVérifiez les informations Pop3 entrées");
        QTest::newRow("attachments, in use") << QStringLiteral("attachments") << 0 << QByteArray("[IN-USE] Locked") << InUse;
        QTest::newRow("attachments, password") << QStringLiteral("attachments") << 0 << QByteArray("[AUTH] Wrong")
                                               << QStringLiteral("Erreur durant la reception de ce message");
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

    // Ticks and the tray menu inside the delay make no connection and leave the status line;
    // the held scan runs once the delay has passed, once.
    void periodicScanWaits()
    {
        scanned(10);
        now += 4000;
        form->minuteCounter = 4;
        form->Timer2Timer();
        const QString minutes = statusLine();
        form->Timer2Timer(); // the sixth tick
        form->VerifierMails1Click();
        form->Timer2Timer();
        QCOMPARE(server->connections, 1);
        QCOMPARE(statusLine(), minutes);
        QCOMPARE(form->trayTipText, minutes);
        QCOMPARE(form->minuteCounter, 5);

        fireHeldScan(); // too early: it waits again
        QCOMPARE(server->connections, 1);
        QVERIFY(heldScan()->isActive());

        now += 6000;
        fireHeldScan();
        QTRY_COMPARE(server->connections, 2);
        QCOMPARE(statusLine(), Checked);
        QCOMPARE(form->minuteCounter, 0);
        QVERIFY(!heldScan()->isActive());
        QVERIFY(prompter.infos.isEmpty());

        // Without a delay announced, the sixth tick scans at once.
        server->loginDelay = 0;
        now += 10000;
        form->BitBtn2Click();
        form->minuteCounter = 5;
        form->Timer2Timer();
        QCOMPARE(server->connections, 4);
    }

    // The receive button inside the delay: the list stays, the status line says when the scan
    // runs; it then runs by itself.
    void pressWaits()
    {
        scanned(10);
        now += 2000;
        form->BitBtn2Click();
        QCOMPARE(server->connections, 1);
        QVERIFY(statusLine().startsWith(QStringLiteral("Relève des messages à ")));
        QVERIFY(statusLine().endsWith(QStringLiteral(" : le serveur demande d'attendre entre deux connexions")));
        QCOMPARE(subjects(), (QStringList{"Un", "Deux", "Trois"}));

        now += 8000;
        fireHeldScan();
        QTRY_COMPARE(server->connections, 2);
        QCOMPARE(statusLine(), Checked);
        QVERIFY(prompter.infos.isEmpty());
    }

    // The scan after a deletion waits for the delay, with the list emptied meanwhile.
    void rescanAfterDeletionWaits()
    {
        scanned(10);
        now += 10000;
        form->list->setCell(2, MessageList::Mark, QStringLiteral("1"));
        deleteMarked(*form);
        QVERIFY(server->received("DELE 2"));
        QCOMPARE(server->connections, 2);
        QCOMPARE(subjects(), QStringList{QString()});
        QVERIFY(statusLine().startsWith(QStringLiteral("Relève des messages à ")));

        now += 10000;
        fireHeldScan();
        QTRY_COMPARE(server->connections, 3);
        QCOMPARE(subjects(), (QStringList{"Un", "Trois"}));
        QCOMPARE(statusLine(), Checked);
        QVERIFY(prompter.infos.isEmpty());
    }
};

QTEST_MAIN(LoginDelayTest)
#include "test_logindelay.moc"
