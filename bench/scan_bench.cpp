// Header pass of the real scan code against Dovecot behind a relay that delays every chunk,
// pipelined and one command at a time.
//   scan_bench [messages=1000] [delay_ms=25]
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>

#include "mailbox/MessageList.h"
#include "mailbox/Pop3Session.h"
#include "mailbox/ScanPasses.h"
#include "support/DelayRelay.h"
#include "support/DovecotServer.h"
#include "support/MailFactory.h"

namespace {

struct Run {
    double seconds = 0;
    qint64 maxGapMs = 0;
    int rows = 0;
};

Run headerPass(const Pop3Account &account, bool pipelined)
{
    Pop3Session session;
    session.setPipelining(pipelined);
    session.open(account);
    const int count = session.messageCount();
    MessageList list;
    list.setRows(count + 1);
    QString lastDate;

    // A timer on the user-interface thread: the longest stretch between its ticks is the
    // longest time the event loop was kept from running.
    QElapsedTimer sinceTick;
    qint64 maxGap = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        maxGap = std::max(maxGap, sinceTick.restart());
    });
    sinceTick.start();
    ticker.start();

    QElapsedTimer clock;
    clock.start();
    scan::headerPass(session, list, count, lastDate, [](int) { QCoreApplication::processEvents(); });
    Run run;
    run.seconds = clock.nsecsElapsed() / 1e9;
    ticker.stop();
    run.maxGapMs = std::max(maxGap, sinceTick.elapsed());
    run.rows = count;
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int messages = argc > 1 ? atoi(argv[1]) : 1000;
    const int delayMs = argc > 2 ? atoi(argv[2]) : 25;

    DovecotServer dovecot;
    if (!dovecot.start()) {
        std::fprintf(stderr, "scan_bench: Dovecot did not start\n");
        return 1;
    }
    dovecot.setMessages(mailfactory::realisticMailbox(messages));
    DelayRelay relay(dovecot.port(), delayMs);
    Pop3Account account;
    account.host = QStringLiteral("127.0.0.1");
    account.port = relay.port();
    account.user = dovecot.user();
    account.password = dovecot.password();

    const Run piped = headerPass(account, true);
    const Run seq = headerPass(account, false);
    if (piped.rows != messages || seq.rows != messages) {
        std::fprintf(stderr, "scan_bench: expected %d messages, read %d and %d\n", messages, piped.rows, seq.rows);
        return 1;
    }
    std::printf("scan_bench max_ui_gap_ms=%lld (pipelined %lld, sequential %lld)\n",
                qMax(piped.maxGapMs, seq.maxGapMs), piped.maxGapMs, seq.maxGapMs);
    std::printf("scan_bench messages=%d delay_ms=%d pipelined_s=%.3f sequential_s=%.3f ratio=%.1f\n", messages,
                delayMs, piped.seconds, seq.seconds, seq.seconds / piped.seconds);
    return 0;
}
