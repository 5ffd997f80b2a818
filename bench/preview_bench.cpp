// SPDX-License-Identifier: GPL-3.0-or-later
// The first HTML preview as a user meets it: the memory of the program and of every process it
// started (the web engine's helpers), as proportional shares summed, before the preview, with
// the pane open on a newsletter, and once the pane is closed again; and how long the page took
// to show, the first time and once more after the pane was closed. One line for each way of
// hosting the view, each measured in a process of its own:
//   kept        the engine in the program, the view kept once the pane closes (as it once was);
//   in-process  the engine in the program, the view released with the pane (where no helper runs);
//   helper      the view in pelicorde-preview, which ends with the pane.
//   preview_bench [-v] [HOST]     (-v: each process on stderr)
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

#include "BenchProcess.h"
#include "app/Startup.h"
#include "preview/EngineArguments.h"
#include "mailbox/MessageList.h"
#include "preview/Preview.h"
#include "scan/HeaderScan.h"
#include "support/DovecotServer.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "window/PelicordeFP.h"

namespace {

// What a commercial mailing looks like: nested tables, inline styles, remote images (refused).
QString newsletter()
{
    QString rows;
    for (int i = 1; i <= 40; ++i)
        rows += QStringLiteral("<tr><td style=\"padding:8px;border-bottom:1px solid #ddd\">"
                               "<img src=\"http://img.example.com/p%1.jpg\" width=\"80\" height=\"80\" alt=\"\"></td>"
                               "<td style=\"padding:8px;font:14px Arial,sans-serif;color:#333\"><b>Offre n\u00b0%1</b>"
                               "<br>Profitez de -%1 % sur toute la gamme, livraison offerte d\u00e8s 49 \u20ac."
                               " <a href=\"http://track.example.com/c?id=%1\">J'en profite</a></td></tr>")
                    .arg(i);
    return QStringLiteral("<html><head><title>Nos offres</title><style>body{margin:0;background:#f4f4f4}"
                          ".w{width:600px;margin:auto;background:#fff}</style></head><body><div class=\"w\">"
                          "<img src=\"http://img.example.com/banner.png\" width=\"600\" height=\"200\">"
                          "<table width=\"100%\" cellspacing=\"0\">%1</table>"
                          "<p style=\"font:11px Arial;color:#999\">Se d\u00e9sinscrire : "
                          "<a href=\"http://track.example.com/u\">ici</a></p></div></body></html>")
        .arg(rows);
}

// Shows message 1 and waits for its page; milliseconds from the click to the page shown, -1 when
// it never showed.
QString host;

double previewFirst()
{
    QElapsedTimer clock;
    clock.start();
    // The kept view is named otherwise while the pane is closed, out of the closing's reach.
    static QPointer<QWidget> kept;
    if (kept)
        kept->setObjectName(QStringLiteral("WebView"));
    QWidget *view = ensurePreviewView(*Form1->pane, host == QLatin1String("helper") ? WebViewHost::Helper : WebViewHost::InProcess);
    if (host == QLatin1String("kept"))
        kept = view;
    if (!view)
        return -1;
    QSignalSpy loaded(view, SIGNAL(loadFinished(bool)));
    previewMessage(*Form1, 1);
    if (!loaded.wait(60000) && loaded.isEmpty())
        return -1;
    return double(clock.elapsed());
}

bool verbose = false;
QStringList mailServer; // the processes of the Dovecot fixture, which are not the program's

// The program and the processes it started, at one moment: proportional shares summed, and what
// none of them shares with another process.
struct Tree
{
    double pssMb = 0;
    double privateMb = 0;
    int processes = 0;
};

Tree measure(const char *when)
{
    Tree t;
    t.pssMb = benchprocess::treeMb("Pss", mailServer, &t.processes);
    t.privateMb = benchprocess::treeMb("Private_Dirty", mailServer) + benchprocess::treeMb("Private_Clean", mailServer);
    if (!verbose)
        return t;
    // With -v, each process on stderr: its share and what the web engine made it for.
    for (const QString &pid : benchprocess::processTree(mailServer)) {
        QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
        QByteArray type = "main";
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray &arg : f.readAll().split('\0'))
                if (arg.startsWith("--type=") || arg.startsWith("--utility-sub-type="))
                    type = arg.mid(arg.indexOf('=') + 1);
        std::fprintf(stderr, "preview_bench %s pid=%s pss_mb=%.1f private_mb=%.1f %s\n", when, qPrintable(pid),
                     benchprocess::pssMb(pid),
                     benchprocess::rollupMb("Private_Dirty", pid) + benchprocess::rollupMb("Private_Clean", pid),
                     type.constData());
    }
    return t;
}

void settle(int ms)
{
    QTest::qWait(ms);
    benchprocess::resetPeak();
}

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    verbose = args.removeAll(QStringLiteral("-v")) > 0;
    if (args.isEmpty()) {
        int status = 0;
        for (const char *each : {"kept", "in-process", "helper"}) {
            QProcess run;
            run.setProcessChannelMode(QProcess::ForwardedChannels);
            run.start(QString::fromLocal8Bit(argv[0]), QStringList{QString::fromLatin1(each)} + (verbose ? QStringList{"-v"} : QStringList{}));
            status |= !run.waitForFinished(300000) || run.exitCode() != 0;
        }
        return status;
    }
    host = args.first();
    QTemporaryDir root;
    benchprocess::usePrivateDataFolders(root.path());

    EngineArguments &engine = prepareApplication(argc, argv);
    QApplication app(engine.argc(), engine.argv());
    RecordingPrompter prompter;
    createWindows();
    if (!QTest::qWaitFor([] { return Form1 && Form1->isVisible() && !Form1->firstShow; }, 30000)) {
        std::fprintf(stderr, "preview_bench: the main window was not shown\n");
        return 1;
    }
    DovecotServer dovecot;
    if (!dovecot.start()) {
        std::fprintf(stderr, "preview_bench: Dovecot did not start\n");
        return 1;
    }
    mailServer = benchprocess::processTree().mid(1);
    mailfactory::Mail m;
    m.subject = QStringLiteral("Nos offres de la semaine");
    m.html = newsletter();
    dovecot.setMessages({mailfactory::build(m)});
    Form1->Edit3->setText(QStringLiteral("127.0.0.1"));
    Form1->Edit4->setText(QString::number(dovecot.port()));
    Form1->Edit15->setText(dovecot.user());
    Form1->Edit16->setText(dovecot.password());
    Form1->CheckBox2->setChecked(false);
    headerScan(*Form1);
    if (Form1->list->rows() != 2 || !prompter.infos.isEmpty()) {
        std::fprintf(stderr, "preview_bench: the scan failed: %s\n", qPrintable(prompter.infos.join(u' ')));
        return 1;
    }
    settle(1000);
    const Tree before = measure("before");

    const double firstMs = previewFirst();
    if (firstMs < 0 || !prompter.infos.isEmpty()) {
        std::fprintf(stderr, "preview_bench: the page was not shown %s\n", qPrintable(prompter.infos.join(u' ')));
        return 1;
    }
    settle(3000);
    const Tree open = measure("open");

    if (QWidget *view = Form1->pane->view(); view && host == QLatin1String("kept"))
        view->setObjectName(QStringLiteral("Kept"));
    Form1->BitBtn8->click();
    // The helpers that end with the page take a moment to go.
    (void)QTest::qWaitFor([&] { return host == QLatin1String("kept") || benchprocess::processTree(mailServer).size() <= before.processes; }, 10000);
    settle(3000);
    const Tree closed = measure("closed");

    const double againMs = previewFirst();
    Form1->BitBtn8->click();

    std::printf("preview_bench host=%s platform=%s before_total_pss_mb=%.1f open_total_pss_mb=%.1f closed_total_pss_mb=%.1f "
                "given_back_pct=%.0f private_mb=%.1f/%.1f/%.1f processes=%d/%d/%d first_preview_ms=%.0f "
                "next_preview_ms=%.0f\n",
                qPrintable(host), qPrintable(QGuiApplication::platformName()), before.pssMb, open.pssMb, closed.pssMb,
                100.0 * (open.pssMb - closed.pssMb) / (open.pssMb - before.pssMb), before.privateMb, open.privateMb,
                closed.privateMb, before.processes, open.processes, closed.processes, firstMs, againMs);
    destroyWindows();
    return 0;
}
