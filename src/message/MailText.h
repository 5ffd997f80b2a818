// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Text out of mail bytes: bodies in their declared charset, header values with their
// encoded-words (RFC 2047) and raw 8-bit bytes.
namespace mailtext {

// Bytes without a (usable) charset label: UTF-8 when they are valid UTF-8, else Windows-1252.
QString guess(QByteArrayView bytes);

// A text part's bytes in the charset it declares; a sequence that charset does not hold
// becomes U+FFFD. No label, US-ASCII or an unknown charset: guess(); ISO-8859-1: Windows-1252,
// which mail labelled Latin-1 is often written in.
QString decode(QByteArrayView bytes, QByteArrayView charset);

// An unstructured header value as it follows the colon (folds and line end included).
// Each encoded-word is decoded on its own; the bytes of adjacent words in one charset are
// joined first, so that a character a mailer split between two words comes out whole.
// Blanks between adjacent encoded-words go, leading blanks go, trailing blanks stay.
// Raw 8-bit text reads as UTF-8 when valid, else in charset (the one the message's text
// declares) when given, else as Windows-1252.
QString headerText(QByteArrayView value, QByteArrayView charset = {});

// A structured value (addresses, parameters) for GMime's parsers, which then decode nothing
// themselves: every run of encoded-words rewritten as one UTF-8 word of the text headerText()
// gives it, raw 8-bit text as UTF-8. Unchanged when it holds neither.
QByteArray forParser(QByteArrayView value, QByteArrayView charset = {});

// Where "=?", which may start an encoded-word, first stands in value from from on; -1 if nowhere.
// A search for the '=' alone: header text seldom holds one.
qsizetype encodedWordStart(QByteArrayView value, qsizetype from = 0);

// True when bytes are not ASCII and not valid UTF-8: their reading needs a charset.
bool needsCharset(QByteArrayView bytes);

} // namespace mailtext
