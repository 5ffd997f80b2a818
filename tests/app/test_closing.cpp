#include <QtTest>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include "app/PelicordeFP.h"
#include "app/Startup.h"
#include "mailbox/MessageList.h"
#include "support/FakePop3Server.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"

// Closing the main window while a scan is talking to the server: the process ends once the
// scan has ended, and the scan ends as it would have with the window open. Runs the real
// event loop of the process, which can be left only once per test program.
class ClosingTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    RecordingPrompter m_prompter;

private slots:
    void closeDuringAScanEndsTheProcessAfterIt()
    {
        QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("appdata")));
        QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("temp")));
        qputenv("APPDATA", m_root.filePath(QStringLiteral("appdata")).toLocal8Bit());
        qputenv("TEMP", m_root.filePath(QStringLiteral("temp")).toLocal8Bit());

        FakePop3Server server;
        server.mailbox = mailfactory::realisticMailbox(3);
        // The header of message 2 comes late: the window is closed while the scan waits for it.
        server.breakCommand("TOP", FakePop3Server::Fault::Delay, 2);
        server.delayMs = 300;
        QVERIFY(server.start());

        createWindows(QSize(1024, 768));
        QTRY_VERIFY(!Form1->firstShow);
        const Pop3Account account = server.account();
        Form1->Edit3->setText(account.host);
        Form1->Edit4->setText(QString::number(account.port));
        Form1->Edit15->setText(account.user);
        Form1->Edit16->setText(account.password);
        Form1->CheckBox2->setChecked(account.tls);
        m_prompter.reset();

        QTimer::singleShot(0, Form1, [] { Form1->BitBtn2Click(); });
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (server.received("TOP")) {
                closer.stop();
                Form1->close();
            }
        });
        closer.start(5);
        QCOMPARE(QApplication::exec(), 0);

        QVERIFY2(m_prompter.infos.isEmpty(), qPrintable(m_prompter.infos.join(QLatin1Char('|'))));
        QVERIFY(m_prompter.errors.isEmpty());
        // Every header arrived: the scan was not cut short by the close.
        QCOMPARE(Form1->list->rows(), 4);
        QVERIFY(!Form1->list->cell(3, 0).isEmpty());
        destroyWindows();
    }
};

QTEST_MAIN(ClosingTest)
#include "test_closing.moc"
