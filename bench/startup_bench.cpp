// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of the program as a user runs it: the time from the process's start to the main
// window shown (its first-show actions done), the resident memory once idle, and again after a
// 1,000-message scan; and whether the web engine or an OpenGL stack was loaded on the way.
//   startup_bench [messages=1000]
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <ctime>
#include <unistd.h>

#include "BenchProcess.h"
#include "app/Startup.h"
#include "preview/EngineArguments.h"
#include "mailbox/MessageList.h"
#include "scan/HeaderScan.h"
#include "support/DovecotServer.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "window/PelicordeFP.h"

namespace {

// Milliseconds since the process started, from its start time in /proc (clock ticks since boot).
double sinceProcessStartMs()
{
    QFile f(QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble(); // field 22 of the whole line
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return (now.tv_sec + now.tv_nsec / 1e9) * 1000.0 - startTicks * 1000.0 / sysconf(_SC_CLK_TCK);
}

void idle(int ms)
{
    QTest::qWait(ms);
    benchprocess::resetPeak();
}

} // namespace

int main(int argc, char **argv)
{
    const int messages = argc > 1 ? atoi(argv[1]) : 1000;
    QTemporaryDir root;
    benchprocess::usePrivateDataFolders(root.path());

    EngineArguments &engine = prepareApplication(argc, argv);
    QApplication app(engine.argc(), engine.argv());
    RecordingPrompter prompter;
    createWindows();
    if (!QTest::qWaitFor([] { return Form1 && Form1->isVisible() && !Form1->firstShow; }, 30000)) {
        std::fprintf(stderr, "startup_bench: the main window was not shown\n");
        return 1;
    }
    const double shownMs = sinceProcessStartMs();
    idle(1000);
    std::printf("startup_bench window_shown_ms=%.0f idle_rss_mb=%.1f idle_pss_mb=%.1f web_engine_loaded=%s "
                "opengl_loaded=%s\n",
                shownMs, benchprocess::rssMb(), benchprocess::pssMb(),
                benchprocess::mapped(QStringLiteral("WebEngine")) ? "yes" : "no",
                benchprocess::mapped(QStringLiteral("libGLX_mesa|libEGL_mesa|_dri\\.so|libgallium")) ? "yes" : "no");
    std::fflush(stdout);

    DovecotServer dovecot;
    if (!dovecot.start()) {
        std::fprintf(stderr, "startup_bench: Dovecot did not start\n");
        return 1;
    }
    dovecot.setMessages(mailfactory::realisticMailbox(messages));
    Form1->Edit3->setText(QStringLiteral("127.0.0.1"));
    Form1->Edit4->setText(QString::number(dovecot.port()));
    Form1->Edit15->setText(dovecot.user());
    Form1->Edit16->setText(dovecot.password());
    Form1->CheckBox2->setChecked(false);
    idle(200);
    headerScan(*Form1);
    if (Form1->list->rows() - 1 != messages || !prompter.infos.isEmpty()) {
        std::fprintf(stderr, "startup_bench: the scan failed: %s\n", qPrintable(prompter.infos.join(u' ')));
        return 1;
    }
    const double peak = benchprocess::peakRssMb();
    idle(1000);
    std::printf("startup_bench messages=%d scan_peak_rss_mb=%.1f idle_rss_mb=%.1f idle_pss_mb=%.1f\n", messages, peak,
                benchprocess::rssMb(), benchprocess::pssMb());
    destroyWindows();
    return 0;
}
