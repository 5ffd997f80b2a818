// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QString>

// Every file of the program is 8-bit Windows-1252 text without a byte-order mark.
// A character outside the code page is written as '?'.
namespace ansi {
QByteArray fromUnicode(const QString &text);
QString toUnicode(const QByteArray &bytes);
QString toUnicode(const char *data, qsizetype size);
}
