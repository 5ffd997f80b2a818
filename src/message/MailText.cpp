// SPDX-License-Identifier: GPL-3.0-or-later
#include <gmime/gmime.h>

#include "message/MailText.h"

#include "core/Ansi.h"

#include <QStringDecoder>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

namespace {

bool isUtf8(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes); // decodes only once made a string
    return !utf8.hasError();
}

// Converts with iconv through GMime's charset aliases; a byte that does not convert becomes
// U+FFFD and the conversion goes on. Null when iconv does not know the charset.
std::optional<QString> convert(QByteArrayView bytes, const char *charset)
{
    iconv_t cd = g_mime_iconv_open("UTF-8", charset);
    if (cd == iconv_t(-1))
        return std::nullopt;
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 2 + 16);
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = size_t(bytes.size());
    char buffer[4096];
    for (bool flushing = false;;) {
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t r = flushing ? g_mime_iconv(cd, nullptr, nullptr, &outPtr, &outLeft)
                                  : g_mime_iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(buffer, outPtr - buffer);
        if (r != size_t(-1)) {
            if (flushing)
                break;
            flushing = inLeft == 0;
            continue;
        }
        if (error == E2BIG)
            continue;
        if (flushing)
            break;
        if (inLeft == 0) {
            flushing = true;
            continue;
        }
        // An invalid sequence, or one cut short by the end of the text.
        out.append("\xEF\xBF\xBD");
        ++in;
        --inLeft;
    }
    g_mime_iconv_close(cd);
    return QString::fromUtf8(out);
}

enum class Label { None, Utf8, Western, Other };

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; }

// Whether a and b are the same letters, ASCII case aside.
bool sameLetters(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    return true;
}

// Of a trimmed label, compared in lower case without making a lower-case copy: every header
// word names its charset.
Label labelOf(QByteArrayView label)
{
    const auto is = [&](const char *name) { return sameLetters(label, name); };
    if (label.isEmpty() || is("us-ascii") || is("ascii") || is("unknown-8bit") || is("x-unknown"))
        return Label::None;
    if (is("utf-8") || is("utf8"))
        return Label::Utf8;
    if (is("iso-8859-1") || is("iso8859-1") || is("latin1") || is("windows-1252") || is("cp1252"))
        return Label::Western;
    return Label::Other;
}

// Bytes in a labelled charset. A UTF-8 label is taken at its word (strictUtf8: each invalid
// sequence U+FFFD) or, in headers, read as a guess: a mislabelled Latin-1 word stays readable.
QString inCharset(QByteArrayView bytes, QByteArrayView charset, bool strictUtf8)
{
    const QByteArrayView label = charset.trimmed();
    switch (labelOf(label)) {
    case Label::None:
        return mailtext::guess(bytes);
    case Label::Utf8:
        return strictUtf8 ? QString::fromUtf8(bytes) : mailtext::guess(bytes);
    case Label::Western:
        return ansi::toUnicode(bytes.data(), bytes.size());
    case Label::Other:
        if (auto text = convert(bytes, label.toByteArray().toLower().constData()))
            return *text;
        break;
    }
    return mailtext::guess(bytes);
}

// Raw header bytes outside encoded-words.
QString rawText(QByteArrayView bytes, QByteArrayView charset)
{
    if (!mailtext::needsCharset(bytes))
        return QString::fromUtf8(bytes);
    const QByteArrayView label = charset.trimmed();
    if (labelOf(label) == Label::Other)
        if (auto text = convert(bytes, label.toByteArray().toLower().constData()))
            return *text;
    return ansi::toUnicode(bytes.data(), bytes.size());
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

int base64Value(char c)
{
    static constexpr auto values = [] {
        std::array<signed char, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[i] = -1;
        for (int i = 0; i < 26; ++i) {
            t['A' + i] = static_cast<signed char>(i);
            t['a' + i] = static_cast<signed char>(26 + i);
        }
        for (int i = 0; i < 10; ++i)
            t['0' + i] = static_cast<signed char>(52 + i);
        t['+'] = 62;
        t['/'] = 63;
        return t;
    }();
    return values[uchar(c)];
}

// Base64 text decoded into out as QByteArray::fromBase64Encoding() reads it when told to stop
// at errors: the standard alphabet, then nothing, or one or two '=' ending a text whose length
// is a multiple of four; false for anything else. Written straight into out's storage.
bool decodeBase64(QByteArrayView text, QByteArray &out)
{
    const qsizetype size = text.size();
    qsizetype valid = 0;
    while (valid < size && base64Value(text[valid]) >= 0)
        ++valid;
    if (valid < size) {
        const bool padding = text[valid] == '=' && size % 4 == 0
                             && (valid == size - 1 || (valid == size - 2 && text[size - 1] == '='));
        if (!padding)
            return false;
    }
    // Six bits a character, a byte out for every eight.
    out.resize(valid * 3 / 4);
    char *p = out.data();
    unsigned buffer = 0;
    int bits = 0;
    for (qsizetype i = 0; i < valid; ++i) {
        buffer = buffer << 6 | unsigned(base64Value(text[i]));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            *p++ = char(buffer >> bits);
            buffer &= (1u << bits) - 1;
        }
    }
    return true;
}

struct Word
{
    qsizetype end = 0;      // just past its "?="
    QByteArrayView charset; // as written, without an RFC 2231 language
};

// The encoded-word "=?charset?B|Q?text?=" that starts at at, its text transfer-decoded into
// bytes (whose storage is reused from word to word); null when there is none or its text does
// not decode, so that it shows as written.
std::optional<Word> wordAt(QByteArrayView v, qsizetype at, QByteArray &bytes)
{
    qsizetype p = at + 2;
    const qsizetype charsetStart = p;
    while (p < v.size() && v[p] != '?' && !isBlank(v[p]) && p - charsetStart < 64)
        ++p;
    if (p == charsetStart || p + 2 >= v.size() || v[p] != '?' || v[p + 2] != '?')
        return std::nullopt;
    Word word;
    word.charset = v.sliced(charsetStart, p - charsetStart);
    if (const qsizetype star = word.charset.indexOf('*'); star >= 0)
        word.charset.truncate(star);
    const char encoding = v[p + 1];
    const qsizetype textStart = p + 3;
    qsizetype q = textStart;
    while (q < v.size() && v[q] != '?' && !isBlank(v[q]))
        ++q;
    if (q + 1 >= v.size() || v[q] != '?' || v[q + 1] != '=')
        return std::nullopt;
    const QByteArrayView text = v.sliced(textStart, q - textStart);
    if (encoding == 'B' || encoding == 'b') {
        if (!decodeBase64(text, bytes))
            return std::nullopt;
    } else if (encoding == 'Q' || encoding == 'q') {
        bytes.resize(0);
        bytes.reserve(text.size());
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == '_') {
                bytes.append(' ');
            } else if (text[i] == '=' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
                bytes.append(char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
                i += 2;
            } else {
                bytes.append(text[i]);
            }
        }
    } else {
        return std::nullopt;
    }
    word.end = q + 2;
    return word;
}

// Walks a value: literal(from, to) for the text between encoded-words, run(text) for each
// run of adjacent encoded-words (only blanks between them, which go), decoded.
template<typename Literal, typename Run>
void walk(QByteArrayView v, Literal literal, Run run)
{
    qsizetype done = 0;      // end of what was handed over
    qsizetype runEnd = -1;   // end of the last word of the open run, -1 when none is open
    QString runText;
    // The open run's last words in one charset, not yet decoded; no group open while null.
    QByteArrayView groupCharset;
    QByteArray groupBytes;
    QByteArray wordBytes;
    const auto closeGroup = [&] {
        if (!groupBytes.isEmpty() || !groupCharset.isEmpty())
            runText += inCharset(groupBytes, groupCharset, false);
        groupBytes.resize(0);
        groupCharset = {};
    };
    const auto closeRun = [&] {
        if (runEnd < 0)
            return;
        closeGroup();
        run(runText);
        runText.clear();
        done = runEnd;
        runEnd = -1;
    };
    for (qsizetype at = mailtext::encodedWordStart(v); at >= 0; at = mailtext::encodedWordStart(v, at)) {
        const std::optional<Word> word = wordAt(v, at, wordBytes);
        if (!word) {
            at += 1;
            continue;
        }
        const qsizetype from = runEnd >= 0 ? runEnd : done;
        bool onlyBlanks = runEnd >= 0;
        for (qsizetype i = from; onlyBlanks && i < at; ++i)
            onlyBlanks = isBlank(v[i]);
        if (!onlyBlanks) {
            closeRun();
            literal(done, at);
        }
        if (!sameLetters(word->charset, groupCharset))
            closeGroup();
        groupCharset = word->charset;
        groupBytes += wordBytes;
        runEnd = word->end;
        at = word->end;
    }
    closeRun();
    literal(done, v.size());
}

} // namespace

namespace mailtext {

QString guess(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return ansi::toUnicode(bytes.data(), bytes.size());
}

QString decode(QByteArrayView bytes, QByteArrayView charset)
{
    return inCharset(bytes, charset, true);
}

qsizetype encodedWordStart(QByteArrayView value, qsizetype from)
{
    // The '=' is looked for up to the last byte but one: its '?' must follow.
    for (qsizetype at = from; at < value.size() - 1; ++at) {
        const auto *found = static_cast<const char *>(std::memchr(value.data() + at, '=', size_t(value.size() - 1 - at)));
        if (!found)
            return -1;
        at = found - value.data();
        if (value[at + 1] == '?')
            return at;
    }
    return -1;
}

bool needsCharset(QByteArrayView bytes)
{
    for (const char c : bytes)
        if (uchar(c) >= 0x80)
            return !isUtf8(bytes);
    return false;
}

QString headerText(QByteArrayView value, QByteArrayView charset)
{
    // Unfolded: the line breaks go, the blanks that follow them stay. Copied only when a break
    // stands before the value's end.
    QByteArray unfolded;
    QByteArrayView v = value;
    for (qsizetype at = 0; at < value.size();) {
        qsizetype nl = value.indexOf('\n', at);
        const qsizetype next = nl < 0 ? value.size() : nl + 1;
        if (nl < 0)
            nl = value.size();
        else if (nl > at && value[nl - 1] == '\r')
            --nl;
        if (at == 0 && next == value.size()) {
            v = value.first(nl);
            break;
        }
        unfolded.append(value.sliced(at, nl - at));
        v = unfolded;
        at = next;
    }
    while (!v.isEmpty() && (v.front() == ' ' || v.front() == '\t'))
        v = v.sliced(1);
    if (encodedWordStart(v) < 0)
        return rawText(v, charset);
    QString out;
    walk(
        v, [&](qsizetype from, qsizetype to) { out += rawText(v.sliced(from, to - from), charset); },
        [&](const QString &text) { out += text; });
    return out;
}

QByteArray forParser(QByteArrayView value, QByteArrayView charset)
{
    bool eightBit = false;
    for (const char c : value)
        eightBit = eightBit || uchar(c) >= 0x80;
    if (!eightBit && encodedWordStart(value) < 0)
        return value.toByteArray();
    QByteArray out;
    out.reserve(value.size() + value.size() / 2);
    walk(
        value,
        [&](qsizetype from, qsizetype to) {
            const QByteArrayView text = value.sliced(from, to - from);
            out += eightBit ? rawText(text, charset).toUtf8() : text.toByteArray();
        },
        [&](const QString &text) {
            static const char hex[] = "0123456789ABCDEF";
            out += "=?UTF-8?Q?";
            for (const char c : text.toUtf8()) {
                if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
                    out += c;
                } else {
                    out += '=';
                    out += hex[uchar(c) >> 4];
                    out += hex[uchar(c) & 15];
                }
            }
            out += "?=";
        });
    return out;
}

} // namespace mailtext
