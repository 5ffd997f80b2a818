// SPDX-License-Identifier: GPL-3.0-or-later
// Header pass of the real scan code against Dovecot behind a relay that delays every chunk,
// pipelined and one command at a time; then the whole scan through the real main window
// (offscreen), on the plain port (STLS) and on the implicit TLS one, with the longest time
// the event loop was held and the peak resident memory; the same over IMAP (STARTTLS).
//   scan_bench [messages=1000] [delay_ms=25]
// One command at a time is measured up to 5,000 messages only.
// Without arguments a 20,000-message mailbox is also scanned through the window.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>

#include "BenchProcess.h"
#include "mailbox/MessageList.h"
#include "mailbox/Pop3Session.h"
#include "mailbox/ScanPasses.h"
#include "scan/HeaderScan.h"
#include "support/DelayRelay.h"
#include "support/DovecotServer.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"

namespace {

struct Run {
    double seconds = 0;
    qint64 maxGapMs = 0;
    int rows = 0;
    double peakRssMb = 0;
    double cpuSeconds = 0;
};

// A timer on the user-interface thread: the longest stretch between its ticks is the longest
// time the event loop was kept from running.
class GapMeter
{
public:
    GapMeter()
    {
        m_ticker.setInterval(5);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] { m_max = std::max(m_max, m_since.restart()); });
        m_since.start();
        m_ticker.start();
    }
    qint64 maxGapMs()
    {
        m_ticker.stop();
        return std::max(m_max, m_since.elapsed());
    }

private:
    QElapsedTimer m_since;
    qint64 m_max = 0;
    QTimer m_ticker;
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

    GapMeter gaps;
    QElapsedTimer clock;
    clock.start();
    scan::headerPass(session, list, count, lastDate, [](int) { QCoreApplication::processEvents(); });
    Run run;
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.maxGapMs = gaps.maxGapMs();
    run.rows = count;
    return run;
}

// The whole scan as the receive button runs it, in a shown main window: log-in, count,
// headers, unique ids, blacklist pass, end of scan.
Run windowScan(const Pop3Account &account)
{
    RecordingPrompter prompter;
    WindowFixture fixture;
    if (!fixture.start())
        return {};
    fixture.pointAt(account);
    QCoreApplication::processEvents();
    benchprocess::resetPeak();

    GapMeter gaps;
    const double cpu = benchprocess::cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    headerScan(*fixture.form);
    Run run;
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.cpuSeconds = benchprocess::cpuSeconds() - cpu;
    run.maxGapMs = gaps.maxGapMs();
    run.peakRssMb = benchprocess::peakRssMb();
    const MessageList &list = *fixture.form->list;
    if (prompter.infos.isEmpty() && !list.cell(list.rows() - 1, MessageList::From).isEmpty())
        run.rows = list.rows() - 1;
    else
        std::fprintf(stderr, "scan_bench: the window's scan failed: %s\n", qPrintable(prompter.infos.join(u' ')));
    return run;
}

struct Mailbox
{
    DovecotServer dovecot;
    std::unique_ptr<DelayRelay> relay;
    Pop3Account account;

    // Plain port: the session upgrades with STLS; tls: implicit TLS from the first byte.
    bool start(int messages, int delayMs, bool tls = false, bool imap = false)
    {
        if (!dovecot.start())
            return false;
        dovecot.setMessages(mailfactory::realisticMailbox(messages));
        const quint16 port = imap ? (tls ? dovecot.imapsPort() : dovecot.imapPort()) : tls ? dovecot.tlsPort() : dovecot.port();
        relay = std::make_unique<DelayRelay>(port, delayMs);
        account.protocol = imap ? Pop3Account::Protocol::Imap : Pop3Account::Protocol::Pop3;
        account.host = QStringLiteral("127.0.0.1");
        account.tls = tls;
        account.port = relay->port();
        account.user = dovecot.user();
        account.password = dovecot.password();
        return true;
    }
};

bool windowLine(int messages, int delayMs, bool tls = false, bool imap = false)
{
    Mailbox box;
    if (!box.start(messages, delayMs, tls, imap)) {
        std::fprintf(stderr, "scan_bench: Dovecot did not start\n");
        return false;
    }
    const Run run = windowScan(box.account);
    if (run.rows != messages) {
        std::fprintf(stderr, "scan_bench: expected %d messages in the window, read %d\n", messages, run.rows);
        return false;
    }
    std::printf("scan_bench messages=%d delay_ms=%d pipelined_s=%.3f max_ui_gap_ms=%lld peak_rss_mb=%.1f "
                "cpu_s=%.3f (whole scan through the window%s)\n",
                messages, delayMs, run.seconds, run.maxGapMs, run.peakRssMb, run.cpuSeconds,
                imap ? ", IMAP STARTTLS" : tls ? ", implicit TLS" : ", STLS");
    std::fflush(stdout);
    return true;
}

// The header pass alone over a session, pipelined and one command at a time.
bool sessionLines(int messages, int delayMs)
{
    Mailbox box;
    if (!box.start(messages, delayMs)) {
        std::fprintf(stderr, "scan_bench: Dovecot did not start\n");
        return false;
    }
    const Pop3Account &account = box.account;
    const Run piped = headerPass(account, true);
    // One command at a time costs a round trip per message: only for mailboxes that allow it.
    if (messages > 5000) {
        std::printf("scan_bench max_ui_gap_ms=%lld (pipelined)\n", piped.maxGapMs);
        std::printf("scan_bench messages=%d delay_ms=%d pipelined_s=%.3f (header pass)\n", messages, delayMs,
                    piped.seconds);
        return piped.rows == messages;
    }
    const Run seq = headerPass(account, false);
    if (piped.rows != messages || seq.rows != messages) {
        std::fprintf(stderr, "scan_bench: expected %d messages, read %d and %d\n", messages, piped.rows, seq.rows);
        return false;
    }
    std::printf("scan_bench max_ui_gap_ms=%lld (pipelined %lld, sequential %lld)\n",
                qMax(piped.maxGapMs, seq.maxGapMs), piped.maxGapMs, seq.maxGapMs);
    std::printf("scan_bench messages=%d delay_ms=%d pipelined_s=%.3f sequential_s=%.3f ratio=%.1f\n", messages,
                delayMs, piped.seconds, seq.seconds, seq.seconds / piped.seconds);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    prepareApplication();
    QApplication app(argc, argv);
    const int messages = argc > 1 ? atoi(argv[1]) : 1000;
    const int delayMs = argc > 2 ? atoi(argv[2]) : 25;

    if (!sessionLines(messages, delayMs))
        return 1;

    if (!windowLine(messages, delayMs) || !windowLine(messages, delayMs, true))
        return 1;
    if (argc <= 1 && !windowLine(20000, delayMs))
        return 1;
    if (!windowLine(messages, delayMs, false, true) || (argc <= 1 && !windowLine(20000, delayMs, false, true)))
        return 1;
    return 0;
}
