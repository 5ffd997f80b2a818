// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <deque>

// The framing of POP3 replies (RFC 1939): a status line "+OK …" or "-ERR …", and after "+OK"
// to a multi-line command the body up to the line holding a single dot, dot-unstuffed. The
// replies owed are announced in command order; bytes go in as they come, in any chunking, and
// the same replies (then the same problem, if any) come out whatever the chunking. Bytes
// beyond the replies owed are a problem: a server out of step with its commands.
class Pop3ReplyParser
{
public:
    struct Reply
    {
        bool ok = false;
        QByteArray status; // text after +OK / -ERR, trimmed
        QByteArray body;   // multi-line replies only, dot-unstuffed, line ends kept
        // What the framing saw of a body on the way, read as a mail: the end of its header
        // block, blank line included (an empty first line, or the first empty line after a line
        // ended the same way, "\n\n" or "\r\n\r\n"; the body's size when there is none), and
        // whether a line starts as a status line does ("+OK" or "-ERR", then a blank or the line
        // end): the first line, or one after the header block.
        qsizetype headerEnd = 0;
        bool statusFirst = false;
        bool statusAfterHeader = false;
    };
    enum class Problem {
        None,
        NotPop3,     // a status line that is neither +OK nor -ERR (problemLine() holds it)
        EndlessLine, // a line longer than any POP3 or mail line, without its end
        TooLong,     // a multi-line reply past its cap
        Stray,       // bytes nobody asked for
    };

    // A status line longer than this without a line end is not POP3.
    static constexpr qsizetype MaxStatusLine = 64 * 1024;
    // A body line this long is no mail (even broken base64 stays far below).
    static constexpr qsizetype MaxBodyLine = 64 * 1024 * 1024;

    // One more reply owed, after those owed already. A multi-line reply's body may hold
    // maxBody bytes at most.
    void expect(bool multiLine, qsizetype maxBody);
    void feed(QByteArrayView bytes);
    // The same without a copy in between: room for n bytes at the end of the buffer, to be
    // written by the reader, then commit(k) for the first k of them written.
    char *reserve(qsizetype n);
    void commit(qsizetype n);

    // The next reply owed, once complete; false while more bytes are needed or when a problem
    // stopped the parsing (replies completed before the problem still come out first).
    bool next(Reply &out);

    Problem problem() const { return m_problem; }
    const QByteArray &problemLine() const { return m_problemLine; }
    // Replies announced and not yet handed out.
    qsizetype owed() const { return qsizetype(m_owed.size() + m_ready.size()); }

private:
    struct Owed
    {
        bool multiLine;
        qsizetype maxBody;
    };

    void parse();
    qsizetype lineEnd() const; // of the line at m_searchFrom, or -1
    bool parseOne();
    void stop(Problem problem);
    void bodyLine(const char *line, qsizetype length);
    void flushRun(qsizetype end);

    std::deque<Owed> m_owed; // replies not yet complete, in order
    std::deque<Reply> m_ready;
    Problem m_problem = Problem::None;
    QByteArray m_problemLine;

    // Bytes before m_pos are consumed; the buffer is compacted only when the consumed part
    // dominates, so parsing stays linear in the bytes received.
    QByteArray m_buf;
    qsizetype m_pos = 0;
    qsizetype m_filled = 0;     // bytes of m_buf received; room reserved lies beyond
    qsizetype m_searchFrom = 0; // where the search for the next line end resumes
    bool m_inBody = false;      // the current reply's status line was read, body in progress
    qsizetype m_bodyBytes = 0;  // bytes of the current body as received
    // Body lines are copied a run at a time: from m_runStart in the buffer up to the line being
    // read, cut at each stuffing dot.
    qsizetype m_runStart = 0;
    bool m_inHeader = true;         // no blank line ending the header block yet
    bool m_lastEndedCrLf = false;   // the body's last line ended with CR LF
    bool m_anyLine = false;         // the body has a line
    Reply m_partial;
};
