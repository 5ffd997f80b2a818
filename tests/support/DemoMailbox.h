// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QList>

// A small, plausible French mailbox for the demo and for end-to-end tests: newsletters, private
// mail, plain-text, HTML and multipart/alternative messages, one message with two attachments,
// and seven obvious spams from three sender domains, dated from 26 November to 7 December 2026.
namespace demo {

// The raw messages (RFC 5322, CRLF line ends), oldest first: the server's numbering.
QList<QByteArray> messages();

// The bare address the messages are sent to; usable as the demo account's user name.
QByteArray address();

// The blacklist file "Liste-noire.txt" (Windows-1252 bytes, entries "pattern TAB 00/00/0000 CR LF")
// whose patterns catch every spam sender above and nothing else; its last entry catches nothing.
QByteArray blacklist();

// The message numbers (1-based, as on the server) of the messages the blacklist catches.
QList<int> spamNumbers();

} // namespace demo
