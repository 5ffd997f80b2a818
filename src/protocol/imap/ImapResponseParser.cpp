// SPDX-License-Identifier: GPL-3.0-or-later
// One state machine over the bytes, its passing over of an oversized response included: split,
// its states would have to be shared across files.
#include "protocol/imap/ImapResponseParser.h"

#include <algorithm>
#include <array>
#include <cstring>

using imapdetail::SizeMask;
using imapdetail::Token;
using imapdetail::TypeShift;
using Type = ImapValue::Type;

namespace {

// Bytes that may stand in an atom, a tag or a response's name. Looser than the grammar
// ("%", "*", "\" and 8-bit bytes pass) so that flags, wildcards and odd mailbox names read
// as the servers send them; "[" and "]" are told apart by where they stand.
constexpr std::array<bool, 256> atomChars = [] {
    std::array<bool, 256> t{};
    for (int c = 0x21; c < 256; ++c)
        t[c] = c != 0x7F && c != '(' && c != ')' && c != '{' && c != '"';
    return t;
}();

inline bool isAtomChar(char c)
{
    return atomChars[uchar(c)];
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

inline Type typeOf(const Token *t)
{
    return Type(t->b >> TypeShift);
}

void dumpValue(QByteArray &out, ImapValue v)
{
    switch (v.type()) {
    case Type::Invalid:
        break;
    case Type::Atom:
        out += v.bytes();
        break;
    case Type::Nil:
        out += "NIL";
        break;
    case Type::String:
        out += '"';
        for (const char c : v.bytes()) {
            if (c == '"' || c == '\\')
                out += '\\';
            if (c == '\r')
                out += "\\r";
            else if (c == '\n')
                out += "\\n";
            else if (uchar(c) < 0x20 || uchar(c) >= 0x7F)
                out += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
        out += '"';
        break;
    case Type::List: {
        out += '(';
        bool first = true;
        for (const ImapValue child : v) {
            if (!first)
                out += ' ';
            first = false;
            dumpValue(out, child);
        }
        out += ')';
        break;
    }
    }
}

} // namespace

QByteArrayView ImapValue::bytes() const
{
    const Type t = type();
    if (t != Type::Atom && t != Type::String)
        return {};
    return QByteArrayView(m_data + m_t->a, m_t->b & SizeMask);
}

bool ImapValue::is(QByteArrayView atom) const
{
    return isAtom() && bytes().compare(atom, Qt::CaseInsensitive) == 0;
}

std::optional<quint32> ImapValue::toNumber() const
{
    const QByteArrayView b = bytes();
    if (!isAtom() || b.isEmpty() || b.size() > 10)
        return std::nullopt;
    quint64 n = 0;
    for (const char c : b) {
        if (!isDigit(c))
            return std::nullopt;
        n = n * 10 + quint64(c - '0');
    }
    if (n > 0xFFFFFFFFu)
        return std::nullopt;
    return quint32(n);
}

qsizetype ImapValue::count() const
{
    return isList() ? qsizetype(m_t->b & SizeMask) : 0;
}

ImapValue ImapValue::at(qsizetype i) const
{
    if (i < 0 || i >= count())
        return {};
    Iterator it = begin();
    while (i-- > 0)
        ++it;
    return *it;
}

ImapValue ImapValue::find(QByteArrayView name) const
{
    for (Iterator it = begin(); it != end(); ++it) {
        const ImapValue key = *it;
        if (++it == end())
            break;
        if ((key.isAtom() || key.isString()) && key.bytes().compare(name, Qt::CaseInsensitive) == 0)
            return *it;
    }
    return {};
}

ImapValue::Iterator &ImapValue::Iterator::operator++()
{
    m_t += 1 + (typeOf(m_t) == Type::List ? m_t->a : 0);
    return *this;
}

ImapValue::Iterator ImapValue::begin() const
{
    return Iterator(isList() ? m_t + 1 : m_t, m_data);
}

ImapValue::Iterator ImapValue::end() const
{
    return Iterator(isList() ? m_t + 1 + m_t->a : m_t, m_data);
}

std::optional<quint32> ImapResponse::number() const
{
    return m_hasNumber ? std::optional<quint32>(m_number) : std::nullopt;
}

bool ImapResponse::is(QByteArrayView name) const
{
    return this->name().compare(name, Qt::CaseInsensitive) == 0;
}

ImapValue ImapResponse::values() const
{
    return m_tokens.isEmpty() ? ImapValue() : ImapValue(m_tokens.constData(), m_data.constData());
}

ImapValue ImapResponse::code() const
{
    return m_codeAt < 0 ? ImapValue() : ImapValue(m_tokens.constData() + m_codeAt, m_data.constData());
}

ImapValue ImapResponse::fetchItem(QByteArrayView item) const
{
    return is("FETCH") ? values().at(0).find(item) : ImapValue();
}

QByteArray ImapResponse::dump() const
{
    QByteArray out = m_kind == Kind::Untagged ? "*" : m_kind == Kind::Continuation ? "+" : tag().toByteArray();
    if (m_hasNumber)
        out += ' ' + QByteArray::number(m_number);
    if (m_kind != Kind::Continuation)
        out += ' ' + name().toByteArray();
    for (const ImapValue v : values()) {
        out += ' ';
        dumpValue(out, v);
    }
    if (m_codeAt >= 0) {
        out += " [";
        bool first = true;
        for (const ImapValue v : code()) {
            if (!first)
                out += ' ';
            first = false;
            dumpValue(out, v);
        }
        out += ']';
    }
    if (m_status != Status::None || m_kind == Kind::Continuation)
        out += " |" + text().toByteArray();
    if (m_skipped != ImapProblem::None)
        out += " <skipped " + QByteArray::number(int(m_skipped)) + '>';
    return out;
}

void ImapResponseParser::setLimits(const Limits &limits)
{
    m_limits = limits;
    setResponseCap(limits.responseBytes);
    m_limits.lineBytes = std::max<qsizetype>(m_limits.lineBytes, 0);
    m_limits.values = std::clamp<qsizetype>(m_limits.values, 0, SizeMask);
    m_limits.depth = std::max(m_limits.depth, 0);
    m_limits.skipBytes = std::clamp<qsizetype>(m_limits.skipBytes, 0, MaxResponseBytes);
}

void ImapResponseParser::setResponseCap(qsizetype bytes)
{
    m_limits.responseBytes = std::clamp<qsizetype>(bytes, 0, MaxResponseBytes);
}

void ImapResponseParser::feed(QByteArrayView bytes)
{
    const char *p = bytes.data();
    const char *const end = p + bytes.size();
    while (p < end && m_problem == Problem::None)
        p += step(p, end);
    if (m_problem != Problem::None)
        collectProblemLine(p, end);
}

bool ImapResponseParser::next(ImapResponse &out)
{
    if (m_ready.empty())
        return false;
    out = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

// Counts n bytes of the current line against the caps; the first cap they pass decides the
// problem, so a run of bytes ends as the same bytes one by one would. used: how many of them
// the caller goes past, all on a problem, unless the response is then passed over from the
// byte at fault.
bool ImapResponseParser::take(const char *p, qsizetype n, qsizetype *used)
{
    const qsizetype capLeft = m_limits.responseBytes - m_responseBytes;
    const qsizetype lineLeft = m_limits.lineBytes - m_lineBytes;
    if (n > capLeft || n > lineLeft) {
        fail(capLeft <= lineLeft ? Problem::TooLong : Problem::EndlessLine);
        if (const qsizetype fit = std::max<qsizetype>(0, std::min(capLeft, lineLeft)); m_skipping != Problem::None && skipCount(fit))
            n = fit;
        if (used)
            *used = n;
        return false;
    }
    m_responseBytes += n;
    m_lineBytes += n;
    if (m_headSize < MaxProblemLine && !(n == 1 && isLineEnd(*p))) {
        const qsizetype k = std::min<qsizetype>(n, MaxProblemLine - m_headSize);
        std::memcpy(m_head + m_headSize, p, size_t(k));
        m_headSize += int(k);
    }
    return true;
}

bool ImapResponseParser::openValue(Type type, bool code)
{
    QList<Token> &tokens = m_cur.m_tokens;
    if (tokens.size() > m_limits.values) {
        fail(Problem::TooMany);
        return false;
    }
    if (type == Type::List && qsizetype(m_open.size()) > m_limits.depth) {
        fail(Problem::TooDeep);
        return false;
    }
    if (!code)
        ++tokens[m_open.back()].b;
    const quint32 at = quint32(tokens.size());
    tokens.append(Token{type == Type::List ? 0u : quint32(m_cur.m_data.size()), quint32(type) << TypeShift});
    if (type == Type::List)
        m_open.push_back(at);
    else
        m_valueAt = at;
    if (code)
        m_cur.m_codeAt = qint32(at);
    return true;
}

void ImapResponseParser::closeValue()
{
    Token &t = m_cur.m_tokens[m_valueAt];
    const quint32 size = quint32(m_cur.m_data.size()) - t.a;
    if (typeOf(&t) == Type::Atom && size == 3 && qstrnicmp(m_cur.m_data.constData() + t.a, 3, "NIL", 3) == 0) {
        m_cur.m_data.chop(3);
        t = Token{t.a, quint32(Type::Nil) << TypeShift};
        return;
    }
    t.b |= size;
}

void ImapResponseParser::closeList()
{
    const quint32 at = m_open.back();
    m_open.pop_back();
    m_cur.m_tokens[at].a = quint32(m_cur.m_tokens.size()) - at - 1;
}

void ImapResponseParser::finishWord(ImapResponse::Slice &slice)
{
    slice = {m_wordStart, quint32(m_cur.m_data.size()) - m_wordStart};
}

void ImapResponseParser::startWord(State state)
{
    m_wordStart = quint32(m_cur.m_data.size());
    m_state = state;
}

// The status of a tagged response, or of an untagged one named OK, NO, BAD, PREAUTH or BYE.
bool ImapResponseParser::classifyStatus()
{
    using Status = ImapResponse::Status;
    static constexpr std::pair<const char *, Status> words[] = {
        {"OK", Status::Ok}, {"NO", Status::No}, {"BAD", Status::Bad}, {"PREAUTH", Status::PreAuth}, {"BYE", Status::Bye}};
    const bool tagged = m_cur.m_kind == ImapResponse::Kind::Tagged;
    for (const auto &[word, status] : words) {
        if (tagged && (status == Status::PreAuth || status == Status::Bye))
            break;
        if (m_cur.is(word)) {
            m_cur.m_status = status;
            return true;
        }
    }
    return false;
}

void ImapResponseParser::lineEnd(char c, bool allowed)
{
    if (!allowed)
        fail(Problem::NotImap, true);
    else if (c == '\n')
        complete();
    else
        m_state = State::LineCR;
}

void ImapResponseParser::startLiteralBody(qsizetype available)
{
    m_lineBytes = 0;
    m_headSize = 0;
    if (m_literalLeft == 0) {
        closeValue();
        m_spaced = false;
        m_state = State::Between;
        return;
    }
    // Room for what has come already; the rest grows as it comes, so a literal announced and
    // never sent costs nothing.
    m_cur.m_data.reserve(m_cur.m_data.size() + std::min(m_literalLeft, available));
    m_state = State::LiteralBody;
}

void ImapResponseParser::complete()
{
    if (m_cur.m_codeAt < 0)
        m_cur.m_tokens[0].a = quint32(m_cur.m_tokens.size()) - 1;
    m_cur.m_received = quint32(m_responseBytes);
    // The responses of a pass are alike: the next one starts with room for as much as this
    // one took, within bounds that keep a rare large one from weighing on the ones after it.
    m_tokensHint = std::min<qsizetype>(m_cur.m_tokens.size(), 4096);
    m_dataHint = std::min<qsizetype>(m_cur.m_data.size(), 64 * 1024);
    m_ready.push_back(std::move(m_cur));
    m_cur = ImapResponse();
    m_state = State::LineStart;
    m_responseBytes = m_lineBytes = 0;
    m_headSize = 0;
}

void ImapResponseParser::fail(Problem problem, bool showLine)
{
    if (startSkip(problem))
        return;
    m_problem = problem;
    if (showLine) {
        m_problemLine = QByteArray(m_head, m_headSize);
        // The line goes on unless its end was the byte at fault.
        m_collecting = m_headSize < MaxProblemLine && !isLineEnd(m_lastByte);
    }
    m_cur = ImapResponse();
}

void ImapResponseParser::collectProblemLine(const char *p, const char *end)
{
    while (m_collecting && p < end) {
        const char c = *p++;
        if (isLineEnd(c))
            m_collecting = false;
        else
            m_problemLine += c;
        if (m_problemLine.size() >= MaxProblemLine)
            m_collecting = false;
    }
}

// The bulk of a response's values read value by value rather than byte by byte through the
// states (a body structure is a hundred of them): spaces, lists opened and closed, and atoms
// and quoted strings whose ends are in the bytes. It stops, for step() to go on from that byte,
// at anything else: a literal, a section, an escape, a line end, a value the limits refuse or
// the bytes cut, a byte out of place. What it reads ends in the state the bytes one by one
// would leave. Returns how many bytes it used.
qsizetype ImapResponseParser::values(const char *p, const char *end)
{
    const char *const start = p;
    const char *const stop = p + std::min<qsizetype>(end - p, std::min(m_limits.responseBytes - m_responseBytes,
                                                                         m_limits.lineBytes - m_lineBytes));
    const QList<Token> &tokens = m_cur.m_tokens;
    while (p < stop) {
        const char c = *p;
        if (c == ' ') {
            m_spaced = true;
        } else if (c == '(') {
            if (!(m_spaced || m_lastByte == ')') || tokens.size() > m_limits.values
                || qsizetype(m_open.size()) > m_limits.depth)
                break;
            openValue(Type::List);
            m_spaced = true;
        } else if (c == ')') {
            if (m_open.size() < 2 || qint32(m_open.back()) == m_cur.m_codeAt)
                break;
            closeList();
            m_spaced = false;
        } else if (c == '"') {
            const char *q = p + 1;
            while (q < stop && *q != '"' && *q != '\\' && !isLineEnd(*q))
                ++q;
            if (!m_spaced || tokens.size() > m_limits.values || q == stop || *q != '"')
                break;
            openValue(Type::String);
            m_number = 0;
            m_digits = 0;
            m_skip = Skip::Line;
            m_cur.m_data.append(p + 1, q - p - 1);
            closeValue();
            m_spaced = false;
            p = q; // the closing quote
        } else if (isAtomChar(c)) {
            if (!m_spaced || (m_inCode && c == ']') || tokens.size() > m_limits.values)
                break;
            const char atomStop = m_inCode ? ']' : '[';
            const char *q = p;
            while (q < stop && isAtomChar(*q) && *q != atomStop)
                ++q;
            if (q == stop || (*q == '[' && !m_inCode))
                break;
            openValue(Type::Atom);
            m_cur.m_data.append(p, q - p);
            closeValue();
            m_spaced = false;
            p = q;
            continue; // an atom's bytes are a run: the last byte seen stays
        } else {
            break;
        }
        m_lastByte = c;
        ++p;
    }
    if (p > start)
        take(start, p - start);
    return p - start;
}

// Looks at the bytes from p on and returns how many it used: a run of bytes of one kind, one
// byte that changes the state, or none when a new state is to look at the same byte.
qsizetype ImapResponseParser::step(const char *p, const char *end)
{
    if (m_skipping != Problem::None)
        return skipStep(p, end);
    if (m_state == State::Between)
        if (const qsizetype used = values(p, end))
            return used;
    const char c = *p;

    // Runs: the bulk of a response, taken whole.
    const char *q = p;
    switch (m_state) {
    case State::Tag:
    case State::StatusWord:
    case State::Name:
        while (q < end && isAtomChar(*q))
            ++q;
        break;
    case State::Atom: {
        const char stop = m_inCode ? ']' : '[';
        while (q < end && isAtomChar(*q) && *q != stop)
            ++q;
        break;
    }
    case State::Bracket:
        while (q < end && *q != ']' && !isLineEnd(*q))
            ++q;
        break;
    case State::Quoted:
        while (q < end && *q != '"' && *q != '\\' && !isLineEnd(*q))
            ++q;
        break;
    case State::Text:
        while (q < end && !isLineEnd(*q))
            ++q;
        break;
    case State::LiteralBody: {
        const qsizetype n = std::min<qsizetype>(m_literalLeft, end - p);
        if (n > m_limits.responseBytes - m_responseBytes) {
            fail(Problem::TooLong);
            return m_skipping != Problem::None ? 0 : n;
        }
        m_responseBytes += n;
        m_cur.m_data.append(p, n);
        m_literalLeft -= n;
        if (m_literalLeft == 0) {
            closeValue();
            m_spaced = false;
            m_state = State::Between;
        }
        return n;
    }
    default:
        break;
    }
    if (q > p) {
        qsizetype used = q - p;
        if (take(p, used, &used))
            m_cur.m_data.append(p, used);
        return used;
    }

    // States that hand the byte to the next one.
    switch (m_state) {
    case State::LineStart:
        m_cur.m_tokens.reserve(std::max<qsizetype>(16, m_tokensHint));
        m_cur.m_data.reserve(m_dataHint);
        m_cur.m_tokens.append(Token{0, quint32(Type::List) << TypeShift});
        m_open.assign(1, 0);
        m_spaced = m_inCode = false;
        if (c != '*' && c != '+' && isAtomChar(c)) {
            m_cur.m_kind = ImapResponse::Kind::Tagged;
            startWord(State::Tag);
            return 0;
        }
        break;
    case State::UntaggedFirst:
        if (isDigit(c)) {
            m_number = 0;
            m_state = State::MessageNumber;
            return 0;
        }
        [[fallthrough]];
    case State::NameFirst:
        if (isAtomChar(c)) {
            startWord(State::Name);
            return 0;
        }
        break;
    case State::AfterStatus:
        if (c != '[') {
            startWord(State::Text);
            return 0;
        }
        break;
    case State::AfterCode:
        if (c != ' ' && !isLineEnd(c)) {
            startWord(State::Text);
            return 0;
        }
        break;
    case State::Atom:
        if (c != '[' || m_inCode) {
            closeValue();
            m_spaced = false;
            m_state = State::Between;
            return 0;
        }
        break;
    case State::Between:
        if (isAtomChar(c) && m_spaced && !(m_inCode && c == ']')) {
            if (openValue(Type::Atom))
                m_state = State::Atom;
            return 0;
        }
        break;
    default:
        break;
    }

    // One byte that changes the state.
    if (qsizetype used = 1; !take(p, 1, &used))
        return used;
    const char previous = m_lastByte;
    m_lastByte = c;
    switch (m_state) {
    case State::LineStart:
        if (c == '*')
            m_state = State::AfterStar;
        else if (c == '+') {
            m_cur.m_kind = ImapResponse::Kind::Continuation;
            m_state = State::AfterPlus;
        } else
            fail(Problem::NotImap, true);
        break;
    case State::AfterStar:
        if (c == ' ')
            m_state = State::UntaggedFirst;
        else
            fail(Problem::NotImap, true);
        break;
    case State::AfterPlus:
        if (c == ' ')
            startWord(State::Text);
        else
            lineEnd(c, isLineEnd(c));
        break;
    case State::Tag:
        if (c == ' ') {
            finishWord(m_cur.m_tag);
            startWord(State::StatusWord);
        } else
            fail(Problem::NotImap, true);
        break;
    case State::StatusWord:
    case State::Name:
        if (c != ' ' && !isLineEnd(c)) {
            fail(Problem::NotImap, true);
            break;
        }
        finishWord(m_cur.m_name);
        if (!(!m_cur.m_hasNumber && classifyStatus()) && m_state == State::StatusWord) {
            fail(Problem::NotImap, true);
            break;
        }
        if (c == ' ') {
            m_spaced = true;
            m_state = m_cur.m_status != ImapResponse::Status::None ? State::AfterStatus : State::Between;
        } else
            lineEnd(c, true);
        break;
    case State::MessageNumber:
        if (isDigit(c)) {
            m_number = m_number * 10 + quint64(c - '0');
            if (m_number > m_limits.messages)
                fail(Problem::BadNumber, true);
        } else if (c == ' ') {
            m_cur.m_number = quint32(m_number);
            m_cur.m_hasNumber = true;
            m_state = State::NameFirst;
        } else
            fail(Problem::NotImap, true);
        break;
    case State::AfterStatus: // "["
        if (openValue(Type::List, true)) {
            m_inCode = m_spaced = true;
            m_state = State::Between;
        }
        break;
    case State::AfterCode:
        if (c == ' ')
            startWord(State::Text);
        else
            lineEnd(c, true);
        break;
    case State::Text:
        finishWord(m_cur.m_text);
        lineEnd(c, true);
        break;
    case State::Between:
        // A value starts after a space or "(", and a list also right after a list closes
        // (the parts of a multipart body structure).
        if (c == '(' && (m_spaced || previous == ')')) {
            openValue(Type::List);
            m_spaced = true;
            break;
        }
        if (c == ' ') {
            m_spaced = true;
            break;
        }
        if (c == ')') {
            if (m_open.size() < 2 || qint32(m_open.back()) == m_cur.m_codeAt)
                fail(Problem::NotImap, true);
            else
                closeList();
        } else if (c == ']' && m_inCode && qint32(m_open.back()) == m_cur.m_codeAt) {
            closeList();
            m_inCode = false;
            m_state = State::AfterCode;
        } else if (isLineEnd(c)) {
            lineEnd(c, m_open.size() == 1 && !m_inCode);
        } else if (!m_spaced || (c != '"' && c != '{')) {
            fail(Problem::NotImap, true);
        } else if (openValue(Type::String) || m_skipping != Problem::None) {
            m_number = 0;
            m_digits = 0;
            m_state = c == '"' ? State::Quoted : State::LiteralSize;
            m_skip = m_state == State::LiteralSize ? Skip::Size : Skip::Line;
        }
        m_spaced = false;
        break;
    case State::Atom: // "[": a section, kept in the atom up to its "]"
        m_cur.m_data.append(c);
        m_state = State::Bracket;
        break;
    case State::Bracket:
        if (c == ']') {
            m_cur.m_data.append(c);
            m_state = State::Atom;
        } else
            fail(Problem::NotImap, true);
        break;
    case State::Quoted:
        if (c == '"') {
            closeValue();
            m_state = State::Between;
        } else if (c == '\\')
            m_state = State::QuotedEscape;
        else
            fail(Problem::NotImap, true);
        break;
    case State::QuotedEscape:
        if (c == '"' || c == '\\') {
            m_cur.m_data.append(c);
            m_state = State::Quoted;
        } else
            fail(Problem::NotImap, true);
        break;
    case State::LiteralSize:
        if (isDigit(c)) {
            m_number = m_number * 10 + quint64(c - '0');
            ++m_digits;
            if (m_number > quint64(m_limits.responseBytes))
                fail(Problem::TooLong);
            break;
        }
        if (m_digits > 0 && c == '+') {
            m_state = State::LiteralClose;
            break;
        }
        [[fallthrough]];
    case State::LiteralClose:
        if (c != '}' || m_digits == 0)
            fail(Problem::NotImap, true);
        else if (m_responseBytes + qsizetype(m_number) > m_limits.responseBytes) {
            fail(Problem::TooLong);
            m_skip = Skip::LiteralCR;
        } else {
            m_literalLeft = qsizetype(m_number);
            m_state = State::LiteralCR;
        }
        break;
    case State::LiteralCR:
        if (c == '\r')
            m_state = State::LiteralLF;
        else if (c == '\n')
            startLiteralBody(end - p - 1);
        else
            fail(Problem::NotImap, true);
        break;
    case State::LiteralLF:
        if (c == '\n')
            startLiteralBody(end - p - 1);
        else
            fail(Problem::NotImap, true);
        break;
    case State::LineCR:
        lineEnd(c, c == '\n');
        break;
    case State::UntaggedFirst:
    case State::NameFirst:
    case State::LiteralBody:
        fail(Problem::NotImap, true);
        break;
    }
    return 1;
}

// A data response past a limit is passed over when the client allows it: what it held so far
// is dropped but its number and name, and the bytes up to its end are only framed. Responses
// that could still run the session (status, continuation) are never passed over.
bool ImapResponseParser::startSkip(Problem problem)
{
    if (m_limits.skipBytes <= 0 || m_skipping != Problem::None || m_responseBytes > m_limits.skipBytes
        || m_cur.m_kind != ImapResponse::Kind::Untagged || m_cur.m_status != ImapResponse::Status::None
        || m_cur.m_name.size == 0
        || (problem != Problem::EndlessLine && problem != Problem::TooLong && problem != Problem::TooDeep
            && problem != Problem::TooMany))
        return false;
    ImapResponse passed;
    passed.m_data = m_cur.name().toByteArray();
    passed.m_name = {0, m_cur.m_name.size};
    passed.m_tokens = {Token{0, quint32(Type::List) << TypeShift}};
    passed.m_number = m_cur.m_number;
    passed.m_hasNumber = m_cur.m_hasNumber;
    passed.m_skipped = problem;
    m_cur = std::move(passed);
    m_skipping = problem;
    // From the byte at fault, in the state it found; the call sites that went past the byte
    // that opened a literal say so themselves.
    switch (m_state) {
    case State::LiteralSize:
        m_skip = Skip::Size;
        break;
    case State::LiteralClose:
        m_skip = Skip::Close;
        break;
    case State::LiteralCR:
        m_skip = Skip::LiteralCR;
        break;
    case State::LiteralLF:
        m_skip = Skip::LiteralLF;
        break;
    case State::LiteralBody:
        m_skip = Skip::Literal;
        break;
    case State::LineCR:
        m_skip = Skip::LineCR;
        break;
    default:
        m_skip = Skip::Line;
        break;
    }
    return true;
}

// Counts n bytes of a response passed over against skipBytes; past it, the limit it first went
// past stops the parsing.
bool ImapResponseParser::skipCount(qsizetype n)
{
    if (n <= m_limits.skipBytes - m_responseBytes) {
        m_responseBytes += n;
        return true;
    }
    m_problem = m_skipping;
    m_skipping = Problem::None;
    m_cur = ImapResponse();
    return false;
}

// As step() for a response passed over: only its line end and literals count. Literals are
// known by their size before a line end, which in a valid data response only they have.
qsizetype ImapResponseParser::skipStep(const char *p, const char *end)
{
    if (m_skip == Skip::Literal) {
        const qsizetype n = std::min<qsizetype>(m_literalLeft, end - p);
        if (skipCount(n) && (m_literalLeft -= n) == 0)
            m_skip = Skip::Line;
        return n;
    }
    if (m_skip == Skip::Line) {
        const char *q = p;
        while (q < end && *q != '{' && !isLineEnd(*q))
            ++q;
        if (q > p) {
            skipCount(q - p);
            return q - p;
        }
    }
    const char c = *p;
    // A byte that does not go on with what was begun is looked at again as plain.
    const auto plain = [this] {
        m_skip = Skip::Line;
        return 0;
    };
    switch (m_skip) {
    case Skip::Line:
        if (c == '{') {
            m_number = 0;
            m_digits = 0;
            m_skip = Skip::Size;
        } else {
            m_skip = c == '\r' ? Skip::LineCR : Skip::Line;
        }
        break;
    case Skip::LineCR:
        if (c != '\n')
            return plain();
        break;
    case Skip::Size:
        if (isDigit(c)) {
            // More than the response may take is no literal to wait for.
            m_number = std::min<quint64>(m_number * 10 + quint64(c - '0'), quint64(m_limits.skipBytes) + 1);
            ++m_digits;
        } else if (m_digits > 0 && (c == '+' || c == '}')) {
            m_skip = c == '+' ? Skip::Close : Skip::LiteralCR;
        } else {
            return plain();
        }
        break;
    case Skip::Close:
        if (c != '}')
            return plain();
        m_skip = Skip::LiteralCR;
        break;
    case Skip::LiteralCR:
    case Skip::LiteralLF:
        if (c == '\r' && m_skip == Skip::LiteralCR)
            m_skip = Skip::LiteralLF;
        else if (c == '\n')
            m_literalLeft = qsizetype(m_number);
        else
            return plain();
        break;
    case Skip::Literal:
        break;
    }
    if (!skipCount(1))
        return 1;
    if (c == '\n' && (m_skip == Skip::Line || m_skip == Skip::LineCR)) {
        m_skipping = Problem::None;
        m_skip = Skip::Line;
        complete();
    } else if (c == '\n') {
        m_skip = m_literalLeft > 0 ? Skip::Literal : Skip::Line;
    }
    return 1;
}

QByteArray ImapResponseParser::astring(QByteArrayView value, bool nonSynchronizing)
{
    bool atom = !value.isEmpty();
    bool quotable = true;
    for (const char c : value) {
        const uchar u = uchar(c);
        if (u < 0x20 || u > 0x7E || c == '"' || c == '\\') {
            quotable = false;
            break;
        }
        // Brackets may stand in an astring's atom, but quoted they cannot pass for a section.
        if (c == ' ' || c == '(' || c == ')' || c == '{' || c == '%' || c == '*' || c == '[' || c == ']')
            atom = false;
    }
    if (quotable)
        return atom ? value.toByteArray() : '"' + value.toByteArray() + '"';
    return '{' + QByteArray::number(value.size()) + (nonSynchronizing ? "+}\r\n" : "}\r\n") + value.toByteArray();
}

QString ImapResponseParser::mailboxName(QByteArrayView name)
{
    const QString asSent = QString::fromUtf8(name);
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (uchar(c) > 0x7E)
            return asSent;
        if (c != '&') {
            out += QLatin1Char(c);
            continue;
        }
        // "&-" is the ampersand; otherwise UTF-16 in base64 with ',' for '/', up to the '-'.
        const qsizetype end = name.indexOf('-', i + 1);
        if (end < 0)
            return asSent;
        if (end == i + 1)
            out += u'&';
        quint32 bits = 0;
        int held = 0;
        for (const char b : name.sliced(i + 1, end - i - 1)) {
            int v = -1;
            if (b >= 'A' && b <= 'Z')
                v = b - 'A';
            else if (b >= 'a' && b <= 'z')
                v = b - 'a' + 26;
            else if (b >= '0' && b <= '9')
                v = b - '0' + 52;
            else if (b == '+' || b == ',')
                v = b == '+' ? 62 : 63;
            if (v < 0)
                return asSent;
            bits = (bits << 6 | quint32(v)) & 0x3FFFFF;
            if ((held += 6) >= 16)
                out += QChar(char16_t(bits >> (held -= 16)));
        }
        // What is left over is padding: fewer than six bits, all zero.
        if (held >= 6 || (bits & ((1u << held) - 1)) != 0)
            return asSent;
        i = end;
    }
    return QStringView(out).isValidUtf16() ? out : asSent;
}
