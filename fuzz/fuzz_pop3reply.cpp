// SPDX-License-Identifier: GPL-3.0-or-later
// What a POP3 server sends, without a socket. The first bytes choose the replies owed
// (one-line or multi-line, and a body cap) and how the rest is cut into chunks; the rest is
// the server's bytes. Any cut gives the same replies and the same problem as one piece, and
// what the framing notes of a body is what the body itself shows.
#include <QList>

#include "FuzzCheck.h"
#include "protocol/pop3/Pop3ReplyParser.h"

namespace {
struct Outcome
{
    QList<Pop3ReplyParser::Reply> replies;
    Pop3ReplyParser::Problem problem = Pop3ReplyParser::Problem::None;
    QByteArray problemLine;
    qsizetype owed = 0;

    bool operator==(const Outcome &o) const
    {
        if (replies.size() != o.replies.size() || problem != o.problem || problemLine != o.problemLine
            || owed != o.owed)
            return false;
        for (qsizetype i = 0; i < replies.size(); ++i)
            if (replies[i].ok != o.replies[i].ok || replies[i].status != o.replies[i].status
                || replies[i].body != o.replies[i].body || replies[i].headerEnd != o.replies[i].headerEnd
                || replies[i].statusFirst != o.replies[i].statusFirst
                || replies[i].statusAfterHeader != o.replies[i].statusAfterHeader)
                return false;
        return true;
    }
};

// What the framing notes of a body, found again from the body alone.
qsizetype headerEnd(const QByteArray &body)
{
    if (body.startsWith("\r\n"))
        return 2;
    if (body.startsWith('\n'))
        return 1;
    const qsizetype crlf = body.indexOf("\r\n\r\n");
    const qsizetype lf = body.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 4;
    return lf >= 0 ? lf + 2 : body.size();
}

bool startsWithStatus(QByteArrayView text)
{
    for (const QByteArrayView status : {QByteArrayView("+OK"), QByteArrayView("-ERR")}) {
        const qsizetype n = status.size();
        if (text.startsWith(status) && (text.size() == n || text[n] == ' ' || text[n] == '\r' || text[n] == '\n'))
            return true;
    }
    return false;
}

bool statusAfter(const QByteArray &body, qsizetype at)
{
    while (at < body.size()) {
        if (startsWithStatus(QByteArrayView(body).sliced(at)))
            return true;
        const qsizetype nl = body.indexOf('\n', at);
        at = nl < 0 ? body.size() : nl + 1;
    }
    return false;
}

struct Owed
{
    bool multiLine;
    qsizetype maxBody;
};

// Feeds stream in pieces of the given sizes (cycled; 0 means the rest), taking replies out as
// they complete, as the session does.
Outcome run(const QList<Owed> &owed, QByteArrayView stream, const QList<qsizetype> &cuts)
{
    Pop3ReplyParser parser;
    for (const Owed &o : owed)
        parser.expect(o.multiLine, o.maxBody);
    Outcome out;
    Pop3ReplyParser::Reply reply;
    qsizetype pos = 0;
    for (qsizetype i = 0; pos < stream.size(); ++i) {
        const qsizetype cut = cuts.isEmpty() ? 0 : cuts[i % cuts.size()];
        const qsizetype n = cut == 0 ? stream.size() - pos : std::min(cut, stream.size() - pos);
        parser.feed(stream.sliced(pos, n));
        pos += n;
        while (parser.next(reply))
            out.replies.append(reply);
        if (parser.problem() != Pop3ReplyParser::Problem::None)
            FUZZ_CHECK(!parser.next(reply)); // nothing comes out after a problem
    }
    out.problem = parser.problem();
    out.problemLine = parser.problemLine();
    out.owed = parser.owed();
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // Byte 0: replies owed (1-8); then one byte each: bit 0 multi-line, the rest the body cap
    // in 16-byte steps (127 meaning no practical cap). Then a count of cut sizes (0-7), the
    // sizes, and the stream.
    const int count = data[0] % 8 + 1;
    size_t at = 1;
    QList<Owed> owed;
    for (int i = 0; i < count && at < size; ++i, ++at) {
        const int cap = data[at] >> 1;
        owed.append({bool(data[at] & 1), cap == 127 ? qsizetype(1) << 40 : qsizetype(cap) * 16});
    }
    QList<qsizetype> cuts;
    if (at < size) {
        const int cutCount = data[at++] % 8;
        for (int i = 0; i < cutCount && at < size; ++i, ++at)
            cuts.append(data[at] % 64 + 1);
    }
    const QByteArrayView stream(reinterpret_cast<const char *>(data) + at, qsizetype(size - at));

    const Outcome whole = run(owed, stream, {});
    FUZZ_CHECK(run(owed, stream, {1}) == whole);
    FUZZ_CHECK(run(owed, stream, cuts) == whole);

    using Problem = Pop3ReplyParser::Problem;
    FUZZ_CHECK(whole.replies.size() <= owed.size());
    FUZZ_CHECK(whole.owed == owed.size() - whole.replies.size());
    if (whole.problem != Problem::NotPop3)
        FUZZ_CHECK(whole.problemLine.isEmpty());
    if (whole.problem == Problem::Stray)
        FUZZ_CHECK(whole.owed == 0);
    qsizetype bodies = 0;
    for (qsizetype i = 0; i < whole.replies.size(); ++i) {
        const Pop3ReplyParser::Reply &r = whole.replies[i];
        FUZZ_CHECK(!r.status.contains('\n') && r.status == r.status.trimmed());
        FUZZ_CHECK(r.status.size() <= Pop3ReplyParser::MaxStatusLine);
        if (!owed[i].multiLine || !r.ok)
            FUZZ_CHECK(r.body.isEmpty());
        // Bounded: a body never passes its cap, and nothing comes out of bytes never sent.
        FUZZ_CHECK(r.body.size() <= owed[i].maxBody);
        FUZZ_CHECK(r.body.isEmpty() || r.body.endsWith('\n'));
        FUZZ_CHECK(r.headerEnd == headerEnd(r.body));
        FUZZ_CHECK(r.statusFirst == startsWithStatus(r.body));
        FUZZ_CHECK(r.statusAfterHeader == statusAfter(r.body, r.headerEnd));
        bodies += r.body.size() + r.status.size();
    }
    FUZZ_CHECK(bodies <= stream.size());
    return 0;
}
