// SPDX-License-Identifier: GPL-3.0-or-later
// What the message list reads of a header block: the parse of sender, subject, date and type
// for the headers of a realistic mailbox, as the scan does for every message. Then what reading
// IMAP responses costs: 100,000 header FETCH responses as the scan asks them, with and without
// the structures, and one 64 MB literal, in 4 KB reads.
//   parse_bench [messages=1000]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "protocol/imap/ImapResponseParser.h"
#include "protocol/imap/ImapStructure.h"
#include "message/MailMessage.h"
#include "support/MailFactory.h"

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Feeds stream `times` times in 4 KB pieces, reading each response as the scan does (UID and
// header block, then the attachments from the structure when there is one); returns CPU seconds
// and the header bytes seen.
double feedImap(ImapResponseParser &parser, const QByteArray &stream, int times, qsizetype &headerBytes,
                int *attachments = nullptr)
{
    const double start = cpuSeconds();
    ImapResponse r;
    for (int t = 0; t < times; ++t) {
        for (qsizetype at = 0; at < stream.size(); at += 4096) {
            parser.feed(QByteArrayView(stream).sliced(at, std::min<qsizetype>(4096, stream.size() - at)));
            while (parser.next(r)) {
                headerBytes += r.fetchItem("UID").toNumber().value_or(0) % 2 + r.fetchItem("BODY[HEADER]").toByteArray().size()
                               + r.fetchItem("BODY[]").bytes().size();
                if (attachments)
                    if (const ImapValue structure = r.fetchItem("BODYSTRUCTURE"); structure.isList()) {
                        AttachmentInfo info;
                        if (!ImapStructure::readDirect(structure, info))
                            info = ImapStructure(structure).attachments();
                        *attachments += info.count;
                    }
            }
        }
    }
    return cpuSeconds() - start;
}

// Structures as Dovecot gives them for mail of the usual shapes: one text part, text and HTML
// alternatives, and alternatives beside a named attachment.
const QByteArray kStructures[] = {
    R"(("text" "plain" ("charset" "utf-8") NIL NIL "quoted-printable" 1843 42 NIL NIL NIL NIL))",
    R"((("text" "plain" ("charset" "utf-8") NIL NIL "quoted-printable" 1204 31 NIL NIL NIL NIL)("text" "html" ("charset" "utf-8") NIL NIL "quoted-printable" 5377 96 NIL NIL NIL NIL) "alternative" ("boundary" "=_b1a2c3d4e5") NIL NIL NIL))",
    R"(((("text" "plain" ("charset" "utf-8") NIL NIL "7bit" 402 12 NIL NIL NIL NIL)("text" "html" ("charset" "utf-8") NIL NIL "7bit" 1290 30 NIL NIL NIL NIL) "alternative" ("boundary" "=_alt") NIL NIL NIL)("application" "pdf" ("name" "facture-2026.pdf") NIL NIL "base64" 48312 NIL ("attachment" ("filename" "facture-2026.pdf")) NIL NIL) "mixed" ("boundary" "=_mix") NIL NIL NIL))",
};

void imapBench(const QList<QByteArray> &mails)
{
    if (mails.isEmpty())
        return;
    // The scan's header fetch, answered with each message's whole header block (about 1 KB),
    // and with its structure when "P.J." is ticked.
    for (const bool structures : {false, true}) {
        QByteArray stream;
        qsizetype literalBytes = 0;
        for (qsizetype i = 0; i < mails.size(); ++i) {
            const QByteArray &m = mails[i];
            const QByteArray header = m.left(m.indexOf("\r\n\r\n") + 4);
            literalBytes += header.size();
            stream += "* " + QByteArray::number(i + 1) + " FETCH (UID " + QByteArray::number(i + 1001)
                      + (structures ? " BODYSTRUCTURE " + kStructures[i % 3] : QByteArray()) + " BODY[HEADER] {"
                      + QByteArray::number(header.size()) + "}\r\n" + header + ")\r\n";
        }
        const int times = std::max(1, int(100000 / mails.size()));
        QList<double> runs;
        qsizetype seen = 0;
        int attachments = 0;
        for (int run = 0; run < 3; ++run) {
            ImapResponseParser parser;
            runs << feedImap(parser, stream, times, seen, structures ? &attachments : nullptr) * 1e6
                        / (double(times) * double(mails.size()));
        }
        std::sort(runs.begin(), runs.end());
        std::printf("parse_bench imap_fetch%s_us=%.2f (CPU per FETCH response read as the scan reads it, %d "
                    "responses with %lld-byte header literals on average%s, 4 KB reads; median of 3; %lld bytes "
                    "seen)\n",
                    structures ? "_structure" : "", runs.at(1), times * int(mails.size()),
                    qlonglong(literalBytes / mails.size()),
                    structures ? " and structures of 1 to 4 parts, the attachments counted" : "", qlonglong(seen / 3));
    }

    // One whole message of 64 MB: linear in its bytes however it is cut.
    const qsizetype big = 64 * 1024 * 1024;
    const QByteArray message = "* 1 FETCH (BODY[] {" + QByteArray::number(big) + "}\r\n" + QByteArray(big, 'm') + ")\r\n";
    ImapResponseParser parser;
    parser.setResponseCap(big + 1024);
    qsizetype seen = 0;
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
