// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QString>

// Every file of the program is 8-bit Windows-1252 text without a byte-order mark.
// A character outside the code page is written as '?', or, in a web page, as an HTML numeric
// character reference ("&#x4E2D;"), so that the page shows it.
namespace ansi {
enum class Outside { QuestionMark, CharacterReference };
QByteArray fromUnicode(const QString &text, Outside outside = Outside::QuestionMark);
QString toUnicode(const QByteArray &bytes);
QString toUnicode(const char *data, qsizetype size);
}
