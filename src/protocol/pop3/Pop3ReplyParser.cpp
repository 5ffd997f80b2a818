// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/pop3/Pop3ReplyParser.h"

#include <algorithm>
#include <cstring>

namespace {

// Whether a line (its end included) starts as a POP3 status line.
bool startsWithStatus(const char *line, qsizetype length)
{
    const auto after = [&](qsizetype n) {
        return length == n || line[n] == ' ' || line[n] == '\r' || line[n] == '\n';
    };
    if (length >= 3 && std::memcmp(line, "+OK", 3) == 0)
        return after(3);
    return length >= 4 && std::memcmp(line, "-ERR", 4) == 0 && after(4);
}

} // namespace

void Pop3ReplyParser::expect(bool multiLine, qsizetype maxBody)
{
    m_owed.push_back({multiLine, maxBody});
}

void Pop3ReplyParser::feed(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    std::memcpy(reserve(bytes.size()), bytes.data(), size_t(bytes.size()));
    commit(bytes.size());
}

char *Pop3ReplyParser::reserve(qsizetype n)
{
    if (m_problem != Problem::None) {
        // Nothing is parsed any more: the bytes are taken and dropped.
        m_buf.resize(n);
        m_filled = 0;
        return m_buf.data();
    }
    // The buffer may move: the body read so far is copied out first.
    if (m_inBody)
        flushRun(m_pos);
    if (m_pos == m_filled) {
        m_filled = m_searchFrom = m_pos = 0;
    } else if (m_pos >= 64 * 1024 && m_pos * 2 >= m_filled) {
        std::memmove(m_buf.data(), m_buf.constData() + m_pos, size_t(m_filled - m_pos));
        m_filled -= m_pos;
        m_searchFrom -= m_pos;
        m_pos = 0;
    }
    m_runStart = m_pos;
    if (m_buf.size() < m_filled + n)
        m_buf.resize(std::max(m_filled + n, 2 * m_buf.size()));
    return m_buf.data() + m_filled;
}

void Pop3ReplyParser::commit(qsizetype n)
{
    if (m_problem != Problem::None || n <= 0)
        return;
    m_filled += n;
    parse();
}

bool Pop3ReplyParser::next(Reply &out)
{
    if (m_ready.empty())
        return false;
    out = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

void Pop3ReplyParser::stop(Problem problem)
{
    m_problem = problem;
    m_partial = Reply();
}

qsizetype Pop3ReplyParser::lineEnd() const
{
    const char *from = m_buf.constData() + m_searchFrom;
    const void *nl = std::memchr(from, '\n', size_t(m_filled - m_searchFrom));
    return nl ? static_cast<const char *>(nl) - m_buf.constData() : -1;
}

void Pop3ReplyParser::parse()
{
    while (m_problem == Problem::None && m_pos < m_filled) {
        if (m_owed.empty())
            return stop(Problem::Stray);
        if (!parseOne())
            return;
    }
}

// Takes one reply off the buffer; false when more bytes are needed or a problem was found.
// Limits are judged at the byte where they are passed, so the outcome does not depend on how
// the bytes were cut.
bool Pop3ReplyParser::parseOne()
{
    const Owed owed = m_owed.front();
    if (!m_inBody) {
        const qsizetype nl = lineEnd();
        const qsizetype length = (nl < 0 ? m_filled : nl) - m_pos;
        if (length > MaxStatusLine) {
            stop(Problem::EndlessLine);
            return false;
        }
        if (nl < 0) {
            m_searchFrom = m_filled;
            return false;
        }
        // Read in place: most status lines of a pass are a bare "+OK", nothing to copy.
        QByteArrayView line(m_buf.constData() + m_pos, length);
        if (line.endsWith('\r'))
            line.chop(1);
        m_pos = m_searchFrom = nl + 1;
        Reply r;
        if (line.startsWith("+OK")) {
            r.ok = true;
            r.status = line.sliced(3).trimmed().toByteArray();
        } else if (line.startsWith("-ERR")) {
            r.status = line.sliced(4).trimmed().toByteArray();
        } else {
            m_problemLine = line.toByteArray();
            stop(Problem::NotPop3);
            return false;
        }
        if (!owed.multiLine || !r.ok) {
            m_ready.push_back(std::move(r));
            m_owed.pop_front();
            return true;
        }
        m_partial = std::move(r);
        m_inBody = true;
        m_bodyBytes = 0;
        m_runStart = m_pos;
        m_inHeader = true;
        m_lastEndedCrLf = false;
        m_anyLine = false;
    }
    for (;;) {
        const qsizetype nl = lineEnd();
        const char *line = m_buf.constData() + m_pos;
        qsizetype have = (nl < 0 ? m_filled : nl + 1) - m_pos; // line end included
        const bool dot = have > 0 && line[0] == '.';
        if (nl >= 0 && dot && (have == 2 || (have == 3 && line[1] == '\r'))) {
            flushRun(m_pos);
            if (m_inHeader)
                m_partial.headerEnd = m_partial.body.size();
            m_pos = m_searchFrom = nl + 1;
            m_inBody = false;
            m_ready.push_back(std::move(m_partial));
            m_partial = Reply();
            m_owed.pop_front();
            return true;
        }
        if (nl < 0 && (have == 0 || (dot && (have == 1 || (have == 2 && line[1] == '\r'))))) {
            m_searchFrom = m_filled; // may still be the terminating line
            return false;
        }
        // A body line: every byte counts against the reply's cap (as received, line end and
        // stuffing dot included), its text against the line limit; the first passed decides.
        const qsizetype capPassedAt = owed.maxBody - m_bodyBytes + 1;
        const qsizetype text = nl < 0 ? have : have - 1;
        const bool tooLong = capPassedAt <= have;
        const bool endless = text > MaxBodyLine;
        if (tooLong && (!endless || capPassedAt <= MaxBodyLine + 1)) {
            stop(Problem::TooLong);
            return false;
        }
        if (endless) {
            stop(Problem::EndlessLine);
            return false;
        }
        if (nl < 0) {
            m_searchFrom = m_filled;
            return false;
        }
        m_pos = m_searchFrom = nl + 1;
        m_bodyBytes += have;
        if (dot) {
            // The stuffing dot is left out of the copy.
            flushRun(line - m_buf.constData());
            m_runStart = line + 1 - m_buf.constData();
            ++line;
            --have;
        }
        bodyLine(line, have);
    }
}

void Pop3ReplyParser::flushRun(qsizetype end)
{
    if (end > m_runStart)
        m_partial.body.append(m_buf.constData() + m_runStart, end - m_runStart);
    m_runStart = end;
}

// Notes what a dot-unstuffed body line, its end included, tells of the mail; the body's offset
// of the line is what the body has flushed plus what the run holds.
void Pop3ReplyParser::bodyLine(const char *line, qsizetype length)
{
    const bool first = !m_anyLine;
    m_anyLine = true;
    const bool endsCrLf = length >= 2 && line[length - 2] == '\r';
    const bool blank = length == 1 || (length == 2 && endsCrLf);
    if (m_inHeader) {
        if (first)
            m_partial.statusFirst = startsWithStatus(line, length);
        if (blank && (first || length == 1 || m_lastEndedCrLf)) {
            m_inHeader = false;
            m_partial.headerEnd = m_partial.body.size() + (line + length - m_buf.constData() - m_runStart);
        }
    } else if (!m_partial.statusAfterHeader) {
        m_partial.statusAfterHeader = startsWithStatus(line, length);
    }
    m_lastEndedCrLf = endsCrLf;
}
