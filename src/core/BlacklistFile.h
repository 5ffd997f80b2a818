// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>

#include "core/DataFiles.h"

// The blacklist file "Liste-noire.txt": one entry per line, pattern, TAB, 10-byte last-match
// date ("00/00/0000" until the entry first catches a sender), CR LF; Windows-1252.
// These are the editor's load and save; the scan's in-place date update is in
// mailbox/SpamMarking.h. The friends list (core/FriendsFile.h) has the same format and the
// same editor, through the same functions.
namespace blacklist {

// Which of the two lists of senders a file is, for the texts that name it.
enum class SenderList { Blacklist, Friends };

inline constexpr const char *kFileName = datafiles::kBlacklist;
inline constexpr char kPlaceholderDate[] = "00/00/0000";

// Shows a NUL byte of the file in the editor, and is written back as NUL. A NUL has no
// business in the file, but hiding it (or cutting the text there) would make the next save
// drop every entry after it. The same character typed by the user is no NUL of the file:
// it is written as '?'.
inline constexpr char16_t kNulSymbol = u'\u2400'; // SYMBOL FOR NULL

// A blacklist is a few thousand lines; a bigger file is taken for one that cannot be opened.
// 1 MiB holds some 30,000 entries; a scan's pass over 16 MiB of entries would hold the window
// for many seconds and most of a gigabyte.
inline constexpr qint64 kMaxFileSize = 1024 * 1024;

// dataFolder + "/Liste-noire.txt"
QString filePath(const QString &dataFolder);

// Another editor may have put a UTF-8 byte order mark at the start: 3 when bytes start with
// one, else 0. Nothing of the program reads it as text, and the editor does not write it back.
qsizetype byteOrderMarkLength(const QByteArray &bytes);

// The editor's text for the file's bytes, a byte order mark left out: CR LF becomes a line
// break, and so does a lone CR or LF (the editor can only show it as one); NUL becomes
// kNulSymbol; the rest is shown as it stands, TABs and dates included.
QString textFromBytes(const QByteArray &bytes);

// The file's bytes for the editor's text. The text is split at its line breaks ("\n", CR LF,
// a lone CR, U+2028, U+2029); a line break at the very end gives no extra line, so an empty
// text gives no bytes. Each line is converted to Windows-1252 ('?' outside it); a line
// without TAB gets TAB + "00/00/0000"; every line ends with CR LF.
// kNulSymbol goes back to NUL only on a line that is, unchanged, a line of loadedText (the
// text the file was loaded as), where it stands for a NUL of the file; anywhere else the
// user typed it, and it is written '?'.
QByteArray bytesFromText(const QString &text, const QString &loadedText = {});

// Reads the whole file for the editor. nullopt when there is nothing to read: the file is
// missing (*why left empty: the caller beeps and keeps the editor's text, which a save then
// writes), or something stands there that cannot be read as the blacklist (*why, in French,
// naming the file and the cause: a link, a device, a FIFO, a folder, a file over kMaxFileSize,
// one the system refuses to read). The editor must then not save over it.
std::optional<QString> loadEditorText(const QString &path, QString *why = nullptr,
                                      SenderList list = SenderList::Blacklist);

// Take the memo's text with document()->toRawText(): toPlainText() turns non-breaking spaces
// (byte 0xA0) into spaces, which would change patterns on a mere load and save.
// Writes bytesFromText(text, loadedText) to path atomically, mode 0600 (files::writePrivate: a
// link or a device there is refused, never written through). False when nothing was replaced:
// the old file, if any, is whole, and *why says why.
bool saveEditorText(const QString &path, const QString &text, const QString &loadedText = {},
                    QString *why = nullptr);

// Adds pattern as the list's last entry, its date the placeholder: the file is written as the
// editor saves it once the user has typed pattern on a line of its own at the end of the text
// it loaded (a missing file is created). Nothing is written when an entry holds the pattern
// already (true), nor when the file cannot be loaded as the editor would (false, *why as
// loadEditorText says) or the pattern has no place in the file: empty, or holding a TAB, a
// line break or a character outside Windows-1252 (false, *why in French).
bool addPattern(const QString &path, const QString &pattern, SenderList list = SenderList::Blacklist,
                QString *why = nullptr);

} // namespace blacklist
