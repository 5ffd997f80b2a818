// SPDX-License-Identifier: GPL-3.0-or-later
// What the message list reads of a header block: the parse of sender, subject, date and type
// for the headers of a realistic mailbox, as the scan does for every message. Then what reading
// IMAP responses costs: 100,000 header FETCH responses, and one 64 MB literal, in 4 KB reads.
//   parse_bench [messages=1000]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "protocol/imap/ImapResponseParser.h"
#include "message/MailMessage.h"
#include "support/MailFactory.h"

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Feeds stream `times` times in 4 KB pieces, reading each response as the scan would (UID,
// size, header bytes); returns CPU seconds and the header bytes seen.
double feedImap(ImapResponseParser &parser, const QByteArray &stream, int times, qsizetype &headerBytes)
{
    const QByteArray section = "BODY[HEADER.FIELDS (FROM SUBJECT DATE CONTENT-TYPE)]";
    const double start = cpuSeconds();
    ImapResponse r;
    for (int t = 0; t < times; ++t) {
        for (qsizetype at = 0; at < stream.size(); at += 4096) {
            parser.feed(QByteArrayView(stream).sliced(at, std::min<qsizetype>(4096, stream.size() - at)));
            while (parser.next(r))
                headerBytes += r.fetchItem("UID").toNumber().value_or(0) % 2 + r.fetchItem("RFC822.SIZE").toNumber().value_or(0) % 2
                               + r.fetchItem(section).bytes().size() + r.fetchItem("BODY[]").bytes().size();
        }
    }
    return cpuSeconds() - start;
}

void imapBench(const QList<QByteArray> &mails)
{
    // The scan's header fetch, answered with each message's whole header block (about 1 KB).
    QByteArray stream;
    qsizetype literalBytes = 0;
    for (qsizetype i = 0; i < mails.size(); ++i) {
        const QByteArray &m = mails[i];
        const QByteArray header = m.left(m.indexOf("\r\n\r\n") + 4);
        literalBytes += header.size();
        stream += "* " + QByteArray::number(i + 1) + " FETCH (UID " + QByteArray::number(i + 1001) + " RFC822.SIZE "
                  + QByteArray::number(m.size()) + " BODY[HEADER.FIELDS (FROM SUBJECT DATE CONTENT-TYPE)] {"
                  + QByteArray::number(header.size()) + "}\r\n" + header + ")\r\n";
    }
    if (mails.isEmpty())
        return;
    const int times = std::max(1, int(100000 / mails.size()));
    QList<double> runs;
    qsizetype seen = 0;
    for (int run = 0; run < 3; ++run) {
        ImapResponseParser parser;
        runs << feedImap(parser, stream, times, seen) * 1e6 / (double(times) * double(mails.size()));
    }
    std::sort(runs.begin(), runs.end());
    std::printf("parse_bench imap_fetch_us=%.2f (CPU per FETCH response, %d responses with %lld-byte header "
                "literals on average, 4 KB reads; median of 3; %lld bytes seen)\n",
                runs.at(1), times * int(mails.size()), qlonglong(literalBytes / mails.size()), qlonglong(seen / 3));

    // One whole message of 64 MB: linear in its bytes however it is cut.
    const qsizetype big = 64 * 1024 * 1024;
    const QByteArray message = "* 1 FETCH (BODY[] {" + QByteArray::number(big) + "}\r\n" + QByteArray(big, 'm') + ")\r\n";
    ImapResponseParser parser;
    parser.setResponseCap(big + 1024);
    seen = 0;
    const double seconds = feedImap(parser, message, 1, seen);
    std::printf("parse_bench imap_literal_ms=%.0f (one %lld-byte literal in 4 KB reads; %s)\n", seconds * 1e3,
                qlonglong(seen), seen == big ? "read whole" : "NOT READ");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int messages = argc > 1 ? atoi(argv[1]) : 1000;
    const QList<QByteArray> mails = mailfactory::realisticMailbox(messages);
    QList<QByteArray> headers;
    for (const QByteArray &m : mails)
        headers << m.left(m.indexOf("\r\n\r\n") + 4);
    QList<double> runs;
    int typed = 0;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer clock;
        clock.start();
        for (const QByteArray &h : std::as_const(headers))
            typed += MailMessage::parseListFields(h).contentType().isEmpty() ? 0 : 1;
        runs << clock.nsecsElapsed() / 1e3 / headers.size();
    }
    std::sort(runs.begin(), runs.end());
    std::printf("parse_bench messages=%d list_fields_us=%.1f (median of 7; %d typed)\n", messages, runs.at(3),
                typed / 7);
    imapBench(mails);
    return 0;
}
