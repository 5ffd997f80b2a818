// SPDX-License-Identifier: GPL-3.0-or-later
// New mail on an IMAP account with IDLE, through the real window: the time from a message put
// into the Dovecot mailbox to the end of the check it starts in the window (where the new-mail
// signal goes on), with no timer tick; the watch's pause for more announcements included.
//   idle_bench [rounds=5]
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cstdio>

#include "BenchProcess.h"
#include "app/Startup.h"
#include "preview/EngineArguments.h"
#include "mailbox/NewMailWatcher.h"
#include "support/DovecotServer.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "tray/NewMailWatch.h"
#include "window/PelicordeFP.h"

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QTemporaryDir root;
    benchprocess::usePrivateDataFolders(root.path());

    EngineArguments &engine = prepareApplication(argc, argv);
    QApplication app(engine.argc(), engine.argv());
    RecordingPrompter prompter;
    DovecotServer dovecot;
    if (!dovecot.start()) {
        std::fprintf(stderr, "idle_bench: Dovecot did not start\n");
        return 1;
    }
    dovecot.setMessages(mailfactory::realisticMailbox(20));
    createWindows();
    if (!QTest::qWaitFor([] { return Form1 && Form1->isVisible() && !Form1->firstShow; }, 30000)) {
        std::fprintf(stderr, "idle_bench: the main window was not shown\n");
        return 1;
    }
    Form1->Edit3->setText(QStringLiteral("imap://127.0.0.1"));
    Form1->Edit4->setText(QString::number(dovecot.imapPort()));
    Form1->Edit15->setText(dovecot.user());
    Form1->Edit16->setText(dovecot.password());
    Form1->CheckBox2->setChecked(false);
    // The check of the account starts its watch.
    Form1->BitBtn2Click();
    NewMailWatcher *watcher = Form1->watcher;
    if (!watcher || !QTest::qWaitFor([watcher] { return watcher->idling(); }, 10000)) {
        std::fprintf(stderr, "idle_bench: no idle connection\n");
        return 1;
    }

    // Each round's message alone: the pause the watch waits for more announcements stays as the
    // program has it, the spacing and bound between checks would only make rounds wait on others.
    NewMailWatcher::Timing timing;
    timing.spacingMs = 0;
    timing.perMinute = 0;
    watcher->setTiming(timing);

    // In the tray, where new mail is checked at once (with the window shown it waits).
    Form1->BitBtn6->click();

    QElapsedTimer clock;
    qint64 endedAt = -1, toldAt = -1;
    QObject::connect(Form1, &TForm1::scanEnded, [&] { endedAt = clock.elapsed(); });
    QObject::connect(watcher, &NewMailWatcher::newMail, [&] { toldAt = clock.elapsed(); });
    QList<double> seconds, told;
    for (int round = 0; round < rounds; ++round) {
        QTest::qWait(300);
        endedAt = toldAt = -1;
        clock.start();
        dovecot.addMessage(mailfactory::realisticMailbox(1).first());
        if (!QTest::qWaitFor([&] { return endedAt >= 0; }, 30000)) {
            std::fprintf(stderr, "idle_bench: new mail started no check within 30 s\n");
            return 1;
        }
        seconds << endedAt / 1000.0;
        told << toldAt / 1000.0;
    }
    std::sort(seconds.begin(), seconds.end());
    std::sort(told.begin(), told.end());
    std::printf("idle_bench idle_notify_s=%.2f (median of %d; max %.2f; Dovecot IMAP on loopback; of which the "
                "server's notice and the watch's pause for more %.2f)\n",
                seconds.at(seconds.size() / 2), rounds, seconds.last(), told.at(told.size() / 2));
    destroyWindows();
    return 0;
}
