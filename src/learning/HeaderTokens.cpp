// SPDX-License-Identifier: GPL-3.0-or-later
// One reader over the bytes of a header block: its hash, byte classes, encoded-word decoding and
// the tokens of each field share the stack buffers and the cache of values met before, which
// keep it under a microsecond a header; split, they would cross file bounds on the hot path.
#include "learning/HeaderTokens.h"

#include <QtEndian>
#include <array>
#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <utility>
#include <string>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define PELICORDE_CLEAR_WIDE_REGISTERS 1
#endif

// The scan scores every row, so the tokens are read from the bytes as they are, into buffers on
// the stack, without building strings (under a microsecond for a common header). That is why
// encoded-words are decoded here to bytes, not to text by mailtext::headerText() or GMime: a
// word is compared as bytes, whatever its charset, and no allocation is made.
namespace learning {
namespace {

// ---- The hash (stored: never change it) ----

constexpr quint64 kMul = 0x9E3779B97F4A7C15ull;

constexpr quint64 fmix(quint64 h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 33;
    return h;
}

constexpr quint64 loadLittle(const char *p, std::size_t n)
{
    if (!std::is_constant_evaluated() && n == 8) {
        quint64 w;
        std::memcpy(&w, p, 8);
        return qFromLittleEndian(w);
    }
    quint64 w = 0;
    for (std::size_t i = 0; i < n; ++i)
        w |= quint64(static_cast<unsigned char>(p[i])) << (8 * i);
    return w;
}

// Eight bytes with their ASCII capitals made small, at once: a byte gets 0x20 added where it
// is from 'A' to 'Z' (the sums of each byte's low seven bits with 0x3f and 0x25 carry into its
// top bit from 'A' on, and past 'Z').
constexpr quint64 lower8(quint64 x)
{
    const quint64 low7 = x & 0x7f7f7f7f7f7f7f7full;
    const quint64 fromA = low7 + 0x3f3f3f3f3f3f3f3full;
    const quint64 pastZ = low7 + 0x2525252525252525ull;
    return x | (((fromA & ~pastZ & ~x) & 0x8080808080808080ull) >> 2);
}

// The last bytes of a value shorter than a word, as loadLittle(p, n) reads them, in two loads
// that overlap rather than a byte at a time.
inline quint64 loadShort(const char *p, std::size_t n)
{
    if (n >= 4) {
        quint32 lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + n - 4, 4);
        return qFromLittleEndian(lo) | (quint64(qFromLittleEndian(hi)) << (8 * (n - 4)));
    }
    if (n >= 2) {
        quint16 lo, hi;
        std::memcpy(&lo, p, 2);
        std::memcpy(&hi, p + n - 2, 2);
        return qFromLittleEndian(lo) | (quint64(qFromLittleEndian(hi)) << (8 * (n - 2)));
    }
    return static_cast<unsigned char>(p[0]);
}

constexpr quint64 hashStart(std::size_t n) { return (quint64(n) * kMul) ^ 0x2545F4914F6CDD1Dull; }

// hashOf()'s steps from the state h over the n bytes left at p, of a value of total bytes.
template <bool foldCase>
constexpr quint64 hashRest(quint64 h, const char *p, std::size_t n, std::size_t total)
{
    for (; n >= 8; p += 8, n -= 8) {
        const quint64 w = loadLittle(p, 8);
        h = (h ^ (foldCase ? lower8(w) : w)) * kMul;
        h ^= h >> 29;
    }
    if (n) {
        // The last bytes: after a whole word, the eight that end the value, shifted (one load).
        const quint64 w = std::is_constant_evaluated() ? loadLittle(p, n)
                          : total >= 8                 ? loadLittle(p + n - 8, 8) >> (8 * (8 - n))
                                                       : loadShort(p, n);
        h = (h ^ (foldCase ? lower8(w) : w)) * kMul;
        h ^= h >> 29;
    }
    return h;
}

// The hash of n bytes at p; with foldCase, ASCII letters count as small ones. Mixed enough for
// tokens, which tokenOf() mixes once more.
template <bool foldCase>
constexpr quint64 hashOf(const char *p, std::size_t n)
{
    return hashRest<foldCase>(hashStart(n), p, n, n);
}

constexpr quint64 key(std::string_view name) { return hashOf<true>(name.data(), name.size()); }

// The kinds of token: numbers stored with the counts, never reused.
enum Kind : quint8 {
    kHeader = 1,        // h: a field present, by its name in lower case
    kHeaderPair = 3,    // ho: two fields in a row (the order mailers write them in)
    kMissing = 4,       // h!: a field most mail has, missing
    kFromAddress = 10,  // fa: the sender's address
    kFromDomain = 11,   // fd: its domain
    kFromSite = 12,     // fr: the domain's registered part (example.co.uk of mail.example.co.uk)
    kFromLocal = 13,    // fl: the address's local part, digit runs written 9
    kFromName = 14,     // fn: a word of the sender's name
    kFromShape = 15,    // fs: the name or address written oddly
    kReplyTo = 20,      // rt: Reply-To's domain, and whether it is the sender's
    kReturnPath = 21,   // rp: the bounce address's domain, and whether it is the sender's
    kSenderField = 22,  // sd: Sender's domain
    kListId = 23,       // li: the mailing list
    kSubject = 30,      // s: a word of the subject
    kSubjectShape = 31, // ss: the subject's punctuation, capitals, length, encoding
    kRelaySite = 40,    // rr: a relay's registered domain, from the "from" part of Received
    kRelayHost = 41,    // rh: a relay's host name, digit runs written 9
    kRelayNet = 42,     // ri: a relay's address block (/24 and /16, or an IPv6 /48)
    kRelayShape = 43,   // rs: a relay without a name
    kMessageId = 50,    // mi: Message-ID's domain, the shape of its left part
    kMailer = 51,       // mx: the mailer (X-Mailer, User-Agent...)
    kContentType = 52,  // ct: type/subtype of the message
    kCharset = 53,      // cs: its charset
    kBoundary = 54,     // bd: the shape of its multipart boundary
    kEncoding = 55,     // te: transfer encoding, MIME version
    kPriority = 56,     // pr: priority and precedence fields
    kAuth = 60,         // ar: SPF, DKIM, DMARC verdicts of Authentication-Results, Received-SPF
    kDkim = 61,         // dk: the DKIM signing domain, and whether it is the sender's
    kSpamFlag = 62,     // xs: a spam flag a filter on the way set
    kRecipients = 70,   // to: how many recipients, a group, the sender writing to itself
    kDate = 71,         // dt: the Date's time zone
};

const char *kindName(Kind kind)
{
    switch (kind) {
    case kHeader: return "h";
    case kHeaderPair: return "ho";
    case kMissing: return "h!";
    case kFromAddress: return "fa";
    case kFromDomain: return "fd";
    case kFromSite: return "fr";
    case kFromLocal: return "fl";
    case kFromName: return "fn";
    case kFromShape: return "fs";
    case kReplyTo: return "rt";
    case kReturnPath: return "rp";
    case kSenderField: return "sd";
    case kListId: return "li";
    case kSubject: return "s";
    case kSubjectShape: return "ss";
    case kRelaySite: return "rr";
    case kRelayHost: return "rh";
    case kRelayNet: return "ri";
    case kRelayShape: return "rs";
    case kMessageId: return "mi";
    case kMailer: return "mx";
    case kContentType: return "ct";
    case kCharset: return "cs";
    case kBoundary: return "bd";
    case kEncoding: return "te";
    case kPriority: return "pr";
    case kAuth: return "ar";
    case kDkim: return "dk";
    case kSpamFlag: return "xs";
    case kRecipients: return "to";
    case kDate: return "dt";
    }
    return "?";
}

// The token of a value's hash (well mixed already) for a kind: one more multiplication.
Token tokenOf(Kind kind, quint64 valueHash)
{
    Token t = (valueHash ^ (quint64(kind) * 0xC2B2AE3D27D4EB4Full)) * kMul;
    t ^= t >> 32;
    return (t & 0x00FFFFFFFFFFFFFFull) | (quint64(kind) << 56); // never 0, which marks a free slot
}

// ---- Bytes ----

// Byte classes, looked up once per byte in the loops over values.
enum : quint16 {
    cDigit = 1, cAlpha = 2, cBlank = 4, cHigh = 8, cHostPunct = 16, cUpper = 32, cColon = 64, cDot = 128,
    cLower = 256, cMark = 512, // a small letter; '!', '$' or '%'
};

constexpr auto kClasses = [] {
    std::array<quint16, 256> t{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            t[c] |= cDigit;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            t[c] |= cAlpha;
        if (c >= 'A' && c <= 'Z')
            t[c] |= cUpper;
        if (c >= 'a' && c <= 'z')
            t[c] |= cLower;
        if (c == '!' || c == '$' || c == '%')
            t[c] |= cMark;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            t[c] |= cBlank;
        if (c >= 0x80)
            t[c] |= cHigh;
        if (c == '.' || c == '-' || c == '_')
            t[c] |= cHostPunct;
        if (c == '.')
            t[c] |= cDot;
        if (c == ':')
            t[c] |= cColon;
    }
    return t;
}();

constexpr quint16 classOf(char c) { return kClasses[static_cast<unsigned char>(c)]; }
constexpr char lower(char c) { return classOf(c) & cUpper ? char(c | 0x20) : c; }
constexpr bool isDigit(char c) { return classOf(c) & cDigit; }
constexpr bool isAlpha(char c) { return classOf(c) & cAlpha; }
constexpr bool isAlnum(char c) { return classOf(c) & (cDigit | cAlpha); }
constexpr bool isBlank(char c) { return classOf(c) & cBlank; }
// A byte of a word: ASCII letters and digits, and every byte of a non-ASCII character.
constexpr bool isWordByte(char c) { return classOf(c) & (cDigit | cAlpha | cHigh); }
// A byte of a host name or an address.
constexpr bool isHostByte(char c) { return classOf(c) & (cDigit | cAlpha | cHostPunct); }

// The first c (or d) of the n bytes at p, or nullptr: memchr, inlined and sixteen bytes at a
// time. The ranges searched are lines and values of tens of bytes, where the library's call and
// set-up cost more than the search.
inline const char *findByte(const char *p, char c, char d, std::size_t n)
{
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(c), second = _mm_set1_epi8(d);
    const auto matches = [&](const char *q) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q));
        return unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, first), _mm_cmpeq_epi8(bytes, second))));
    };
    const char *const e = p + n;
    for (const char *q = p; e - q >= 16; q += 16)
        if (const unsigned m = matches(q))
            return q + std::countr_zero(m);
    const std::size_t rest = n & 15;
    if (rest == 0)
        return nullptr;
    if (n >= 16) {
        // The last sixteen bytes, of which those not searched yet.
        const unsigned m = matches(e - 16) >> (16 - rest);
        return m ? e - rest + std::countr_zero(m) : nullptr;
    }
    for (const char *q = e - rest; q < e; ++q)
        if (*q == c || *q == d)
            return q;
    return nullptr;
#else
    const char *a = static_cast<const char *>(std::memchr(p, c, n));
    const char *b = c == d ? nullptr : static_cast<const char *>(std::memchr(p, d, a ? std::size_t(a - p) : n));
    return b ? b : a;
#endif
}

inline const char *findByte(const char *p, char c, std::size_t n) { return findByte(p, c, c, n); }

#if PELICORDE_CLEAR_WIDE_REGISTERS
__attribute__((target("avx"))) void zeroUpper() { _mm256_zeroupper(); }
#endif

// The upper halves of the vector registers may hold what wide (AVX) code of the library or of
// the process left there without clearing it, and a new thread starts with its parent's: then
// on many x86 processors every SSE instruction that follows pays for keeping them, which made
// a scan's scoring thread half as slow again. Clearing them costs a cycle a header.
inline void clearWideRegisters()
{
#if PELICORDE_CLEAR_WIDE_REGISTERS
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx)
        zeroUpper();
#endif
}

struct Span
{
    const char *b = nullptr;
    const char *e = nullptr;
    std::size_t size() const { return std::size_t(e - b); }
    bool empty() const { return b == e; }
};

Span trimmed(const char *b, const char *e)
{
    while (b < e && isBlank(*b))
        ++b;
    while (e > b && isBlank(e[-1]))
        --e;
    return {b, e};
}

Span trimmed(Span s) { return trimmed(s.b, s.e); }

bool equalsLower(Span s, std::string_view lowerWord)
{
    if (s.size() != lowerWord.size())
        return false;
    for (std::size_t i = 0; i < lowerWord.size(); ++i)
        if (lower(s.b[i]) != lowerWord[i])
            return false;
    return true;
}

// Where lowerWord starts in [b, e), letter case aside; e when nowhere.
const char *findLower(const char *b, const char *e, std::string_view lowerWord)
{
    const std::size_t n = lowerWord.size();
    for (const char *p = b; p + n <= e; ++p) {
        if (lower(*p) != lowerWord[0])
            continue;
        std::size_t i = 1;
        while (i < n && lower(p[i]) == lowerWord[i])
            ++i;
        if (i == n)
            return p;
    }
    return e;
}

// A small lower-case copy, kept to compare domains once the whole header is read.
struct Kept
{
    char bytes[96];
    int n = -1; // -1: not seen
    void set(Span s)
    {
        n = int(std::min<std::size_t>(s.size(), sizeof bytes));
        for (int i = 0; i < n; ++i)
            bytes[i] = lower(s.b[i]);
    }
    bool seen() const { return n >= 0; }
    bool operator==(const Kept &o) const { return n == o.n && std::memcmp(bytes, o.bytes, std::size_t(n)) == 0; }
};

// The tokens of field values met before, per thread: a mailbox's senders, recipients, mailers
// and types come again and again, and each value is then read once. Looked up by a hash of the
// field's name and value as written.
struct FieldMemo
{
    static constexpr int kEntries = 256;
    static constexpr int kTokens = 14; // a value that gives more is read each time
    struct Entry
    {
        quint64 key = 0;
        int count = 0;
        Token tokens[kTokens];
        // What the field says besides its tokens: an address and a domain, a count of recipients.
        Kept address, site;
        int recipients = 0;
        bool group = false;
    };
    Entry entries[kEntries];

    static FieldMemo &ofThisThread()
    {
        thread_local FieldMemo memo;
        return memo;
    }
};

// The registered part of a domain, near enough without the public suffix list: the last two
// labels, three under a country code whose second level is a generic one (co.uk, com.au).
Span siteOf(Span domain)
{
    while (!domain.empty() && domain.e[-1] == '.')
        --domain.e;
    const char *dots[3] = {nullptr, nullptr, nullptr};
    int found = 0;
    for (const char *p = domain.e; p > domain.b && found < 3;)
        if (*--p == '.')
            dots[found++] = p;
    if (found < 2)
        return domain;
    const Span tld{dots[0] + 1, domain.e};
    const Span second{dots[1] + 1, dots[0]};
    bool generic = false;
    if (tld.size() == 2)
        for (std::string_view g : {"co", "com", "net", "org", "gov", "edu", "ac", "or", "ne", "go", "gob", "mil", "nom",
                                   "ltd", "plc", "gv", "ad"})
            generic = generic || equalsLower(second, g);
    if (!generic)
        return {dots[1] + 1, domain.e};
    return {found == 3 ? dots[2] + 1 : domain.b, domain.e};
}

// The first address of an address field: within angle brackets, else the first word holding
// an '@' (with the name in parentheses after it, as old mailers wrote); its display name.
struct Mailbox
{
    Span address;
    Span name;
    bool bracketed = false;
};

Mailbox firstMailbox(Span v)
{
    Mailbox m;
    // Without quotes, commas or escapes before the first '<', that is the address's.
    const char *open = findByte(v.b, '<', v.size());
    if (open) {
        bool plain = true;
        for (const char *p = v.b; p < open && plain; ++p)
            plain = *p != '"' && *p != ',' && *p != '\\';
        if (plain) {
            const char *close = findByte(open, '>', std::size_t(v.e - open));
            m.address = trimmed(open + 1, close ? close : v.e);
            m.name = trimmed(v.b, open);
            m.bracketed = true;
            return m;
        }
    }
    bool quoted = false;
    for (const char *p = v.b; p < v.e; ++p) {
        if (*p == '"')
            quoted = !quoted;
        else if (*p == '\\' && quoted && p + 1 < v.e)
            ++p;
        else if (*p == '<' && !quoted) {
            const char *close = findByte(p, '>', std::size_t(v.e - p));
            m.address = trimmed(p + 1, close ? close : v.e);
            m.name = trimmed(v.b, p);
            m.bracketed = true;
            return m;
        } else if (*p == ',' && !quoted) {
            v.e = p; // only the first mailbox counts
            break;
        }
    }
    const char *at = findByte(v.b, '@', v.size());
    if (!at)
        return m;
    const char *b = at, *e = at;
    while (b > v.b && !isBlank(b[-1]) && b[-1] != '(' && b[-1] != ':' && b[-1] != '"')
        --b;
    while (e < v.e && !isBlank(*e) && *e != '(' && *e != ';')
        ++e;
    m.address = {b, e};
    const char *paren = findByte(e, '(', std::size_t(v.e - e));
    if (paren) {
        const char *close = findByte(paren, ')', std::size_t(v.e - paren));
        m.name = trimmed(paren + 1, close ? close : v.e);
    }
    return m;
}

Span domainOf(Span address)
{
    const char *at = nullptr;
    for (const char *p = address.b; p < address.e; ++p)
        if (*p == '@')
            at = p;
    if (!at)
        return {};
    Span d{at + 1, address.e};
    while (!d.empty() && !isHostByte(d.e[-1]))
        --d.e;
    return d;
}

// ---- Encoded-words (RFC 2047) ----

constexpr auto kBase64 = [] {
    std::array<qint8, 256> t{};
    t.fill(-1);
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[i])] = qint8(i);
    return t;
}();

int base64Value(char c) { return kBase64[static_cast<unsigned char>(c)]; }

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    c = lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The bytes of a header value with its encoded-words decoded (whatever their charset: the
// words are compared as bytes), blanks between two encoded-words dropped, into out.
struct Decoded
{
    char bytes[1024];
    std::size_t n = 0;
    Span charset;        // of the first encoded-word
    char encoding = 0;   // 'b' or 'q'
    bool raw8bit = false; // 8-bit bytes outside encoded-words
    void put(char c)
    {
        if (n < sizeof bytes)
            bytes[n++] = c;
    }
    Span span() const { return {bytes, bytes + n}; }
};

// Decodes the encoded-word at p (which starts "=?") into out; where it ends, or nullptr when
// it is not one.
const char *encodedWord(const char *p, const char *e, Decoded &out)
{
    const char *cs = p + 2;
    const char *q1 = cs;
    while (q1 < e && *q1 != '?' && !isBlank(*q1))
        ++q1;
    if (q1 + 3 > e || *q1 != '?' || q1[2] != '?')
        return nullptr;
    const char enc = lower(q1[1]);
    if (enc != 'b' && enc != 'q')
        return nullptr;
    const char *text = q1 + 3;
    const char *end = findByte(text, '?', std::size_t(e - text));
    if (!end || end + 1 >= e || end[1] != '=')
        return nullptr;
    for (const char *t = text; t < end; ++t)
        if (isBlank(*t))
            return nullptr;
    if (!out.encoding) {
        out.encoding = enc;
        out.charset = {cs, q1};
    }
    if (enc == 'b') {
        // Four letters make three bytes; the padding and what is not base64 end it.
        const std::size_t room = sizeof out.bytes - out.n;
        const char *t = text;
        char *o = out.bytes + out.n;
        char *const oEnd = o + (room / 3) * 3;
        for (; end - t >= 4 && o < oEnd; t += 4) {
            const int a = base64Value(t[0]), b = base64Value(t[1]), c = base64Value(t[2]), d = base64Value(t[3]);
            if ((a | b | c | d) < 0)
                break;
            const quint32 v = quint32(a) << 18 | quint32(b) << 12 | quint32(c) << 6 | quint32(d);
            *o++ = char(v >> 16);
            *o++ = char(v >> 8);
            *o++ = char(v);
        }
        out.n = std::size_t(o - out.bytes);
        quint32 acc = 0;
        int bits = 0;
        for (; t < end; ++t) {
            const int v = base64Value(*t);
            if (v < 0)
                continue;
            acc = (acc << 6) | quint32(v);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                out.put(char((acc >> bits) & 0xff));
            }
        }
    } else {
        for (const char *t = text; t < end; ++t) {
            if (*t == '_') {
                out.put(' ');
            } else if (*t == '=' && t + 2 < end + 1 && hexValue(t[1]) >= 0 && hexValue(t[2]) >= 0) {
                out.put(char(hexValue(t[1]) * 16 + hexValue(t[2])));
                t += 2;
            } else {
                out.put(*t);
            }
        }
    }
    return end + 2;
}

void decodeValue(Span v, Decoded &out);

// The text of a value: as written when it holds no encoded-word (most do), else decoded into d.
Span textOf(Span v, Decoded &d)
{
    if (v.empty() || !findByte(v.b, '=', v.size()))
        return v;
    decodeValue(v, d);
    return d.span();
}

void decodeValue(Span v, Decoded &out)
{
    const char *afterWord = nullptr; // the end of the last encoded-word, while only blanks follow it
    for (const char *p = v.b; p < v.e;) {
        if (p[0] == '=' && p + 1 < v.e && p[1] == '?') {
            if (const char *next = encodedWord(p, v.e, out)) {
                p = afterWord = next;
                continue;
            }
        }
        if (afterWord && isBlank(*p)) {
            const char *q = p;
            while (q < v.e && isBlank(*q))
                ++q;
            if (q + 1 < v.e && q[0] == '=' && q[1] == '?') {
                p = q; // blanks between two encoded-words are not text
                continue;
            }
        }
        afterWord = nullptr;
        if (static_cast<unsigned char>(*p) >= 0x80)
            out.raw8bit = true;
        out.put(isBlank(*p) ? ' ' : *p);
        ++p;
    }
}

// ---- Fields ----

// The fields a mail store or the receiving side adds: left out (see the header).
constexpr auto kReceivingSide = [] {
    constexpr std::string_view names[] = {
        "delivered-to", "x-original-to", "envelope-to", "x-envelope-to", "delivery-date", "status",
        "x-status", "x-keywords", "x-uid", "x-imap", "x-imapbase", "x-mozilla-status", "x-mozilla-status2",
        "x-mozilla-keys", "lines", "content-length", "x-gmail-labels", "x-gm-thrid"};
    std::array<quint64, std::size(names)> keys{};
    for (std::size_t i = 0; i < keys.size(); ++i)
        keys[i] = key(names[i]);
    return keys;
}();

// A bit for each of those names' top six hash bits: most names are told apart by one test.
constexpr quint64 kReceivingSideBits = [] {
    quint64 bits = 0;
    for (const quint64 k : kReceivingSide)
        bits |= quint64(1) << (k >> 58);
    return bits;
}();

bool receivingSide(quint64 name)
{
    return (kReceivingSideBits & (quint64(1) << (name >> 58)))
           && std::find(kReceivingSide.begin(), kReceivingSide.end(), name) != kReceivingSide.end();
}

// Calls f(nameBegin, nameEnd, value) for every field of the header block, its folds included
// in the value; stops at the blank line. A line that is neither a field nor a fold is skipped.
template <class F>
void forEachField(QByteArrayView header, F &&f)
{
    clearWideRegisters();
    const char *p = header.data();
    const char *const end = p + header.size();
    // The header's lines are asked for at once rather than one by one as the lines are read: a
    // scan's headers have left the cache by the time they are scored.
#if defined(__GNUC__) || defined(__clang__)
    for (qsizetype at = 64; at < std::min<qsizetype>(header.size(), 4096); at += 64)
        __builtin_prefetch(p + at);
#endif
    const char *nameB = nullptr, *nameE = nullptr, *valueB = nullptr;
    const auto flush = [&](const char *at) {
        if (nameB)
            f(nameB, nameE, Span{valueB, at});
        nameB = nullptr;
    };
    while (p < end) {
        if (*p == '\n' || (*p == '\r' && (p + 1 == end || p[1] == '\n')))
            break;
        if (*p == ' ' || *p == '\t') {
            const char *nl = findByte(p, '\n', std::size_t(end - p));
            p = nl ? nl + 1 : end;
            continue;
        }
        flush(p);
        // The line's colon and its end in one search.
        const char *c = findByte(p, ':', '\n', std::size_t(end - p));
        const char *nl = c;
        if (c && *c == ':')
            nl = findByte(c + 1, '\n', std::size_t(end - c - 1));
        else
            c = nullptr;
        const char *lineEnd = nl ? nl + 1 : end;
        // A field's name: printable ASCII up to the colon, checked eight bytes at a time.
        bool named = c && c > p;
        const char *q = p;
        for (; named && c - q >= 8; q += 8) {
            const quint64 w = loadLittle(q, 8);
            named = !(((w - 0x2121212121212121ull) | w) & 0x8080808080808080ull); // no byte below '!' or past 127
        }
        for (; named && q < c; ++q)
            named = static_cast<unsigned char>(*q) > ' ' && static_cast<unsigned char>(*q) < 127;
        if (named) {
            nameB = p;
            nameE = c;
            valueB = c + 1;
        }
        p = lineEnd;
    }
    flush(p);
}

// ---- The id ----

// The bytes headerIdValue() hashes, written as the fields are met: each field kept as
// "name:value\n", its value trimmed and without CRs. Written in runs between CRs into a buffer
// the caller reuses, sized once for the header: a byte at a time into a string cost more than
// the tokens themselves.
class IdBytes
{
public:
    IdBytes(QByteArrayView header, std::string &buffer) : m_headerEnd(header.data() + header.size())
    {
        // Each field's name, colon and value are bytes of the header of its own, plus a line end;
        // and put() writes up to fifteen bytes past what it copies.
        const std::size_t most = 2 * std::size_t(header.size()) + 32;
        if (buffer.size() < most)
            buffer.resize(most);
        m_begin = m_at = buffer.data();
    }

    void field(const char *nameB, const char *nameE, Span value)
    {
        const Span v = trimmed(value.b, value.e);
        put(nameB, nameE + 1); // the name and its colon
        for (const char *p = v.b; p < v.e;) {
            const char *cr = findByte(p, '\r', std::size_t(v.e - p));
            const char *e = cr ? cr : v.e;
            put(p, e);
            p = cr ? cr + 1 : e;
        }
        *m_at++ = '\n';
    }

    QByteArrayView bytes() const { return QByteArrayView(m_begin, m_at - m_begin); }

private:
    // Sixteen bytes at a time while the header holds them, its end aside: the pieces are short,
    // and a call to memcpy for each cost more than the copy.
    void put(const char *b, const char *e)
    {
        const std::size_t n = std::size_t(e - b);
#if defined(__SSE2__)
        if (m_headerEnd - b >= std::ptrdiff_t((n + 15) & ~std::size_t(15))) {
            for (std::size_t i = 0; i < n; i += 16)
                _mm_storeu_si128(reinterpret_cast<__m128i *>(m_at + i),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i)));
            m_at += n;
            return;
        }
#endif
        std::memcpy(m_at, b, n);
        m_at += n;
    }

    const char *m_headerEnd;
    char *m_begin;
    char *m_at;
};

// ---- The tokens ----

class Tokenizer
{
public:
    Tokenizer(TokenSet &set, QStringList *texts, IdBytes *id = nullptr) : m_set(set), m_texts(texts), m_id(id)
    {
        m_set.clear();
    }

    void read(QByteArrayView header)
    {
        forEachField(header, [this](const char *nb, const char *ne, Span value) { field(nb, ne, value); });
        finish();
    }

private:
    static constexpr std::size_t kMaxTokenBytes = 80;
    static constexpr std::string_view kListFields = "list-*";
    static constexpr int kMaxReceived = 8;

    // Adds kind:value, letter case aside, at most kMaxTokenBytes of it; nothing for no value.
    void add(Kind kind, Span v)
    {
        if (v.empty())
            return;
        const std::size_t n = std::min(v.size(), kMaxTokenBytes);
        insert(tokenOf(kind, hashOf<true>(v.b, n)), kind, v.b, n);
    }
    void add(Kind kind, std::string_view literal) { add(kind, Span{literal.data(), literal.data() + literal.size()}); }

    void insert(Token t, Kind kind, const char *bytes, std::size_t n)
    {
        if (m_recording) {
            if (m_recording->count < FieldMemo::kTokens)
                m_recording->tokens[m_recording->count] = t;
            ++m_recording->count;
        }
        if (m_set.insert(t) && m_texts) [[unlikely]]
            addText(kind, bytes, n);
    }

    // Runs read() on a field's value, or gives again the tokens and facts it gave for the same
    // value before: keep(entry) stores the facts read() left, use(entry) applies them.
    template <class Read, class Keep, class Use>
    void memoized(quint64 name, Span value, Read &&read, Keep &&keep, Use &&use)
    {
        if (m_texts) { // every field is read for the texts
            read();
            return;
        }
        const quint64 key = fmix(name ^ hashOf<false>(value.b, value.size())) | 1;
        FieldMemo::Entry &e = FieldMemo::ofThisThread().entries[key >> 56];
        if (e.key == key) {
            for (int i = 0; i < e.count; ++i)
                m_set.insert(e.tokens[i]);
            use(e);
            return;
        }
        e.key = 0;
        e.count = 0;
        m_recording = &e;
        read();
        m_recording = nullptr;
        if (e.count <= FieldMemo::kTokens) {
            keep(e);
            e.key = key;
        }
    }
    static constexpr auto kNoFacts = [](FieldMemo::Entry &) {};

    Q_DECL_COLD_FUNCTION void addText(Kind kind, const char *bytes, std::size_t n)
    {
        *m_texts << QString::fromLatin1(kindName(kind)) + QLatin1Char(':') + QString::fromUtf8(bytes, qsizetype(n)).toLower();
    }

    // Adds kind:value with its runs of digits written "9" (ids and counters vary, their place
    // in the value does not), lower case, at most kMaxTokenBytes.
    void addCollapsed(Kind kind, Span v)
    {
        std::size_t n = 0;
        char out[kMaxTokenBytes];
        for (const char *p = v.b; p < v.e && n < sizeof out; ++p) {
            if (isDigit(*p)) {
                if (n == 0 || out[n - 1] != '9' || (p > v.b && !isDigit(p[-1])))
                    out[n++] = '9';
            } else {
                out[n++] = isBlank(*p) ? ' ' : lower(*p);
            }
        }
        add(kind, Span{out, out + n});
    }

    // The make of a name: "~" then its runs of letters written "a", of digits "9", the rest as
    // written ("hxvwnj3q" is "~a9a", "marie.dupont" "~a.a"): generated names look alike.
    void addShape(Kind kind, Span v)
    {
        char shape[16] = {'~'};
        std::size_t n = 1;
        for (const char *p = v.b; p < v.e && n < sizeof shape;) {
            const char c = isDigit(*p) ? '9' : isWordByte(*p) && !isDigit(*p) ? 'a' : *p;
            while (p < v.e && (isDigit(*p) ? '9' : isWordByte(*p) && !isDigit(*p) ? 'a' : *p) == c)
                ++p;
            shape[n++] = c;
        }
        add(kind, Span{shape, shape + n});
    }

    // What the subject's characters show besides its words.
    struct TextShape
    {
        int words = 0;         // with letters
        int capitalWords = 0;  // all in capitals
        bool capitalWord = false; // one of four capitals or more
        bool gap = false;         // three blanks in a row, as before hash-busting letters
        bool bang = false, doubleBang = false, dollar = false, percent = false;
        bool high = false; // non-ASCII bytes
    };

    // The words of text: runs of letters, digits and non-ASCII bytes of two bytes or more;
    // a number stands as its count of digits, a word mixing both with its digit runs as "9".
    // One pass, which also fills shape when given. Returns how many words it added.
    int addWords(Kind kind, Span text, int maxWords, TextShape *shape = nullptr)
    {
        constexpr quint16 kWord = cDigit | cAlpha | cHigh;
        int words = 0;
        for (const char *p = text.b; p < text.e && words < maxWords;) {
            const char *separators = p;
            quint16 marks = 0;
            for (; p < text.e && !(classOf(*p) & kWord); ++p)
                marks |= classOf(*p);
            if (shape && p != separators)
                separatorShape(Span{separators, p}, marks, *shape);
            if (p == text.e)
                break;
            const char *w = p;
            quint16 classes = 0;
            for (; p < text.e && (classOf(*p) & kWord); ++p)
                classes |= classOf(*p);
            if (shape && (classes & cAlpha)) {
                ++shape->words;
                if ((classes & cUpper) && !(classes & cLower)) {
                    ++shape->capitalWords;
                    shape->capitalWord = shape->capitalWord || p - w >= 4;
                }
            }
            if (shape)
                shape->high = shape->high || (classes & cHigh);
            const bool digits = classes & cDigit;
            if (p - w < 2 && !digits)
                continue;
            ++words;
            if (!(classes & (cAlpha | cHigh))) {
                const char number[] = {'#', char('0' + std::min<long>(p - w, 9))};
                add(kind, Span{number, number + 2});
            } else if (digits) {
                addCollapsed(kind, Span{w, p});
            } else {
                add(kind, Span{w, p});
            }
        }
        return words;
    }

    static void separatorShape(Span s, quint16 marks, TextShape &shape)
    {
        if (marks & cMark)
            for (const char *c = s.b; c < s.e; ++c) {
                shape.doubleBang = shape.doubleBang || (*c == '!' && c + 1 < s.e && c[1] == '!');
                shape.bang = shape.bang || *c == '!';
                shape.dollar = shape.dollar || *c == '$';
                shape.percent = shape.percent || *c == '%';
            }
        if (s.size() >= 3)
            shape.gap = shape.gap || std::string_view(s.b, s.size()).find("   ") != std::string_view::npos;
    }

    void field(const char *nameB, const char *nameE, Span value)
    {
        const Span name{nameB, std::min(nameE, nameB + 64)};
        const quint64 k = hashOf<true>(name.b, name.size());
        if (receivingSide(k))
            return;
        if (m_id)
            m_id->field(nameB, nameE, value);
        if (m_fields++ < 64) {
            // The List-* fields (RFC 2369, 2919) come together from any list server: one token
            // for the lot, and for their place among the other fields.
            const bool list = listMachinery(k, name);
            const Span shown = list ? Span{kListFields.data(), kListFields.data() + kListFields.size()} : name;
            const quint64 named = list ? key(kListFields) : k;
            insert(tokenOf(kHeader, named), kHeader, shown.b, shown.size());
            if (k != key("received") && named != m_previousName) {
                if (m_previousName)
                    pair(named, shown);
                m_previousName = named;
                if (m_texts)
                    m_previous.set(shown);
            }
        }
        switch (k) {
        case key("from"):
            if (!m_from.seen())
                memoized(
                    k, value, [&] { from(value); },
                    [&](FieldMemo::Entry &e) {
                        e.address = m_from;
                        e.site = m_fromSite;
                    },
                    [&](FieldMemo::Entry &e) {
                        m_from = e.address;
                        m_fromSite = e.site;
                    });
            break;
        case key("subject"):
            if (!m_subject++)
                subject(value);
            break;
        case key("received"):
            if (m_received++ < kMaxReceived)
                relay(trimmed(value.b, value.e));
            break;
        case key("reply-to"):
            if (!m_replyTo.seen())
                memoized(
                    k, value, [&] { m_replyTo.set(siteOf(domainOf(firstMailbox(trimmed(value)).address))); },
                    [&](FieldMemo::Entry &e) { e.site = m_replyTo; }, [&](FieldMemo::Entry &e) { m_replyTo = e.site; });
            break;
        case key("return-path"):
            if (!m_returnPath.seen())
                m_returnPath.set(siteOf(domainOf(firstMailbox(trimmed(value.b, value.e)).address)));
            break;
        case key("sender"):
            memoized(
                k, value, [&] { add(kSenderField, siteOf(domainOf(firstMailbox(trimmed(value)).address))); }, kNoFacts,
                kNoFacts);
            break;
        case key("list-id"):
            memoized(k, value, [&] { listId(trimmed(value)); }, kNoFacts, kNoFacts);
            break;
        case key("message-id"):
            if (!m_messageId.seen())
                messageId(trimmed(value.b, value.e));
            break;
        case key("x-mailer"):
        case key("user-agent"):
        case key("x-newsreader"):
        case key("x-mimeole"):
            memoized(k, value, [&] { mailer(trimmed(value)); }, kNoFacts, kNoFacts);
            break;
        case key("content-type"):
            if (!m_contentType++)
                memoized(k, value, [&] { contentType(trimmed(value)); }, kNoFacts, kNoFacts);
            break;
        case key("content-transfer-encoding"):
            memoized(k, value, [&] { addFirstWord(kEncoding, Span{}, value); }, kNoFacts, kNoFacts);
            break;
        case key("mime-version"):
            if (!equalsLower(trimmed(value), "1.0")) // as nearly all mail writes it
                addFirstWord(kEncoding, name, value);
            ++m_mimeVersion;
            break;
        case key("x-priority"):
        case key("x-msmail-priority"):
        case key("importance"):
        case key("priority"):
        case key("precedence"):
        case key("x-spam-flag"):
        case key("x-spam-status"):
            memoized(
                k, value,
                [&] { addFirstWord(k == key("x-spam-flag") || k == key("x-spam-status") ? kSpamFlag : kPriority, name, value); },
                kNoFacts, kNoFacts);
            break;
        case key("authentication-results"):
            if (!m_authResults++)
                authResults(value);
            break;
        case key("received-spf"):
            if (!m_receivedSpf++)
                addFirstWord(kAuth, name, value);
            break;
        case key("dkim-signature"):
            if (!m_dkim.seen())
                dkim(value);
            break;
        case key("in-reply-to"):
        case key("references"):
            m_references = true;
            break;
        case key("to"):
        case key("cc"):
            memoized(
                k, value, [&] { readRecipients(value); },
                [&](FieldMemo::Entry &e) {
                    e.address = m_fieldAddress;
                    e.recipients = m_fieldRecipients;
                    e.group = m_fieldGroup;
                },
                [&](FieldMemo::Entry &e) {
                    m_fieldAddress = e.address;
                    m_fieldRecipients = e.recipients;
                    m_fieldGroup = e.group;
                });
            addRecipients(k == key("to"));
            break;
        case key("date"):
            if (!m_date++)
                date(trimmed(value.b, value.e));
            break;
        }
    }

    // The fields a list server adds, which come together: List-* (RFC 2369, 2919) and those of
    // Mailman, ezmlm, Majordomo and their kind.
    static bool listMachinery(quint64 k, Span name)
    {
        if (name.size() > 5 && equalsLower(Span{name.b, name.b + 5}, "list-"))
            return true;
        if (name.size() > 10 && equalsLower(Span{name.b, name.b + 10}, "x-mailman-"))
            return true;
        switch (k) {
        case key("x-beenthere"):
        case key("mailing-list"):
        case key("x-mailing-list"):
        case key("x-loop"):
        case key("errors-to"):
        case key("x-list"):
        case key("x-sequence"):
            return true;
        }
        return false;
    }

    void pair(quint64 k, Span name)
    {
        const Token t = tokenOf(kHeaderPair, (m_previousName * kMul) ^ k);
        if (!m_texts) {
            m_set.insert(t);
            return;
        }
        char text[2 * sizeof(Kept::bytes) + 1];
        std::size_t at = std::size_t(m_previous.n);
        std::memcpy(text, m_previous.bytes, at);
        text[at++] = '>';
        const std::size_t kept = std::min(name.size(), sizeof text - at);
        std::memcpy(text + at, name.b, kept);
        insert(t, kHeaderPair, text, at + kept);
    }

    // "name=word" (or "word" alone without a name) of the value's first word, lower case.
    void addFirstWord(Kind kind, Span name, Span value)
    {
        const Span v = trimmed(value.b, value.e);
        const char *e = v.b;
        while (e < v.e && !isBlank(*e) && *e != ';' && *e != '(')
            ++e;
        char text[kMaxTokenBytes];
        std::size_t n = std::min(name.size(), sizeof text / 2);
        if (n) {
            std::memcpy(text, name.b, n);
            text[n++] = '=';
        }
        for (const char *p = v.b; p < e && n < sizeof text; ++p)
            text[n++] = *p;
        add(kind, Span{text, text + n});
    }

    void from(Span value)
    {
        const Mailbox m = firstMailbox(trimmed(value.b, value.e));
        const Span domain = domainOf(m.address);
        m_from.set(m.address);
        if (domain.empty()) {
            add(kFromShape, "noaddr");
        } else {
            add(kFromAddress, m.address);
            add(kFromDomain, domain);
            const Span site = siteOf(domain);
            if (site.b != domain.b)
                add(kFromSite, site);
            m_fromSite.set(site);
            const char *at = domain.b - 1;
            addCollapsed(kFromLocal, Span{m.address.b, at});
            addShape(kFromShape, Span{m.address.b, at});
        }
        Decoded name;
        // Without an address, what the field says stands for the name ("From: Undisclosed").
        const Span words = textOf(domain.empty() && m.name.empty() ? trimmed(value) : m.name, name);
        if (addWords(kFromName, words, 6) == 0)
            add(kFromShape, "noname");
        else if (!domain.empty())
            add(kFromShape, nameInAddress(words, Span{m.address.b, domain.b - 1}) ? std::string_view("name=address")
                                                                                : std::string_view("name!=address"));
        if (!words.empty() && findByte(words.b, '@', words.size()))
            add(kFromShape, "name@");
        if (name.encoding)
            add(kFromShape, name.encoding == 'b' ? std::string_view("enc-b") : std::string_view("enc-q"));
    }

    // Whether a word of the sender's name (three letters or more) is in the address's local
    // part, as in "Marie Dupont <marie.dupont@...>": names made up for spam seldom are.
    static bool nameInAddress(Span name, Span local)
    {
        for (const char *p = name.b; p < name.e;) {
            if (!isAlpha(*p)) {
                ++p;
                continue;
            }
            const char *w = p;
            while (p < name.e && isAlpha(*p))
                ++p;
            const std::size_t n = std::size_t(p - w);
            if (n < 3)
                continue;
            for (const char *l = local.b; l + n <= local.e; ++l) {
                std::size_t i = 0;
                while (i < n && lower(l[i]) == lower(w[i]))
                    ++i;
                if (i == n)
                    return true;
            }
        }
        return false;
    }

    void subject(Span value)
    {
        // "Re:" without the message it answers (finish() tells): a reply made up to look known.
        const Span v = trimmed(value);
        const auto startsWith = [&](std::string_view prefix) {
            return v.size() >= prefix.size() && equalsLower(Span{v.b, v.b + prefix.size()}, prefix);
        };
        m_reply = startsWith("re:") || startsWith("fw:") || startsWith("fwd:");
        Decoded d;
        const Span s = trimmed(textOf(trimmed(value.b, value.e), d));
        TextShape shape;
        addWords(kSubject, s, 24, &shape);
        if (shape.bang)
            add(kSubjectShape, "!");
        if (shape.doubleBang)
            add(kSubjectShape, "!!");
        if (shape.dollar)
            add(kSubjectShape, "$");
        if (shape.percent)
            add(kSubjectShape, "%");
        if (shape.words >= 2 && shape.capitalWords * 10 >= shape.words * 6)
            add(kSubjectShape, "caps");
        if (shape.capitalWord)
            add(kSubjectShape, "capsword");
        if (shape.gap)
            add(kSubjectShape, "gap");
        const std::size_t length = s.size();
        add(kSubjectShape, length == 0 ? "len0" : length < 12 ? "len<12" : length < 30 ? "len<30" : length < 60 ? "len<60" : "len60+");
        if (d.encoding ? d.raw8bit : shape.high)
            add(kSubjectShape, "8bit");
        if (d.encoding) {
            add(kSubjectShape, d.encoding == 'b' ? std::string_view("enc-b") : std::string_view("enc-q"));
            add(kCharset, d.charset);
        }
    }

    // The "from" part of a Received line: the names and address of the host that handed the
    // mail on. Hops inside the receiving side are skipped: loopback or private addresses,
    // local names, and mail fetched from a mailbox (POP3, IMAP, fetchmail).
    void relay(Span v)
    {
        if (v.size() < 5 || !equalsLower(Span{v.b, v.b + 4}, "from") || !isBlank(v.b[4]))
            return;
        Span hosts[3];
        int hostCount = 0;
        Span ip;
        bool ipv6 = false, unknown = false;
        // One pass over the words of the "from" part, up to the word "by" (or the date's ';').
        const char *p = v.b + 5;
        constexpr quint16 kWord = cDigit | cAlpha | cHostPunct | cColon;
        while (p < v.e) {
            if (!(classOf(*p) & kWord)) {
                if (*p == ';')
                    break;
                ++p;
                continue;
            }
            const char *w = p;
            quint16 classes = 0;
            for (; p < v.e && (classOf(*p) & kWord); ++p)
                classes |= classOf(*p);
            // Dots and colons are counted for the words that may be addresses.
            int dots = 0, colons = 0;
            if ((classes & cColon) || ((classes & cDot) && !(classes & cAlpha)))
                for (const char *c = w; c < p; ++c) {
                    dots += *c == '.';
                    colons += *c == ':';
                }
            Span word{w, p};
            while (!word.empty() && (word.e[-1] == '.' || word.e[-1] == ':'))
                --word.e;
            const std::size_t size = word.size();
            if (size == 2 && equalsLower(word, "by"))
                break;
            if ((size == 9 && equalsLower(word, "localhost")))
                return;
            unknown = unknown || (size == 7 && equalsLower(word, "unknown"));
            if (colons >= 2) {
                // IPv6, perhaps written "IPv6:2001:db8::1".
                const char *a = word.b;
                if (size > 5 && equalsLower(Span{a, a + 5}, "ipv6:"))
                    a += 5;
                const Span address{a, word.e};
                if (equalsLower(address, "::1")
                    || (address.size() > 4 && lower(a[0]) == 'f'
                        && (lower(a[1]) == 'c' || lower(a[1]) == 'd' || equalsLower(Span{a, a + 4}, "fe80"))))
                    return; // loopback, private or link-local
                if (ip.empty()) {
                    ip = address;
                    ipv6 = true;
                }
            } else if (dots == 3 && !(classes & cAlpha) && colons == 0) {
                int parts[4] = {0, 0, 0, 0}, at = 0;
                bool digits = true;
                for (const char *c = word.b; c < word.e; ++c)
                    if (*c == '.')
                        ++at;
                    else if (isDigit(*c) && at < 4 && parts[at] < 1000)
                        parts[at] = parts[at] * 10 + (*c - '0');
                    else
                        digits = false;
                if (!digits || parts[0] > 255 || parts[1] > 255)
                    continue;
                if (parts[0] == 10 || parts[0] == 127 || parts[0] == 0 || (parts[0] == 192 && parts[1] == 168)
                    || (parts[0] == 172 && parts[1] >= 16 && parts[1] < 32) || (parts[0] == 169 && parts[1] == 254))
                    return; // a hop inside one site
                if (ip.empty())
                    ip = word;
            } else if ((classes & cDot) && (classes & cAlpha) && !(classes & cColon) && hostCount < 3) {
                bool repeated = false;
                for (int i = 0; i < hostCount; ++i)
                    repeated = repeated || (hosts[i].size() == size && !std::memcmp(hosts[i].b, word.b, size));
                if (!repeated)
                    hosts[hostCount++] = word;
            }
        }
        if ((ip.empty() && hostCount == 0) || fetched(Span{p, v.e}))
            return; // local names only, or mail fetched from a mailbox
        for (int i = 0; i < hostCount; ++i) {
            const Span site = siteOf(hosts[i]);
            add(kRelaySite, site);
            if (m_relaySiteCount < kMaxRelaySites)
                m_relaySites[m_relaySiteCount++].set(site);
            if (site.b != hosts[i].b)
                addCollapsed(kRelayHost, hosts[i]);
            if (dynamicLooking(hosts[i]))
                add(kRelayShape, "dynamic");
        }
        if (!ip.empty()) {
            // The /16 and /24 of IPv4, the /48 of IPv6: the network, not the machine.
            const char sep = ipv6 ? ':' : '.';
            int seen = 0;
            for (const char *c = ip.b; c < ip.e; ++c) {
                if (*c != sep)
                    continue;
                if (++seen == 2 && !ipv6)
                    add(kRelayNet, Span{ip.b, c});
                if (seen == 3) {
                    add(kRelayNet, Span{ip.b, c});
                    break;
                }
            }
        }
        if (hostCount == 0 || unknown)
            add(kRelayShape, unknown ? "unknown" : "noname");
    }

    // A host named after its address, as access providers name their customers' lines
    // ("81-64-2-17.rev.isp.example", "pool-71-2-3.dsl.example"): two runs of digits or more in its
    // first label.
    static bool dynamicLooking(Span host)
    {
        int runs = 0;
        for (const char *p = host.b; p < host.e && *p != '.'; ++p)
            runs += isDigit(*p) && (p == host.b || !isDigit(p[-1]));
        return runs >= 2;
    }

    // Whether the rest of a hop says the mail was fetched from a mailbox ("with POP3", "with
    // IMAP", as fetchmail and its kind write it): the receiving side.
    static bool fetched(Span rest)
    {
        const std::string_view text(rest.b, rest.size());
        for (std::size_t at = text.find("with "); at != std::string_view::npos; at = text.find("with ", at + 5)) {
            const Span protocol{rest.b + at + 5, std::min(rest.e, rest.b + at + 9)};
            if (equalsLower(Span{protocol.b, std::min(protocol.e, protocol.b + 3)}, "pop")
                || equalsLower(protocol, "imap"))
                return true;
        }
        return false;
    }

    void listId(Span v)
    {
        const char *open = findByte(v.b, '<', v.size());
        if (open) {
            const char *close = findByte(open, '>', std::size_t(v.e - open));
            v = Span{open + 1, close ? close : v.e};
        }
        add(kListId, v);
    }

    void messageId(Span v)
    {
        const char *open = findByte(v.b, '<', v.size());
        const char *close = open ? findByte(open, '>', std::size_t(v.e - open)) : nullptr;
        if (!open || !close) {
            m_messageId.set(Span{});
            add(kMessageId, "~bare");
            return;
        }
        const Span id{open + 1, close};
        const char *at = findByte(id.b, '@', id.size());
        if (!at) {
            m_messageId.set(Span{});
            add(kMessageId, "~noat");
            return;
        }
        const Span domain{at + 1, id.e};
        if (!findByte(domain.b, '.', domain.size())) {
            add(kMessageId, "~unqualified");
            m_messageId.set(Span{});
        } else {
            const Span site = siteOf(domain);
            add(kMessageId, site);
            m_messageId.set(site);
        }
        // The left part's make: its kinds of characters and length, which mailers keep.
        bool digit = false, low = false, up = false, punct = false;
        for (const char *p = id.b; p < at; ++p) {
            digit = digit || isDigit(*p);
            low = low || (*p >= 'a' && *p <= 'z');
            up = up || (*p >= 'A' && *p <= 'Z');
            punct = punct || !isAlnum(*p);
        }
        const long length = at - id.b;
        char shape[8] = {'~'};
        std::size_t n = 1;
        for (auto [on, c] : std::initializer_list<std::pair<bool, char>>{{digit, 'd'}, {low, 'l'}, {up, 'u'}, {punct, 'p'}})
            if (on)
                shape[n++] = c;
        shape[n++] = length <= 12 ? 's' : length <= 24 ? 'm' : length <= 40 ? 'l' : 'x';
        add(kMessageId, Span{shape, shape + n});
    }

    void mailer(Span v)
    {
        v.e = std::min(v.e, v.b + 64);
        addCollapsed(kMailer, v);
        int words = 0;
        for (const char *p = v.b; p < v.e && words < 4;) {
            if (!isAlpha(*p)) {
                ++p;
                continue;
            }
            const char *w = p;
            while (p < v.e && isAlpha(*p))
                ++p;
            if (p - w >= 2) {
                add(kMailer, Span{w, p});
                ++words;
            }
        }
    }

    void contentType(Span v)
    {
        const char *semi = findByte(v.b, ';', v.size());
        add(kContentType, trimmed(v.b, semi ? semi : v.e));
        if (!semi)
            return;
        const Span params{semi, v.e};
        if (const char *cs = findLower(params.b, params.e, "charset="); cs != params.e)
            add(kCharset, parameterValue(cs + 8, params.e));
        if (const char *bd = findLower(params.b, params.e, "boundary="); bd != params.e)
            boundary(parameterValue(bd + 9, params.e));
    }

    static Span parameterValue(const char *b, const char *e)
    {
        while (b < e && isBlank(*b))
            ++b;
        if (b < e && *b == '"') {
            const char *close = findByte(b + 1, '"', std::size_t(e - b - 1));
            return {b + 1, close ? close : e};
        }
        const char *end = b;
        while (end < e && !isBlank(*end) && *end != ';')
            ++end;
        return {b, end};
    }

    // A boundary's make: runs of letters and digits written "x", the rest as written, runs
    // of one punctuation kept once ("----=_NextPart_000_..." is "-=_x_x_x...").
    void boundary(Span v)
    {
        char shape[24];
        std::size_t n = 0;
        for (const char *p = v.b; p < v.e && n < sizeof shape;) {
            const char c = isAlnum(*p) ? 'x' : *p;
            while (p < v.e && (isAlnum(*p) ? 'x' : *p) == c)
                ++p;
            shape[n++] = c;
        }
        add(kBoundary, Span{shape, shape + n});
    }

    // The verdicts of the topmost Authentication-Results, which the receiving server adds.
    void authResults(Span v)
    {
        for (std::string_view method : {"spf=", "dkim=", "dmarc=", "arc="}) {
            const char *p = v.b;
            while ((p = findLower(p, v.e, method)) != v.e && p > v.b && (isAlnum(p[-1]) || p[-1] == '-'))
                p += method.size();
            if (p == v.e)
                continue;
            const char *e = p + method.size();
            while (e < v.e && isAlnum(*e))
                ++e;
            add(kAuth, Span{p, e});
        }
    }

    // The signing domain: the d= tag among the tag=value; pairs.
    void dkim(Span v)
    {
        for (const char *p = v.b; p < v.e;) {
            const char *semi = findByte(p, ';', std::size_t(v.e - p));
            const char *tagEnd = semi ? semi : v.e;
            const Span tag = trimmed(p, tagEnd);
            if (tag.size() > 2 && lower(tag.b[0]) == 'd') {
                const char *eq = tag.b + 1;
                while (eq < tag.e && isBlank(*eq))
                    ++eq;
                if (eq < tag.e && *eq == '=') {
                    const Span site = siteOf(trimmed(eq + 1, tag.e));
                    add(kDkim, site);
                    m_dkim.set(site);
                    return;
                }
            }
            p = tagEnd + 1;
        }
    }

    // A To or Cc field: its first address, its count of addresses, whether it is a group.
    void readRecipients(Span v)
    {
        m_fieldAddress.set(firstMailbox(trimmed(v)).address);
        m_fieldRecipients = 0;
        m_fieldGroup = false;
        bool quoted = false;
        for (const char *p = v.b; p < v.e; ++p) {
            if (*p == '"')
                quoted = !quoted;
            else if (!quoted && *p == '@')
                ++m_fieldRecipients;
            else if (!quoted && *p == ';')
                m_fieldGroup = true;
        }
    }

    void addRecipients(bool to)
    {
        if (to && !m_to.seen())
            m_to = m_fieldAddress;
        m_toFields += to;
        m_recipients += m_fieldRecipients;
        m_group = m_group || m_fieldGroup;
    }

    void date(Span v)
    {
        const char *w = v.e;
        while (w > v.b && !isBlank(w[-1]))
            --w;
        Span zone{w, v.e};
        if (!zone.empty() && zone.b[0] == '(' && zone.e[-1] == ')') { // "+0000 (UTC)": the number counts
            const char *before = w;
            while (before > v.b && isBlank(before[-1]))
                --before;
            const char *b = before;
            while (b > v.b && !isBlank(b[-1]))
                --b;
            zone = {b, before};
        }
        const bool numeric = zone.size() == 5 && (zone.b[0] == '+' || zone.b[0] == '-');
        const bool named = !zone.empty() && zone.size() <= 5 && isAlpha(zone.b[0]);
        if (numeric || named)
            add(kDate, zone);
        else
            add(kDate, "~nozone");
        if (v.size() < 4 || !isAlpha(v.b[0]) || v.b[3] != ',')
            add(kDate, "~noday");
    }

    void finish()
    {
        for (auto [seen, name] : std::initializer_list<std::pair<bool, std::string_view>>{
                 {m_from.seen(), "from"}, {m_subject > 0, "subject"}, {m_date > 0, "date"},
                 {m_messageId.seen(), "message-id"}, {m_toFields > 0, "to"}, {m_mimeVersion > 0, "mime-version"}})
            if (!seen)
                add(kMissing, name);
        const auto relation = [&](Kind kind, const Kept &other) {
            if (other.seen() && other.n > 0)
                add(kind, other == m_fromSite ? std::string_view("=from") : std::string_view("!=from"));
        };
        const auto amongRelays = [&](const Kept &site) {
            for (int i = 0; i < m_relaySiteCount; ++i)
                if (m_relaySites[i] == site)
                    return true;
            return false;
        };
        // Whether the sender's domain and the Message-ID's are among the relays': mail handed on by
        // its sender's own servers, or by anyone.
        if (m_fromSite.seen() && m_fromSite.n > 0 && m_relaySiteCount > 0)
            add(kRelaySite, amongRelays(m_fromSite) ? std::string_view("=from") : std::string_view("!=from"));
        if (m_messageId.seen() && m_messageId.n > 0 && m_relaySiteCount > 0)
            add(kMessageId, amongRelays(m_messageId) ? std::string_view("=relay") : std::string_view("!=relay"));
        if (m_reply && !m_references)
            add(kSubjectShape, "re-unreferenced");
        if (m_fromSite.seen()) {
            relation(kReplyTo, m_replyTo);
            relation(kReturnPath, m_returnPath);
            relation(kMessageId, m_messageId);
            relation(kDkim, m_dkim);
        }
        if (m_replyTo.seen() && m_replyTo.n > 0)
            add(kReplyTo, Span{m_replyTo.bytes, m_replyTo.bytes + m_replyTo.n});
        if (m_returnPath.seen())
            add(kReturnPath, m_returnPath.n > 0 ? Span{m_returnPath.bytes, m_returnPath.bytes + m_returnPath.n}
                                                : Span{"<>", "<>" + 2});
        if (m_to.seen() && m_to.n > 0 && m_to == m_from)
            add(kRecipients, "=from");
        add(kRecipients, m_recipients == 0 ? "0" : m_recipients == 1 ? "1" : m_recipients < 5 ? "2-4" : m_recipients < 20 ? "5-19" : "20+");
        if (m_group)
            add(kRecipients, "group");
    }

    TokenSet &m_set;
    QStringList *m_texts;
    IdBytes *m_id;
    int m_fields = 0;
    quint64 m_previousName = 0;
    Kept m_previous;
    Kept m_from, m_fromSite, m_replyTo, m_returnPath, m_messageId, m_dkim, m_to;
    static constexpr int kMaxRelaySites = 6;
    Kept m_relaySites[kMaxRelaySites];
    int m_relaySiteCount = 0;
    bool m_reply = false, m_references = false;
    FieldMemo::Entry *m_recording = nullptr;
    Kept m_fieldAddress; // what readRecipients() read
    int m_fieldRecipients = 0;
    bool m_fieldGroup = false;
    int m_subject = 0, m_received = 0, m_contentType = 0, m_authResults = 0, m_receivedSpf = 0, m_date = 0;
    int m_mimeVersion = 0, m_toFields = 0, m_recipients = 0;
    bool m_group = false;
};

} // namespace

Token hashBytes(QByteArrayView bytes) { return fmix(hashOf<false>(bytes.data(), std::size_t(bytes.size()))); }

bool TokenSet::contains(Token token) const
{
    return std::find(m_list, m_list + m_count, token) != m_list + m_count;
}

void headerTokens(QByteArrayView header, TokenSet &tokens)
{
    Tokenizer(tokens, nullptr).read(header);
}

std::vector<Token> headerTokenList(QByteArrayView header)
{
    TokenSet set;
    headerTokens(header, set);
    return std::vector<Token>(set.begin(), set.end());
}

QStringList headerTokenTexts(QByteArrayView header)
{
    TokenSet set;
    QStringList texts;
    Tokenizer(set, &texts).read(header);
    return texts;
}

QByteArray headerId(QByteArrayView header)
{
    return headerIdText(headerIdValue(header));
}

QByteArray headerIdText(quint64 value)
{
    char out[17];
    return headerIdText(value, out).toByteArray();
}

QByteArrayView headerIdText(quint64 value, char (&out)[17])
{
    static constexpr char kDigits[] = "0123456789abcdef";
    out[0] = 'h';
    for (int i = 16; i >= 1; --i, value >>= 4)
        out[i] = kDigits[value & 15];
    return {out, 17};
}

quint64 headerIdValue(QByteArrayView header)
{
    // A list computes one per row: the buffer is reused.
    thread_local std::string buffer;
    IdBytes id(header, buffer);
    forEachField(header, [&](const char *nb, const char *ne, Span value) {
        if (!receivingSide(hashOf<true>(nb, std::size_t(std::min<std::ptrdiff_t>(ne - nb, 64)))))
            id.field(nb, ne, value);
    });
    return hashBytes(id.bytes());
}

qsizetype headerTokensAndIdBytes(QByteArrayView header, TokenSet &tokens, std::string &idBytes)
{
    IdBytes id(header, idBytes);
    Tokenizer(tokens, nullptr, &id).read(header);
    return id.bytes().size();
}

void headerIdValues(const QByteArrayView *idBytes, quint64 *ids, int count)
{
    // Each hash is a chain of multiplications, each waiting on the one before: four chains in
    // step keep the multiplier busy while the first alone would leave it waiting, for as many
    // whole words as the shortest holds. A missing lane repeats the first.
    constexpr int kLanes = 4;
    if (count <= 0)
        return;
    count = std::min(count, kLanes);
    const char *p[kLanes];
    std::size_t n[kLanes];
    quint64 h[kLanes];
    std::size_t words = std::numeric_limits<std::size_t>::max();
    for (int i = 0; i < kLanes; ++i) {
        const QByteArrayView b = idBytes[i < count ? i : 0];
        p[i] = b.data();
        n[i] = std::size_t(b.size());
        h[i] = hashStart(n[i]);
        words = std::min(words, n[i] / 8);
    }
    for (std::size_t k = 0; k < words * 8; k += 8)
        for (int i = 0; i < kLanes; ++i) {
            h[i] = (h[i] ^ loadLittle(p[i] + k, 8)) * kMul;
            h[i] ^= h[i] >> 29;
        }
    for (int i = 0; i < count; ++i)
        ids[i] = fmix(hashRest<false>(h[i], p[i] + words * 8, n[i] - words * 8, n[i]));
}
} // namespace learning
