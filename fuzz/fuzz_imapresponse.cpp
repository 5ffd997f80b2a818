// SPDX-License-Identifier: GPL-3.0-or-later
// What an IMAP server sends, without a socket. The first bytes choose the limits, a point where
// the client changes the response cap, and how the rest is cut into chunks; the rest is the
// server's bytes. Any cut gives the same responses and the same problem as one piece, and no
// response holds more than its limits allow.
#include <QList>
#include <algorithm>

#include "FuzzCheck.h"
#include "protocol/imap/ImapResponseParser.h"

namespace {
using Parser = ImapResponseParser;

struct Outcome
{
    QList<QByteArray> dumps;
    Parser::Problem problem = Parser::Problem::None;
    QByteArray problemLine;
    bool inResponse = false;

    bool operator==(const Outcome &o) const
    {
        return dumps == o.dumps && problem == o.problem && problemLine == o.problemLine && inResponse == o.inResponse;
    }
};

struct Shape
{
    qsizetype values = 0; // lists included
    qsizetype bytes = 0;  // of atoms and strings
    int depth = 0;
};

void measure(ImapValue v, int depth, Shape &s)
{
    for (const ImapValue child : v) {
        ++s.values;
        s.bytes += child.bytes().size();
        s.depth = std::max(s.depth, depth + child.isList());
        if (child.isList())
            measure(child, depth + 1, s);
    }
}

// Feeds stream in pieces of the given sizes (cycled; 0 means the rest), always cutting at the
// point where the cap changes, and takes responses out as they complete, as the session does.
Outcome run(const Parser::Limits &limits, QByteArrayView stream, qsizetype capAt, qsizetype newCap,
            const QList<qsizetype> &cuts, qsizetype &bytesOut)
{
    Parser parser(limits);
    Outcome out;
    ImapResponse r;
    qsizetype pos = 0;
    for (qsizetype i = 0; pos < stream.size(); ++i) {
        if (pos == capAt)
            parser.setResponseCap(newCap);
        const qsizetype cut = cuts.isEmpty() ? 0 : cuts[i % cuts.size()];
        qsizetype n = cut == 0 ? stream.size() - pos : std::min(cut, stream.size() - pos);
        if (pos < capAt)
            n = std::min(n, capAt - pos);
        parser.feed(stream.sliced(pos, n));
        pos += n;
        while (parser.next(r)) {
            out.dumps.append(r.dump());
            Shape values, code;
            code.depth = r.code().isValid();
            measure(r.values(), 0, values);
            measure(r.code(), 1, code);
            // Bounded: a response holds no more values, depth or bytes than it may.
            FUZZ_CHECK(values.values + code.values + r.code().isValid() <= limits.values);
            FUZZ_CHECK(std::max(values.depth, code.depth) <= limits.depth);
            const qsizetype bytes = values.bytes + code.bytes + r.tag().size() + r.name().size() + r.text().size();
            FUZZ_CHECK(bytes <= std::max(limits.responseBytes, newCap));
            bytesOut += bytes;
            FUZZ_CHECK(r.kind() != ImapResponse::Kind::Tagged || !r.tag().isEmpty());
            FUZZ_CHECK(!r.number() || *r.number() <= limits.messages);
            // A response passed over keeps nothing of its values, and took no more than allowed.
            FUZZ_CHECK(r.skipped() == Parser::Problem::None
                       || (r.values().count() == 0 && r.kind() == ImapResponse::Kind::Untagged
                           && r.receivedBytes() <= limits.skipBytes));
        }
        if (parser.problem() != Parser::Problem::None)
            FUZZ_CHECK(!parser.next(r)); // nothing comes out after a problem
    }
    out.problem = parser.problem();
    out.problemLine = parser.problemLine();
    out.inResponse = parser.inResponse();
    return out;
}

qsizetype scaled(uint8_t b, qsizetype step, qsizetype most)
{
    return b == 255 ? most : qsizetype(b) * step;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8)
        return 0;
    // Bytes 0-4: response cap, line limit, depth, values, message numbers (255: the defaults;
    // bit 6 of the depth byte: responses past a limit are passed over, up to four caps);
    // 5-6: where the cap changes (in 4-byte steps) and to what; then a count of cut sizes
    // (0-7), the sizes, and the stream.
    Parser::Limits limits;
    const Parser::Limits defaults;
    limits.responseBytes = scaled(data[0], 8, defaults.responseBytes);
    limits.lineBytes = scaled(data[1], 4, defaults.lineBytes);
    limits.depth = data[2] == 255 ? defaults.depth : data[2] % 16;
    limits.values = scaled(data[3], 1, defaults.values);
    limits.messages = data[4] == 255 ? defaults.messages : quint32(data[4]) * 16;
    limits.skipBytes = data[2] != 255 && data[2] & 0x40 ? 4 * limits.responseBytes : 0;
    const qsizetype capAt = qsizetype(data[5]) * 4;
    const qsizetype newCap = scaled(data[6], 8, defaults.responseBytes);
    size_t at = 7;
    QList<qsizetype> cuts;
    const int cutCount = data[at++] % 8;
    for (int i = 0; i < cutCount && at < size; ++i, ++at)
        cuts.append(data[at] % 64 + 1);
    const QByteArrayView stream(reinterpret_cast<const char *>(data) + at, qsizetype(size - at));

    qsizetype bytesOut = 0, ignored = 0;
    const Outcome whole = run(limits, stream, capAt, newCap, {}, bytesOut);
    FUZZ_CHECK(run(limits, stream, capAt, newCap, {1}, ignored) == whole);
    FUZZ_CHECK(run(limits, stream, capAt, newCap, cuts, ignored) == whole);

    using Problem = Parser::Problem;
    // Nothing comes out of bytes never sent.
    FUZZ_CHECK(bytesOut <= stream.size());
    if (whole.problem != Problem::NotImap && whole.problem != Problem::BadNumber)
        FUZZ_CHECK(whole.problemLine.isEmpty());
    FUZZ_CHECK(whole.problemLine.size() <= Parser::MaxProblemLine);
    FUZZ_CHECK(!whole.problemLine.contains('\r') && !whole.problemLine.contains('\n'));

    // What astring makes, a server reads back as the same bytes.
    const QByteArray encoded = Parser::astring(stream.first(std::min<qsizetype>(stream.size(), 64)));
    Parser back;
    back.feed("* X " + encoded + "\r\n");
    ImapResponse r;
    FUZZ_CHECK(back.next(r));
    const ImapValue v = r.values().at(0);
    FUZZ_CHECK(v.bytes() == stream.first(std::min<qsizetype>(stream.size(), 64)) || (v.isNil() && encoded.compare("NIL", Qt::CaseInsensitive) == 0));

    // A mailbox name as shown is text, whatever the server named it; one without '&' or 8-bit
    // bytes is shown as it was sent.
    const QByteArrayView name = stream.first(std::min<qsizetype>(stream.size(), 64));
    const QString shown = Parser::mailboxName(name);
    FUZZ_CHECK(QStringView(shown).isValidUtf16());
    if (!name.contains('&') && std::all_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x80; }))
        FUZZ_CHECK(shown == QLatin1StringView(name));
    return 0;
}
