// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <deque>
#include <optional>
#include <vector>

namespace imapdetail {
// A response's values in preorder, 8 bytes each, over one byte array per response: a scalar
// holds the offset of its bytes and its length, a list how many tokens follow inside it and
// how many values it has. The type takes the top three bits of the second word.
struct Token
{
    quint32 a = 0;
    quint32 b = 0;
};
constexpr int TypeShift = 29;
constexpr quint32 SizeMask = (quint32(1) << TypeShift) - 1;
} // namespace imapdetail

// What stopped the parsing of a response (see ImapResponseParser::problem()).
enum class ImapProblem : quint8 {
    None,
    NotImap,     // bytes that are no IMAP response (problemLine() holds their line)
    EndlessLine, // a line longer than the line limit, outside literals
    TooLong,     // a response past its cap, or a literal announcing more
    TooDeep,     // lists nested past the depth limit
    TooMany,     // more values in one response than the limit
    BadNumber,   // a message number past the limit (problemLine() holds its line)
};

// One value of an IMAP response: an atom (numbers and flags are atoms, and so is a fetch item
// such as "BODY[HEADER.FIELDS (FROM)]<0>", section included), a string (quoted or literal),
// NIL or a parenthesised list. A view: valid while the response it came from lives.
class ImapValue
{
public:
    enum class Type : quint8 { Invalid, Atom, String, Nil, List };

    ImapValue() = default;

    Type type() const { return m_t ? Type(m_t->b >> imapdetail::TypeShift) : Type::Invalid; }
    bool isValid() const { return m_t; }
    bool isAtom() const { return type() == Type::Atom; }
    bool isString() const { return type() == Type::String; }
    bool isNil() const { return type() == Type::Nil; }
    bool isList() const { return type() == Type::List; }

    // An atom's text or a string's bytes; empty for NIL and lists.
    QByteArrayView bytes() const;
    QByteArray toByteArray() const { return bytes().toByteArray(); }
    // Whether this is the given atom; atoms compare without case, as IMAP has them.
    bool is(QByteArrayView atom) const;
    // An atom of decimal digits within 32 bits (UIDs, sizes, counts).
    std::optional<quint32> toNumber() const;

    // A list's values (none for anything else).
    qsizetype count() const;
    ImapValue at(qsizetype i) const; // invalid past the end
    // In a list of names and values (FETCH, STATUS, ESEARCH, a body's parameters): the value
    // after the name, an atom or a string, found without regard to case.
    ImapValue find(QByteArrayView name) const;

    class Iterator
    {
    public:
        ImapValue operator*() const { return ImapValue(m_t, m_data); }
        Iterator &operator++();
        bool operator==(const Iterator &o) const { return m_t == o.m_t; }
        bool operator!=(const Iterator &o) const { return m_t != o.m_t; }

    private:
        friend class ImapValue;
        Iterator(const imapdetail::Token *t, const char *data) : m_t(t), m_data(data) {}
        const imapdetail::Token *m_t;
        const char *m_data;
    };
    Iterator begin() const;
    Iterator end() const;

private:
    friend class ImapResponse;
    ImapValue(const imapdetail::Token *t, const char *data) : m_t(t), m_data(data) {}

    const imapdetail::Token *m_t = nullptr;
    const char *m_data = nullptr;
};

// One complete server response (RFC 3501 section 7): "* …" untagged, "tag …" tagged (OK, NO
// or BAD) or "+ …" a continuation request.
class ImapResponse
{
public:
    enum class Kind : quint8 { Untagged, Tagged, Continuation };
    enum class Status : quint8 { None, Ok, No, Bad, PreAuth, Bye };

    Kind kind() const { return m_kind; }
    QByteArrayView tag() const { return slice(m_tag); }
    // OK, NO, BAD, PREAUTH or BYE; None for data and continuations.
    Status status() const { return m_status; }
    // The message number of "* 23 EXISTS", "* 4 EXPUNGE", "* 12 FETCH (…)".
    std::optional<quint32> number() const;
    // The response's word as received: "EXISTS", "FETCH", "CAPABILITY", "LIST", "OK"…
    QByteArrayView name() const { return slice(m_name); }
    bool is(QByteArrayView name) const;

    // Data responses: the values after the name, as one list.
    ImapValue values() const;
    // Status responses: the response code in brackets as a list, its name first
    // ([UIDVALIDITY 3857529045], [COPYUID 38505 304,319:320 3956:3958], [ALERT]); invalid without.
    ImapValue code() const;
    // Status responses: the human-readable text after the code; continuations: all after "+ ".
    QByteArrayView text() const { return slice(m_text); }
    // FETCH: the item's value, by its name as the client asked for it ("UID", "RFC822.SIZE",
    // "BODY[HEADER.FIELDS (FROM SUBJECT)]"); invalid when absent.
    ImapValue fetchItem(QByteArrayView item) const;

    // The response on one line, strings quoted with C escapes, status text after "|": for
    // logs and tests.
    QByteArray dump() const;
    // The bytes the response took on the wire, literals and line ends included.
    qsizetype receivedBytes() const { return m_received; }
    // A data response passed over for going past the limits (Limits::skipBytes): the limit it
    // passed; its number and name are kept, none of its values. None for a response read whole.
    ImapProblem skipped() const { return m_skipped; }

private:
    friend class ImapResponseParser;
    struct Slice
    {
        quint32 offset = 0;
        quint32 size = 0;
    };
    QByteArrayView slice(Slice s) const { return QByteArrayView(m_data.constData() + s.offset, s.size); }

    QByteArray m_data;                    // bytes of every value, tag, name and text
    QList<imapdetail::Token> m_tokens;    // [0] the values; the code's list after it
    Slice m_tag, m_name, m_text;
    qint32 m_codeAt = -1;
    quint32 m_number = 0;
    quint32 m_received = 0;
    bool m_hasNumber = false;
    Kind m_kind = Kind::Untagged;
    Status m_status = Status::None;
    ImapProblem m_skipped = ImapProblem::None;
};

// The framing and values of IMAP4rev1 server responses: atoms, numbers, quoted strings,
// literals ({n} and {n+}), NIL, nested lists, response codes and text. Bytes go in as they
// come, in any chunking, each looked at once; the same responses (then the same problem, if
// any) come out whatever the chunking. Every response is bounded by the limits, judged at the
// byte that passes them, so no response costs more than a few times its size in memory.
class ImapResponseParser
{
public:
    using Problem = ImapProblem;

    struct Limits
    {
        // A response as received: literals, line ends and all.
        qsizetype responseBytes = 1024 * 1024;
        // One line of a response outside its literals, line end included; a literal ends one.
        qsizetype lineBytes = 256 * 1024;
        int depth = 64;             // lists nested, a response code counting as one
        qsizetype values = 100000;  // values of one response, lists included
        quint32 messages = 1000000; // a message number ("* n EXISTS", "* n FETCH")
        // An untagged data response ("* 12 FETCH (…)") past the line, cap, depth or value limit
        // is passed over rather than stopping the parsing, when it takes no more than this many
        // bytes in all: its literals are framed by their sizes and nothing of it is kept, so the
        // responses after it are read as usual. 0: never.
        qsizetype skipBytes = 0;
    };
    static constexpr qsizetype MaxResponseBytes = imapdetail::SizeMask;
    static constexpr qsizetype MaxProblemLine = 256;

    ImapResponseParser() = default;
    explicit ImapResponseParser(const Limits &limits) { setLimits(limits); }

    // Take effect at the next byte, for the response in progress and those after it.
    void setLimits(const Limits &limits);
    const Limits &limits() const { return m_limits; }
    // The client knows which command is outstanding: a header fetch, a whole message.
    void setResponseCap(qsizetype bytes);

    void feed(QByteArrayView bytes);

    // The next complete response; false while more bytes are needed or when a problem stopped
    // the parsing (responses completed before the problem still come out first).
    bool next(ImapResponse &out);

    Problem problem() const { return m_problem; }
    // The line where the problem arose, up to MaxProblemLine bytes, without its line end:
    // from its start (or the end of a literal) to the byte at fault, then completed by the
    // bytes fed after the problem.
    const QByteArray &problemLine() const { return m_problemLine; }
    // Whether bytes of an incomplete response are held.
    bool inResponse() const { return m_problem == Problem::None && m_responseBytes > 0; }

    // value as a command argument (astring): an atom when it can be one (brackets aside), a
    // quoted string when every byte is printable ASCII other than a quote or backslash, else a
    // literal "{n}\r\n" and the bytes ("{n+}\r\n" with nonSynchronizing, for LITERAL+ servers).
    // A synchronising literal's bytes (after its first CRLF) wait for the server's "+".
    static QByteArray astring(QByteArrayView value, bool nonSynchronizing = false);
    // A mailbox name as a user reads it: modified UTF-7 (RFC 3501, 5.1.3) decoded, "Ind&AOk-sirables"
    // read "Indésirables". A name that is no valid modified UTF-7 is read as UTF-8, as a server
    // that accepts UTF-8 names may send it. Commands keep the name as the server sent it.
    static QString mailboxName(QByteArrayView name);

private:
    enum class State : quint8 {
        LineStart, AfterStar, AfterPlus, Tag, StatusWord, UntaggedFirst, MessageNumber, NameFirst,
        Name, AfterStatus, AfterCode, Text, Between, Atom, Bracket, Quoted, QuotedEscape,
        LiteralSize, LiteralClose, LiteralCR, LiteralLF, LiteralBody, LineCR,
    };

    // Where a response being passed over stands: plain bytes, a line end, a literal's size
    // ("{12}" or "{12+}" before a line end), its line end, its bytes.
    enum class Skip : quint8 { Line, LineCR, Size, Close, LiteralCR, LiteralLF, Literal };

    qsizetype step(const char *p, const char *end);
    qsizetype skipStep(const char *p, const char *end);
    qsizetype values(const char *p, const char *end);
    bool take(const char *p, qsizetype n, qsizetype *used = nullptr);
    bool startSkip(Problem problem);
    bool skipCount(qsizetype n);
    bool openValue(ImapValue::Type type, bool code = false);
    void closeValue();
    void closeList();
    void startWord(State state);
    void finishWord(ImapResponse::Slice &slice);
    bool classifyStatus();
    void startLiteralBody(qsizetype available);
    void lineEnd(char c, bool allowed);
    void complete();
    void fail(Problem problem, bool showLine = false);
    void collectProblemLine(const char *p, const char *end);

    Limits m_limits;
    std::deque<ImapResponse> m_ready;
    Problem m_problem = Problem::None;
    QByteArray m_problemLine;
    bool m_collecting = false; // the problem line still grows up to its end

    ImapResponse m_cur;
    State m_state = State::LineStart;
    std::vector<quint32> m_open;  // tokens of the lists open, innermost last
    bool m_spaced = false;        // a value may start here
    bool m_inCode = false;
    quint32 m_valueAt = 0;        // the atom or string in progress
    quint32 m_wordStart = 0;      // where the tag, name or text in progress starts in m_data
    quint64 m_number = 0;         // message number or literal size in progress
    int m_digits = 0;
    qsizetype m_literalLeft = 0;
    qsizetype m_responseBytes = 0;
    qsizetype m_lineBytes = 0;
    char m_head[MaxProblemLine];  // the line's first bytes, kept for a problem
    int m_headSize = 0;
    char m_lastByte = 0;          // the last byte that changed the state
    Problem m_skipping = Problem::None; // the limit the response being passed over went past
    Skip m_skip = Skip::Line;
    qsizetype m_tokensHint = 0; // of the last response read
    qsizetype m_dataHint = 0;
};
