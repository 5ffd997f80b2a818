// SPDX-License-Identifier: GPL-3.0-or-later
// The header scan without a window: a ScanJob and a display that records what it is told,
// against the scripted server. What the window shows of a scan is all in these calls.
#include <QtTest>

#include <QTemporaryDir>

#include "mailbox/MessageList.h"
#include "scan/HeaderScan.h"
#include "scan/ScanController.h"
#include "support/FakePop3Server.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "window/CheckState.h"

namespace {

// Records each call as one line, the counter's and progress's steps included.
class RecordingDisplay final : public ScanDisplay
{
public:
    QStringList calls;
    bool asked = false;

    void setCounter(const QString &text) override { calls << QStringLiteral("counter ") + text; }
    void setCounterColour(const QColor &colour) override { calls << QStringLiteral("counter colour ") + colour.name(); }
    void setProgressVisible(bool visible) override
    {
        calls << (visible ? QStringLiteral("progress shown") : QStringLiteral("progress hidden"));
    }
    void setProgressColour(const QColor &colour) override { calls << QStringLiteral("progress colour ") + colour.name(); }
    void setProgress(int position) override { m_progress = position; calls << QStringLiteral("progress %1").arg(position); }
    void stepProgress(int position) override { m_progress = position; calls << QStringLiteral("step %1").arg(position); }
    int progress() const override { return m_progress; }
    void setListScanning(bool scanning) override
    {
        calls << (scanning ? QStringLiteral("list scanning") : QStringLiteral("list at rest"));
    }
    void scrollListToTop() override { calls << QStringLiteral("list to top"); }
    void showStatus(const QString &text) override { calls << QStringLiteral("status ") + text; }
    bool attachmentsAsked() const override { return asked; }
    void untickAttachments() override { asked = false; calls << QStringLiteral("attachments unticked"); }
    void ended(int previousCount) override { calls << QStringLiteral("ended %1").arg(previousCount); }

private:
    int m_progress = 0;
};

QByteArray mail(const QByteArray &from, const QString &subject, const QStringList &attachments = {})
{
    mailfactory::Mail m;
    m.from = from;
    m.subject = subject;
    m.text = QStringLiteral("Bonjour.");
    for (const QString &name : attachments)
        m.attachments << mailfactory::Attachment{name, "contenu"};
    return mailfactory::build(m);
}

} // namespace

class ScanDisplayTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    RecordingPrompter m_prompter;
    CheckState m_check;
    MessageList m_list;
    RecordingDisplay *m_display = nullptr;
    std::unique_ptr<ScanController> m_scans;

    // The job as a handler would read it: fields as typed, the account they name.
    ScanJob jobFor(const FakePop3Server &server, const QString &password)
    {
        MailAccount account = server.account();
        account.password = password;
        const accounts::Account fields{account.host, QString::number(account.port), password, account.user};
        return {fields, account, m_data.path(), m_check, m_list, *m_scans};
    }

    QStringList subjects() const
    {
        QStringList out;
        for (int r = 1; r < m_list.rows(); ++r)
            out << m_list.cell(r, MessageList::Subject);
        return out;
    }

private slots:
    void init()
    {
        QVERIFY(m_data.isValid());
        QFile blacklist(m_data.filePath(QStringLiteral("Liste-noire.txt")));
        QVERIFY(blacklist.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(blacklist.write("pub-louche\t00/00/0000\r\n") > 0);
        blacklist.close();
        m_prompter.reset();
        m_check = CheckState();
        m_list.setRows(2);
        m_list.clearDataRows();
        auto display = std::make_unique<RecordingDisplay>();
        m_display = display.get();
        m_scans = std::make_unique<ScanController>(std::move(display), nullptr);
    }

    void cleanup()
    {
        m_scans.reset();
        m_display = nullptr;
    }

    // A scan that gets through: the list read and marked, and the display told each step in
    // order, from the dark list to the end handed on.
    void aScanTellsItsDisplayEachStep()
    {
        FakePop3Server server;
        QVERIFY(server.start());
        server.mailbox = {mail("Alice <alice@example.org>", QStringLiteral("Un")),
                          mail("Promo <offres@pub-louche.example>", QStringLiteral("Deux")),
                          mail("Bob <bob@example.org>", QStringLiteral("Trois"))};
        m_check.lastMessageCount = 7;
        scanHeaders(jobFor(server, server.password));

        QCOMPARE(subjects(), (QStringList{QStringLiteral("Un"), QStringLiteral("Deux"), QStringLiteral("Trois")}));
        QVERIFY(!m_list.isMarked(1) && m_list.isMarked(2) && !m_list.isMarked(3));
        QCOMPARE(m_check.lastMessageCount, 3);
        QVERIFY(m_check.scanStop.isEmpty());
        QCOMPARE(m_check.scanNote, QStringLiteral("Connexion non chiffrée"));
        QVERIFY(m_prompter.infos.isEmpty());

        const QStringList &calls = m_display->calls;
        QCOMPARE(calls.mid(0, 3), (QStringList{QStringLiteral("list scanning"), QStringLiteral("counter colour #ff0000"),
                                               QStringLiteral("counter 0")}));
        QCOMPARE(calls.mid(3, 3), (QStringList{QStringLiteral("progress colour #ff0000"), QStringLiteral("progress shown"),
                                               QStringLiteral("progress 0")}));
        QVERIFY2(calls.contains(QStringLiteral("counter 3")), qPrintable(calls.join(u'|')));
        QVERIFY(calls.contains(QStringLiteral("step 100")));
        QCOMPARE(calls.mid(calls.size() - 4), (QStringList{QStringLiteral("list to top"), QStringLiteral("list at rest"),
                                                           QStringLiteral("progress hidden"), QStringLiteral("ended 7")}));
        QVERIFY(!calls.contains(QStringLiteral("attachments unticked")));
    }

    // P.J. asked for: the attachment pass counts in blue on the same display, and unticks it.
    void attachmentsAskedAreCountedOnce()
    {
        FakePop3Server server;
        QVERIFY(server.start());
        server.mailbox = {mail("Alice <alice@example.org>", QStringLiteral("Pièces"),
                               {QStringLiteral("a.pdf"), QStringLiteral("b.doc")}),
                          mail("Bob <bob@example.org>", QStringLiteral("Rien"))};
        m_display->asked = true;
        scanHeaders(jobFor(server, server.password));

        QCOMPARE(m_list.cell(1, MessageList::Attachments), QStringLiteral("2"));
        const QStringList &calls = m_display->calls;
        const qsizetype blue = calls.indexOf(QStringLiteral("counter colour #0000ff"));
        QVERIFY2(blue > 0, qPrintable(calls.join(u'|')));
        QVERIFY(calls.indexOf(QStringLiteral("counter 2/2"), blue) > blue);
        QVERIFY(calls.indexOf(QStringLiteral("attachments unticked"), blue) > blue);
        QVERIFY(!m_display->asked);
        QCOMPARE(calls.last(), QStringLiteral("ended 0"));
    }

    // Fields not all filled in: nothing is read, a beep, and the status line says why; the scan
    // hands no end on.
    void incompleteFieldsStopBeforeAnyConnection()
    {
        FakePop3Server server;
        QVERIFY(server.start());
        scanHeaders(jobFor(server, QString()));

        QCOMPARE(server.connections, 0);
        QCOMPARE(m_prompter.beeps, 1);
        QCOMPARE(m_list.rows(), 2);
        QCOMPARE(m_display->calls.size(), 1);
        QVERIFY2(m_display->calls.first().startsWith(QStringLiteral("status Relève impossible à ")),
                 qPrintable(m_display->calls.first()));
        QCOMPARE(m_check.trayTipText, m_display->calls.first().mid(7));
    }

    // The server's login delay holds the next scan on the controller, which asks for it
    // (scanDue) once the delay has passed; the window runs it then.
    void aHeldScanIsAskedForByTheController()
    {
        FakePop3Server server;
        QVERIFY(server.start());
        server.loginDelay = 600;
        server.mailbox = {mail("Alice <alice@example.org>", QStringLiteral("Un"))};
        scanHeaders(jobFor(server, server.password));
        QCOMPARE(subjects(), QStringList{QStringLiteral("Un")});

        m_display->calls.clear();
        QVERIFY(!scanOnRequest(jobFor(server, server.password)));
        QVERIFY(m_scans->holding());
        QVERIFY(m_display->calls.isEmpty()); // the caller shows scanStop
        QVERIFY(m_check.scanStop.contains(QStringLiteral("le serveur demande d'attendre")));
        QCOMPARE(server.connections, 1);

        QSignalSpy due(m_scans.get(), &ScanController::scanDue);
        m_scans->holdTimer()->start(0);
        QTRY_COMPARE(due.count(), 1);
    }
};

QTEST_GUILESS_MAIN(ScanDisplayTest)
#include "test_scandisplay.moc"
