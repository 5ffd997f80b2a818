// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QApplication>
#include <QStyle>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/Startup.h"
#include "support/RecordingPrompter.h"
#include "window/PelicordeFP.h"

// The program reads no arguments of its own, but Qt's own options on its command line work,
// also through ./run. The whole process start runs here, so the test program makes no
// application object itself.
class ArgumentsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    RecordingPrompter m_prompter;

    static QString link(const QString &path) { return QFileInfo(path).symLinkTarget(); }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("appdata")));
        QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("temp")));
        qputenv("APPDATA", m_root.filePath(QStringLiteral("appdata")).toLocal8Bit());
        qputenv("TEMP", m_root.filePath(QStringLiteral("temp")).toLocal8Bit());
    }

    // ./run makes sure the program is built, then becomes it, handing on its arguments.
    void runPassesItsArgumentsOn()
    {
        const QString run = qEnvironmentVariable("PELICORDE_TEST_SOURCE_DIR") + QStringLiteral("/run");
        QVERIFY(QFileInfo(run).isFile());
        // This program lives in <build>/tests.
        const QString build = QDir::cleanPath(QFileInfo(link(QStringLiteral("/proc/self/exe"))).absolutePath()
                                              + QStringLiteral("/.."));
        const QString program = build + QStringLiteral("/pelicorde");
        qputenv("PELICORDE_BUILD_DIR", build.toLocal8Bit());

        const pid_t pid = fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);
            execl("/bin/bash", "bash", qPrintable(run), "-reverse", nullptr);
            _exit(127);
        }
        const QString proc = QStringLiteral("/proc/%1/").arg(pid);
        bool ended = false;
        while (!ended && link(proc + QStringLiteral("exe")) != program) {
            usleep(20000);
            ended = waitpid(pid, nullptr, WNOHANG) == pid;
        }
        QByteArray cmdline;
        if (!ended) {
            QFile f(proc + QStringLiteral("cmdline"));
            if (f.open(QIODevice::ReadOnly))
                cmdline = f.readAll();
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        QVERIFY2(!ended, "./run ended without starting the program");
        QCOMPARE(cmdline.split('\0').mid(1), QList<QByteArray>({"-reverse", ""}));
    }

    void qtOptionsReachTheApplication()
    {
        // Seen once the main window is up; then the window is closed and the start returns.
        static Qt::LayoutDirection direction = Qt::LeftToRight;
        static QString style, windowStyle;
        struct Probe
        {
            static void atStart()
            {
                QTimer::singleShot(0, [] {
                    direction = Form1 ? Form1->layoutDirection() : Qt::LeftToRight;
                    style = QApplication::style()->name();
                    windowStyle = Form1 ? Form1->style()->name() : QString();
                    if (Form1)
                        Form1->close();
                    else
                        QCoreApplication::quit();
                });
            }
        };
        qAddPreRoutine(&Probe::atStart);

        QByteArray arguments[] = {"pelicorde", "-reverse", "-style", "windows"};
        char *argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(), arguments[3].data(), nullptr};
        QCOMPARE(runPelicorde(4, argv), 0);

        QCOMPARE(direction, Qt::RightToLeft);
        QCOMPARE(style, QStringLiteral("windows"));
        QCOMPARE(windowStyle, QStringLiteral("windows"));
        QVERIFY(m_prompter.errors.isEmpty());
    }

    // One program per data folder: a second start (the session's autostart, say, with one
    // already in the tray) hands over to the running one and ends; another data folder is
    // another program.
    void oneProgramPerDataFolder()
    {
        const QString build = QDir::cleanPath(QFileInfo(link(QStringLiteral("/proc/self/exe"))).absolutePath()
                                              + QStringLiteral("/.."));
        const auto start = [&](QProcess &p, const QString &appData, const QStringList &args = {}) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("APPDATA"), m_root.filePath(appData));
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            p.setProcessEnvironment(env);
            p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p.start(build + QStringLiteral("/pelicorde"), args);
            return p.waitForStarted(10000);
        };
        QVERIFY(QDir(m_root.path()).mkpath(QStringLiteral("other")));
        QProcess first, second, elsewhere;
        QVERIFY(start(first, QStringLiteral("appdata")));
        auto stop = qScopeGuard([&] {
            for (QProcess *p : {&first, &second, &elsewhere}) {
                p->kill();
                p->waitForFinished(5000);
            }
        });
        QTest::qWait(3000); // the first one listens by then
        QVERIFY(start(second, QStringLiteral("appdata"), {QStringLiteral("--tray")}));
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(start(elsewhere, QStringLiteral("other")));
        QVERIFY(!elsewhere.waitForFinished(3000));
    }
};

QTEST_APPLESS_MAIN(ArgumentsTest)
#include "test_arguments.moc"
