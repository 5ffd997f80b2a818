// SPDX-License-Identifier: GPL-3.0-or-later
// A subject as mailers split a long one: words, each encoded on its own (base64 with its own
// padding, or quoted-printable), on one line or folded. The list and the preview read back the
// words, none lost or cut. The input is the words, separated by 0xFF bytes; each word's bytes
// are read as UTF-8, its control characters left out.
#include "FuzzCheck.h"
#include "message/MailMessage.h"

#include <QStringList>

namespace {

QByteArray qEncoded(const QByteArray &bytes)
{
    QByteArray out;
    for (const char c : bytes) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            out += c;
        else if (c == ' ')
            out += '_';
        else
            out += '=' + QByteArray::number(uchar(c), 16).rightJustified(2, '0').toUpper();
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray header = "Subject:";
    QString expected;
    int index = 0;
    for (const QByteArray &chunk : input.split('\xFF')) {
        QString word = QString::fromUtf8(chunk);
        word.removeIf([](QChar c) { return holdsControl(QString(c)); });
        if (word.isEmpty())
            continue;
        expected += word;
        const QByteArray bytes = word.toUtf8();
        // The separator and the encoding follow from the word's place and first byte.
        header += index++ % 3 == 2 ? "\r\n\t" : " ";
        header += uchar(bytes[0]) % 2 ? "=?UTF-8?B?" + bytes.toBase64() + "?=" : "=?utf-8?Q?" + qEncoded(bytes) + "?=";
    }
    header += "\r\nFrom: a@example.org\r\n\r\n";

    FUZZ_CHECK(MailMessage::parse(header).subject() == expected);
    FUZZ_CHECK(MailMessage::parseListFields(header).subject() == expected);
    return 0;
}
