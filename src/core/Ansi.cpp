// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Ansi.h"

#include <array>

namespace {
// 0x80..0x9F of Windows-1252; 0 marks the five bytes the code page leaves undefined,
// which Windows maps to the C1 control of the same value.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t decodeByte(unsigned char b)
{
    if (b < 0x80 || b >= 0xA0)
        return b;
    const char16_t c = kHigh[b - 0x80];
    return c ? c : b;
}

char encodeChar(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (int i = 0; i < 32; ++i) {
        const char16_t mapped = kHigh[i] ? kHigh[i] : char16_t(0x80 + i);
        if (mapped == c)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}
} // namespace

namespace ansi {

QByteArray fromUnicode(const QString &text, Outside outside)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        char32_t code = c.unicode();
        // A surrogate pair is one character outside the code page: one '?'.
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            code = QChar::surrogateToUcs4(c, text.at(++i));
        const char byte = code > 0xFFFF ? '?' : encodeChar(char16_t(code));
        if (byte != '?' || code == '?' || outside == Outside::QuestionMark) {
            out.append(byte);
            continue;
        }
        // A lone surrogate is no character: the page shows U+FFFD.
        if (QChar::isSurrogate(code))
            code = QChar::ReplacementCharacter;
        out.append("&#x").append(QByteArray::number(uint(code), 16).toUpper()).append(';');
    }
    return out;
}

QString toUnicode(const char *data, qsizetype size)
{
    QString out(size, Qt::Uninitialized);
    QChar *dst = out.data();
    for (qsizetype i = 0; i < size; ++i)
        dst[i] = QChar(decodeByte(static_cast<unsigned char>(data[i])));
    return out;
}

QString toUnicode(const QByteArray &bytes)
{
    return toUnicode(bytes.constData(), bytes.size());
}

} // namespace ansi
