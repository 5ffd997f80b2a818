// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/Pop3ReplyParser.h"

void Pop3ReplyParser::expect(bool multiLine, qsizetype maxBody)
{
    m_owed.push_back({multiLine, maxBody});
}

void Pop3ReplyParser::feed(QByteArrayView bytes)
{
    if (m_problem != Problem::None || bytes.isEmpty())
        return;
    if (m_pos == m_buf.size()) {
        m_buf.resize(0);
        m_searchFrom = m_pos = 0;
    } else if (m_pos >= 64 * 1024 && m_pos * 2 >= m_buf.size()) {
        m_buf.erase(m_buf.cbegin(), m_buf.cbegin() + m_pos);
        m_searchFrom -= m_pos;
        m_pos = 0;
    }
    m_buf.append(bytes.data(), bytes.size());
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

void Pop3ReplyParser::parse()
{
    while (m_problem == Problem::None && m_pos < m_buf.size()) {
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
        const qsizetype nl = m_buf.indexOf('\n', m_searchFrom);
        const qsizetype length = (nl < 0 ? m_buf.size() : nl) - m_pos;
        if (length > MaxStatusLine) {
            stop(Problem::EndlessLine);
            return false;
        }
        if (nl < 0) {
            m_searchFrom = m_buf.size();
            return false;
        }
        QByteArray line = m_buf.mid(m_pos, length);
        if (line.endsWith('\r'))
            line.chop(1);
        m_pos = m_searchFrom = nl + 1;
        Reply r;
        if (line.startsWith("+OK")) {
            r.ok = true;
            r.status = line.mid(3).trimmed();
        } else if (line.startsWith("-ERR")) {
            r.status = line.mid(4).trimmed();
        } else {
            m_problemLine = line;
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
    }
    for (;;) {
        const qsizetype nl = m_buf.indexOf('\n', m_searchFrom);
        const char *line = m_buf.constData() + m_pos;
        qsizetype have = (nl < 0 ? m_buf.size() : nl + 1) - m_pos; // line end included
        const bool dot = have > 0 && line[0] == '.';
        if (nl >= 0 && dot && (have == 2 || (have == 3 && line[1] == '\r'))) {
            m_pos = m_searchFrom = nl + 1;
            m_inBody = false;
            m_ready.push_back(std::move(m_partial));
            m_partial = Reply();
            m_owed.pop_front();
            return true;
        }
        if (nl < 0 && (have == 0 || (dot && (have == 1 || (have == 2 && line[1] == '\r'))))) {
            m_searchFrom = m_buf.size(); // may still be the terminating line
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
            m_searchFrom = m_buf.size();
            return false;
        }
        m_pos = m_searchFrom = nl + 1;
        m_bodyBytes += have;
        if (dot) {
            ++line;
            --have;
        }
        m_partial.body.append(line, have);
    }
}
