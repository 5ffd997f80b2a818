// SPDX-License-Identifier: GPL-3.0-or-later
// Header pass of the real scan code against Dovecot behind a relay (a process of its own) that
// delays every chunk, pipelined and one command at a time; then the whole scan through the real main window
// (offscreen), on the plain port (STLS) and on the implicit TLS one, with the longest time
// the event loop was held, the peak resident memory and the processor time of the window's
// thread; the same over IMAP (STARTTLS).
//   scan_bench [messages=1000] [delay_ms=25]
//   scan_bench --compare messages [delay_ms=25]
// One command at a time is measured up to 5,000 messages only.
// Without arguments, 20,000- and 100,000-message mailboxes are also compared: the window's scan
// and pelicorde-check beside a minimal pipelined client on the same link (medians of three
// interleaved runs), and what the rows add to the idle window's memory; then the same over IMAP
// (STARTTLS) at 1,000, 20,000 and 100,000 messages, with and without "P.J.", beside a minimal
// IMAP client, then again isolated.
//   scan_bench --compare-imap messages [delay_ms=25]
//   scan_bench --compare-imap-isolated messages [delay_ms=25]
// The isolated IMAP lines run Dovecot and the relay on one CPU and both clients on another, as
// when the server is another machine; the others share the CPUs, server and clients alike.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <thread>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BenchProcess.h"
#include "core/AccountFile.h"
#include "deletion/Deletion.h"
#include "protocol/CertificateTrust.h"
#include "mailbox/MessageList.h"
#include "protocol/pop3/Pop3Session.h"
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
    double idleRowKb = 0; // resident memory the rows added to the idle window, per row
    double deleteSeconds = 0; // deleting every fifth row afterwards, re-scan included
    double idleShare = 0;     // of the machine's processor time during the scan
    double processCpuSeconds = 0; // all the window's threads: the scoring one too
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

Run headerPass(const MailAccount &account, bool pipelined)
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
Run windowScan(const MailAccount &account, const QString &blacklistFile = {}, bool deleteAfter = false,
               bool attachments = false)
{
    RecordingPrompter prompter;
    WindowFixture fixture;
    if (!fixture.start())
        return {};
    fixture.pointAt(account);
    if (!blacklistFile.isEmpty())
        QFile::copy(blacklistFile, QDir(fixture.form->dataFolder).filePath(QStringLiteral("Liste-noire.txt")));
    fixture.form->CheckBox1->setChecked(attachments);
    QCoreApplication::processEvents();
    benchprocess::resetPeak();
    const double idleBefore = benchprocess::rssMb();

    GapMeter gaps;
    const double cpu = benchprocess::threadCpuSeconds();
    const double processCpu = benchprocess::cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    const benchprocess::IdleMeter idle;
    headerScan(*fixture.form);
    Run run;
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.idleShare = idle.share();
    run.cpuSeconds = benchprocess::threadCpuSeconds() - cpu;
    run.processCpuSeconds = benchprocess::cpuSeconds() - processCpu;
    run.maxGapMs = gaps.maxGapMs();
    run.peakRssMb = benchprocess::peakRssMb();
    const MessageList &list = *fixture.form->list;
    if (prompter.infos.isEmpty() && !list.cell(list.rows() - 1, MessageList::From).isEmpty()
        && (!attachments || !list.cell(list.rows() - 1, MessageList::Attachments).isEmpty()))
        run.rows = list.rows() - 1;
    else
        std::fprintf(stderr, "scan_bench: the window's scan failed: %s\n", qPrintable(prompter.infos.join(u' ')));
    // The window at rest with its rows, as after a scan the user reads.
    QTest::qWait(300);
    benchprocess::resetPeak();
    run.idleRowKb = (benchprocess::rssMb() - idleBefore) * 1024 / std::max(1, run.rows);
    if (deleteAfter && run.rows > 0) {
        for (int r = 5; r <= run.rows; r += 5)
            fixture.form->list->setCell(r, MessageList::Mark, QStringLiteral("1"));
        clock.restart();
        deleteMarked(*fixture.form);
        run.deleteSeconds = clock.nsecsElapsed() / 1e9;
        if (!prompter.infos.isEmpty() || fixture.form->list->rows() - 1 != run.rows - run.rows / 5) {
            std::fprintf(stderr, "scan_bench: the deletion failed: %s\n", qPrintable(prompter.infos.join(u' ')));
            run.rows = 0;
        }
    }
    return run;
}

// The relay stands for the network, in a process of its own (this program, run with --relay):
// a server answers every command asked ahead at once, and the relay holds each chunk for its
// delay without the link's flow control, so what it holds would otherwise count as the
// window's memory, where the kernel and the server hold it on a real link.
class RelayProcess
{
public:
    RelayProcess(quint16 upstreamPort, int delayMs)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--relay"), QString::number(upstreamPort), QString::number(delayMs)});
        while (m_process.waitForReadyRead(10000) && !m_process.canReadLine()) {
        }
        m_port = quint16(m_process.readLine().trimmed().toUInt());
    }
    ~RelayProcess()
    {
        m_process.closeWriteChannel(); // the relay ends when its standard input does
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }
    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

int relayMain(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    DelayRelay relay(quint16(atoi(argv[2])), atoi(argv[3]));
    std::printf("%u\n", unsigned(relay.port()));
    std::fflush(stdout);
    std::thread([] {
        char byte;
        while (read(0, &byte, 1) > 0) {
        }
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit);
    }).detach();
    return app.exec();
}

struct Mailbox
{
    DovecotServer dovecot;
    std::unique_ptr<RelayProcess> relay;
    std::unique_ptr<RelayProcess> tlsRelay; // only with bothPorts
    MailAccount account;
    MailAccount tlsAccount;

    // Plain port: the session upgrades with STLS; tls: implicit TLS from the first byte.
    // bothPorts (POP3): a relay to each, account on the plain one, tlsAccount on the other.
    bool start(int messages, int delayMs, bool tls = false, bool imap = false, bool bothPorts = false)
    {
        if (!dovecot.start())
            return false;
        dovecot.setMessages(mailfactory::realisticMailbox(messages));
        malloc_trim(0); // the mailbox written out is not the window's
        const quint16 port = imap ? (tls ? dovecot.imapsPort() : dovecot.imapPort()) : tls ? dovecot.tlsPort() : dovecot.port();
        relay = std::make_unique<RelayProcess>(port, delayMs);
        if (!relay->port())
            return false;
        account.protocol = imap ? MailAccount::Protocol::Imap : MailAccount::Protocol::Pop3;
        account.host = QStringLiteral("127.0.0.1");
        account.tls = tls;
        account.port = relay->port();
        account.user = dovecot.user();
        account.password = dovecot.password();
        if (bothPorts) {
            tlsRelay = std::make_unique<RelayProcess>(dovecot.tlsPort(), delayMs);
            tlsAccount = account;
            tlsAccount.tls = true;
            tlsAccount.port = tlsRelay->port();
        }
        return true;
    }
};

// What both reference clients share: a socket that trusts any certificate (the test server's
// own), writes that fail once the server has gone, and waits on the socket's events.
class ReferenceLink
{
public:
    struct Result
    {
        double seconds = 0;
        double cpuSeconds = 0;
        int headers = 0;
    };

protected:
    void attach(QSslSocket &socket, std::function<void()> take)
    {
        m_socket = &socket;
        QSslConfiguration config = socket.sslConfiguration();
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.setSslConfiguration(config);
        QObject::connect(&socket, &QSslSocket::readyRead, std::move(take));
        QObject::connect(&socket, &QSslSocket::disconnected, [this] { m_failed = true; });
        QObject::connect(&socket, &QSslSocket::encrypted, [this] { m_encrypted = true; });
    }

    bool send(const QByteArray &bytes)
    {
        m_socket->write(bytes);
        return !m_failed;
    }

    template <typename F>
    bool waitFor(F done)
    {
        QTimer timeout;
        timeout.setSingleShot(true);
        timeout.start(120000);
        while (!done() && !m_failed && timeout.isActive()) {
            QEventLoop loop;
            QObject::connect(m_socket, &QSslSocket::readyRead, &loop, &QEventLoop::quit);
            QObject::connect(m_socket, &QSslSocket::encrypted, &loop, &QEventLoop::quit);
            QObject::connect(m_socket, &QSslSocket::disconnected, &loop, &QEventLoop::quit);
            QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
            if (!done())
                loop.exec();
        }
        return done();
    }

    QSslSocket *m_socket = nullptr;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_failed = false;
    bool m_encrypted = false;
};

// A pipelined POP3 client reduced to what a header scan must do, as the yardstick of the link:
// CAPA, STLS (plain port), then USER, PASS and STAT in one write and every TOP with the UIDL
// behind them in another, the commands of the scan; the replies are only framed.
class ReferenceClient : public ReferenceLink
{
public:
    Result run(const MailAccount &account)
    {
        Result result;
        const double cpu = benchprocess::threadCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        QSslSocket socket;
        attach(socket, [this] { take(); });
        if (account.tls)
            socket.connectToHostEncrypted(account.host, account.port);
        else
            socket.connectToHost(account.host, account.port);
        bool ok = expect(1, false) && send("CAPA\r\n") && expect(1, true);
        if (ok && !account.tls) {
            ok = send("STLS\r\n") && expect(1, false);
            socket.startClientEncryption();
        }
        ok = ok && waitFor([this] { return m_encrypted; });
        ok = ok && send("USER " + account.user.toUtf8() + "\r\nPASS " + account.password.toUtf8() + "\r\nSTAT\r\n")
             && expect(3, false);
        const int count = m_lastStatus.split(' ').value(1).toInt();
        QByteArray tops;
        for (int n = 1; n <= count; ++n)
            tops += "TOP " + QByteArray::number(n) + " 0\r\n";
        tops += "UIDL\r\n";
        if (ok && count > 0 && send(tops) && expect(count + 1, true))
            result.headers = count;
        result.seconds = clock.nsecsElapsed() / 1e9;
        result.cpuSeconds = benchprocess::threadCpuSeconds() - cpu;
        socket.abort();
        m_socket = nullptr;
        return result;
    }

private:
    // Waits until n more replies are framed, multi-line ones when multiLine.
    bool expect(int n, bool multiLine)
    {
        m_owed = n;
        m_multiLine = multiLine;
        take();
        return waitFor([this] { return m_owed == 0; });
    }

    void take()
    {
        if (!m_socket)
            return;
        m_buffer += m_socket->readAll();
        while (m_owed > 0) {
            const char *start = m_buffer.constData() + m_pos;
            const auto *nl = static_cast<const char *>(std::memchr(start, '\n', size_t(m_buffer.size() - m_pos)));
            if (!nl)
                break;
            const qsizetype length = nl - start + 1;
            if (!m_inBody) {
                const bool ok = length >= 3 && std::memcmp(start, "+OK", 3) == 0;
                if (!m_multiLine)
                    m_lastStatus = QByteArray(start, length).trimmed();
                if (m_multiLine && ok)
                    m_inBody = true;
                else
                    --m_owed;
            } else if (start[0] == '.' && (length == 2 || (length == 3 && start[1] == '\r'))) {
                m_inBody = false;
                --m_owed;
            }
            m_pos += length;
        }
        if (m_pos > 1024 * 1024 && m_pos * 2 > m_buffer.size()) {
            m_buffer.remove(0, m_pos);
            m_pos = 0;
        }
    }

    bool m_inBody = false;
    bool m_multiLine = false;
    int m_owed = 0;
    QByteArray m_lastStatus;
};

// A minimal IMAP client doing what a header scan must, as the yardstick of the link and in the
// POP3 client's steps: the greeting (its capabilities), STARTTLS, then LOGIN and EXAMINE in one
// write and, once the mailbox is open, one UID FETCH of every header (with the structures too for
// "P.J."); the responses are only framed (lines and literals).
class ImapReferenceClient : public ReferenceLink
{
public:
    Result run(const MailAccount &account, bool structures)
    {
        Result result;
        const double cpu = benchprocess::threadCpuSeconds();
        QElapsedTimer clock;
        clock.start();
        QSslSocket socket;
        attach(socket, [this] { take(); });
        socket.connectToHost(account.host, account.port);
        bool ok = expect("*") && send("a STARTTLS\r\n") && expect("a ");
        socket.startClientEncryption();
        ok = ok && waitFor([this] { return m_encrypted; });
        const QByteArray items = structures ? "(BODY.PEEK[HEADER] BODYSTRUCTURE)" : "(BODY.PEEK[HEADER])";
        ok = ok && send("b LOGIN \"" + account.user.toUtf8() + "\" \"" + account.password.toUtf8()
                        + "\"\r\nc EXAMINE INBOX\r\n")
             && expect("c ") && send("d UID FETCH 1:* " + items + "\r\n") && expect("d ");
        if (ok && m_last.startsWith("d OK"))
            result.headers = m_fetched;
        result.seconds = clock.nsecsElapsed() / 1e9;
        result.cpuSeconds = benchprocess::threadCpuSeconds() - cpu;
        socket.abort();
        m_socket = nullptr;
        return result;
    }

private:
    // Waits for a response line that starts with prefix ("*" the greeting, "d " a tag).
    bool expect(const QByteArray &prefix)
    {
        m_want = prefix;
        m_got = false;
        take();
        return waitFor([this] { return m_got; });
    }

    void take()
    {
        if (!m_socket)
            return;
        m_buffer += m_socket->readAll();
        while (!m_got) {
            if (m_literal > 0) {
                const qsizetype n = std::min(m_literal, m_buffer.size() - m_pos);
                m_pos += n;
                m_literal -= n;
                if (m_literal > 0)
                    break;
            }
            const char *start = m_buffer.constData() + m_pos;
            const auto *nl = static_cast<const char *>(std::memchr(start, '\n', size_t(m_buffer.size() - m_pos)));
            if (!nl)
                break;
            const QByteArrayView line(start, nl - start + 1);
            m_pos += line.size();
            // A line ending in a literal goes on after its bytes.
            if (line.endsWith("}\r\n")) {
                const qsizetype open = line.lastIndexOf('{');
                m_literal = line.sliced(open + 1, line.size() - open - 4).toLongLong();
                if (!m_inResponse && line.startsWith("* ") && line.indexOf(" FETCH ") > 0)
                    ++m_fetched;
                m_inResponse = true;
                continue;
            }
            if (!m_inResponse && line.startsWith(m_want)) {
                m_last = line.toByteArray();
                m_got = true;
            }
            m_inResponse = false;
        }
        if (m_pos > 1024 * 1024 && m_pos * 2 > m_buffer.size()) {
            m_buffer.remove(0, m_pos);
            m_pos = 0;
        }
    }

    qsizetype m_literal = 0;
    bool m_inResponse = false; // within a response, after a literal
    QByteArray m_want;
    bool m_got = false;
    QByteArray m_last;
    int m_fetched = 0;
};

// pelicorde-check as a status bar runs it, with a favourite account on the implicit TLS relay
// whose certificate the window has had confirmed; its own processor time and peak memory.
struct CheckRun
{
    double seconds = 0;
    double cpuSeconds = 0;
    double peakRssMb = 0;
    QByteArray out;
};

CheckRun runCheck(const QString &appData)
{
    CheckRun run;
    const QByteArray outPath = QDir(appData).filePath(QStringLiteral("check.out")).toLocal8Bit();
    const QByteArray env = "APPDATA=" + appData.toLocal8Bit();
    QList<QByteArray> environment{env};
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "APPDATA=", 8) != 0)
            environment << QByteArray(*e);
    std::vector<char *> envp;
    for (QByteArray &e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char program[] = PELICORDE_CHECK_PROGRAM;
    char *argv[] = {program, nullptr};
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, envp.data()) == 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        run.seconds = clock.nsecsElapsed() / 1e9;
        run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
                         + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        run.peakRssMb = usage.ru_maxrss / 1024.0;
    }
    posix_spawn_file_actions_destroy(&actions);
    QFile out(QString::fromLocal8Bit(outPath));
    if (out.open(QIODevice::ReadOnly))
        run.out = out.readAll().trimmed();
    return run;
}

// A blacklist of the usual size: a few of its entries catch senders of the mailbox.
QByteArray realisticBlacklist()
{
    QByteArray list;
    for (const char *pattern : {"promo-flash.example", "lottery-prize.example", "@casino-", "pharma", "cheap-watches",
                                "crypto-gains", "winner@", "bitcoin", "rencontres-", "viagra", "loan-offer",
                                "seo-services", "no-reply@deals", "unsubscribe-me", "gift-card"})
        list += QByteArray(pattern) + "\t00/00/0000\r\n";
    return list;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

bool windowLine(int messages, int delayMs, bool tls = false, bool imap = false)
{
    const bool deleteAfter = !tls; // every line has a mailbox of its own
    Mailbox box;
    if (!box.start(messages, delayMs, tls, imap)) {
        std::fprintf(stderr, "scan_bench: Dovecot did not start\n");
        return false;
    }
    const Run run = windowScan(box.account, {}, deleteAfter);
    if (run.rows != messages) {
        std::fprintf(stderr, "scan_bench: expected %d messages in the window, read %d\n", messages, run.rows);
        return false;
    }
    std::printf("scan_bench messages=%d delay_ms=%d pipelined_s=%.3f max_ui_gap_ms=%lld peak_rss_mb=%.1f "
                "cpu_s=%.3f (whole scan through the window%s)\n",
                messages, delayMs, run.seconds, run.maxGapMs, run.peakRssMb, run.cpuSeconds,
                imap ? ", IMAP STARTTLS" : tls ? ", implicit TLS" : ", STLS");
    if (deleteAfter)
        std::printf("scan_bench messages=%d delay_ms=%d marked=%d delete_s=%.3f (deletion of every fifth row "
                    "through the window after \"Oui\", re-scan included; %s)\n",
                    messages, delayMs, messages / 5, run.deleteSeconds, imap ? "IMAP STARTTLS" : "STLS");
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
    const MailAccount &account = box.account;
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

// The window's scan and pelicorde-check beside the reference client on the same mailbox and
// link, in turn, three times after a warm-up (which also has Dovecot index the mailbox).
bool compareLine(int messages, int delayMs)
{
    Mailbox box;
    if (!box.start(messages, delayMs, false, false, true)) {
        std::fprintf(stderr, "scan_bench: Dovecot did not start\n");
        return false;
    }
    QTemporaryDir folders;
    const QString appData = folders.filePath(QStringLiteral("check"));
    const QString dataFolder = QDir(appData).filePath(QStringLiteral("Pelicorde"));
    QDir().mkpath(dataFolder);
    const QString blacklist = folders.filePath(QStringLiteral("Liste-noire.txt"));
    for (const QString &path : {blacklist, QDir(dataFolder).filePath(QStringLiteral("Liste-noire.txt"))}) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(realisticBlacklist()) < 0)
            return false;
    }
    const MailAccount &tls = box.tlsAccount;
    accounts::writePrivateFile(accounts::favouriteFilePath(dataFolder),
                               accounts::encodeAccount({tls.host, QString::number(tls.port), tls.password, tls.user}));
    certificates::remember(certificates::storePath(dataFolder),
                           {tls.host, tls.port, QSslCertificate::fromPath(box.dovecot.certificatePath()), {}});

    ReferenceClient warmUp;
    if (warmUp.run(box.account).headers != messages) {
        std::fprintf(stderr, "scan_bench: the reference client did not read %d headers\n", messages);
        return false;
    }
    const QByteArray expected = "{\"messages\": " + QByteArray::number(messages) + ",";
    QList<double> window, windowCpu, gap, peak, idleRow, check, checkCpu, checkPeak, reference, referenceTls,
        referenceCpu;
    for (int round = 0; round < 3; ++round) {
        ReferenceClient client, tlsClient;
        const ReferenceClient::Result ref = client.run(box.account);
        const Run run = windowScan(box.account, blacklist);
        const ReferenceClient::Result refTls = tlsClient.run(tls);
        const CheckRun checked = runCheck(appData);
        if (ref.headers != messages || refTls.headers != messages || run.rows != messages
            || !checked.out.startsWith(expected)) {
            std::fprintf(stderr, "scan_bench: expected %d messages; reference %d and %d, window %d, check \"%s\"\n",
                         messages, ref.headers, refTls.headers, run.rows, checked.out.constData());
            return false;
        }
        reference << ref.seconds;
        referenceTls << refTls.seconds;
        referenceCpu << ref.cpuSeconds;
        window << run.seconds;
        windowCpu << run.cpuSeconds;
        gap << double(run.maxGapMs);
        peak << run.peakRssMb;
        idleRow << run.idleRowKb;
        check << checked.seconds;
        checkCpu << checked.cpuSeconds;
        checkPeak << checked.peakRssMb;
    }
    const double windowS = median(window), checkS = median(check), referenceS = median(reference),
                 referenceTlsS = median(referenceTls);
    std::printf("scan_bench messages=%d delay_ms=%d pipelined_s=%.3f max_ui_gap_ms=%.0f peak_rss_mb=%.1f cpu_s=%.3f "
                "cpu_us_per_message=%.1f (whole scan through the window, STLS; medians of 3)\n",
                messages, delayMs, windowS, median(gap), median(peak), median(windowCpu),
                median(windowCpu) * 1e6 / messages);
    std::printf("scan_bench messages=%d delay_ms=%d window_s=%.3f reference_s=%.3f window_ratio=%.2f check_s=%.3f "
                "reference_tls_s=%.3f check_ratio=%.2f check_cpu_s=%.3f check_peak_rss_mb=%.1f reference_cpu_s=%.3f "
                "(beside a minimal pipelined client on the same link: window and reference over STLS, "
                "pelicorde-check and reference over implicit TLS; medians of 3 interleaved runs)\n",
                messages, delayMs, windowS, referenceS, windowS / referenceS, checkS, referenceTlsS,
                checkS / referenceTlsS, median(checkCpu), median(checkPeak), median(referenceCpu));
    if (messages >= 100000)
        std::printf("scan_bench messages=%d idle_rss_per_row_kb=%.2f (resident memory the rows add to the idle "
                    "window, median of 3)\n",
                    messages, median(idleRow));
    std::fflush(stdout);
    return true;
}

// The window's IMAP scan (STARTTLS) beside the minimal IMAP client on the same mailbox and link,
// without and with "P.J." (the client then fetching the structures too), in turn after a
// warm-up (which also has Dovecot index the mailbox); medians of 5 interleaved runs.
bool compareImapLines(int messages, int delayMs, bool isolated = false)
{
    // Isolated: Dovecot and the relay on the first CPU, both clients on the second, as when the
    // server is another machine. Otherwise all share the machine's CPUs, and what a client
    // computes also slows the server it waits on.
    if (isolated && !benchprocess::pinTo(0)) {
        std::fprintf(stderr, "scan_bench: the isolated IMAP lines need two CPUs\n");
        benchprocess::unpin();
        return true;
    }
    const auto unpin = qScopeGuard([isolated] {
        if (isolated)
            benchprocess::unpin();
    });
    Mailbox box;
    if (!box.start(messages, delayMs, false, true)) {
        std::fprintf(stderr, "scan_bench: Dovecot did not start\n");
        return false;
    }
    if (isolated)
        benchprocess::pinTo(1);
    ImapReferenceClient warmUp;
    if (warmUp.run(box.account, true).headers != messages) {
        std::fprintf(stderr, "scan_bench: the IMAP reference client did not read %d headers\n", messages);
        return false;
    }
    struct Line
    {
        QList<double> window, windowCpu, windowAllCpu, gap, peak, reference, referenceCpu, windowIdle, referenceIdle;
    } lines[2];
    const int rounds = 5; // the link's pace drifts between runs by a third at 100,000
    for (int round = 0; round < rounds; ++round) {
        for (const bool pj : {false, true}) {
            ImapReferenceClient client;
            const benchprocess::IdleMeter idle;
            const ImapReferenceClient::Result ref = client.run(box.account, pj);
            const double referenceIdle = idle.share();
            const Run run = windowScan(box.account, {}, false, pj);
            if (ref.headers != messages || run.rows != messages) {
                std::fprintf(stderr, "scan_bench: expected %d messages over IMAP; reference %d, window %d\n", messages,
                             ref.headers, run.rows);
                return false;
            }
            Line &l = lines[pj];
            l.reference << ref.seconds;
            l.referenceCpu << ref.cpuSeconds;
            l.window << run.seconds;
            l.windowCpu << run.cpuSeconds;
            l.windowAllCpu << run.processCpuSeconds;
            l.gap << double(run.maxGapMs);
            l.peak << run.peakRssMb;
            l.windowIdle << run.idleShare;
            l.referenceIdle << referenceIdle;
        }
    }
    for (const bool pj : {false, true}) {
        const Line &l = lines[pj];
        const double windowS = median(l.window), referenceS = median(l.reference);
        std::printf("scan_bench imap%s messages=%d delay_ms=%d%s window_s=%.3f reference_s=%.3f window_ratio=%.2f "
                    "max_ui_gap_ms=%.0f peak_rss_mb=%.1f cpu_s=%.3f cpu_us_per_message=%.1f "
                    "all_threads_cpu_us_per_message=%.1f reference_cpu_s=%.3f idle_window=%.0f%% idle_reference=%.0f%% "
                    "(whole scan through the window over STARTTLS beside a minimal client: LOGIN and EXAMINE in "
                    "one write, then UID FETCH 1:* (BODY.PEEK[HEADER]%s); cpu: the window's thread, all threads: "
                    "the scoring one too; idle: the machine's processor time left unused during each; medians of "
                    "%d interleaved runs%s)\n",
                    isolated ? " isolated=1" : "", messages, delayMs, pj ? " pj=1" : "", windowS, referenceS,
                    windowS / referenceS, median(l.gap), median(l.peak), median(l.windowCpu),
                    median(l.windowCpu) * 1e6 / messages, median(l.windowAllCpu) * 1e6 / messages,
                    median(l.referenceCpu), 100 * median(l.windowIdle), 100 * median(l.referenceIdle),
                    pj ? " BODYSTRUCTURE" : "", rounds,
                    isolated ? "; Dovecot and the relay on one CPU, the window and the reference on another" : "");
    }
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--relay") == 0)
        return relayMain(argc, argv);
    // Every line runs on all the machine's CPUs, whatever the bench was started on: a launcher
    // that keeps its processes on one CPU would otherwise have server and clients take turns
    // on it (Dovecot and the relay are started from here and inherit it).
    benchprocess::unpin();
    EngineArguments &engine = prepareApplication(argc, argv);
    QApplication app(engine.argc(), engine.argv());
    if (argc > 2 && qstrcmp(argv[1], "--compare") == 0)
        return compareLine(atoi(argv[2]), argc > 3 ? atoi(argv[3]) : 25) ? 0 : 1;
    if (argc > 2 && qstrcmp(argv[1], "--compare-imap") == 0)
        return compareImapLines(atoi(argv[2]), argc > 3 ? atoi(argv[3]) : 25) ? 0 : 1;
    if (argc > 2 && qstrcmp(argv[1], "--compare-imap-isolated") == 0)
        return compareImapLines(atoi(argv[2]), argc > 3 ? atoi(argv[3]) : 25, true) ? 0 : 1;
    const int messages = argc > 1 ? atoi(argv[1]) : 1000;
    const int delayMs = argc > 2 ? atoi(argv[2]) : 25;

    if (!sessionLines(messages, delayMs))
        return 1;

    if (!windowLine(messages, delayMs) || !windowLine(messages, delayMs, true))
        return 1;
    if (argc <= 1 && (!compareLine(20000, delayMs) || !compareLine(100000, delayMs)))
        return 1;
    if (!windowLine(messages, delayMs, false, true) || (argc <= 1 && !windowLine(20000, delayMs, false, true)))
        return 1;
    if (argc <= 1)
        for (const bool isolated : {false, true})
            for (const int n : {1000, 20000, 100000})
                if (!compareImapLines(n, delayMs, isolated))
                    return 1;
    return 0;
}
