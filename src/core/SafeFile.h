// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>

// Every file the program reads goes through readWhole: whatever stands at its path (a FIFO, a
// link to a device, a file grown huge) costs at most the file's cap and never blocks.
namespace files {

// The file at path, read whole (links followed). nullopt when it is missing or cannot be opened
// or read, is not a regular file (a FIFO would block, a device such as /dev/zero never end) or
// holds more than maxBytes.
std::optional<QByteArray> readWhole(const QString &path, qint64 maxBytes);

// readWhole for a file that is then written in place: file (named, not open) is opened with
// mode, never created, and left open when the bytes are returned; closed otherwise.
std::optional<QByteArray> openAndReadWhole(QFile &file, QIODevice::OpenMode mode, qint64 maxBytes);

// What stands at a path before a file of the program's is written there.
enum class Existing {
    // A regular file or nothing: anything else (a symbolic link, a device, a FIFO, a folder) is
    // refused and left as it is, so that no write ever reaches what a link points to.
    MustBeRegular,
    // Whatever is there is replaced: a symbolic link by the new file, its target untouched.
    Replace,
};

// Writes content as the whole new file at path with permissions mode (less the umask),
// atomically: into a fresh file beside path first, flushed to the disk, then renamed over it,
// so that a failed write leaves the earlier file whole. False with *why set to a French
// sentence naming the file when nothing was replaced.
bool writeWhole(const QString &path, const QByteArray &content, Existing existing, unsigned mode,
                QString *why = nullptr);

// Mode 0600 for the program's own records (accounts, trust records, lists): refused when
// something other than a regular file stands at path.
bool writePrivate(const QString &path, const QByteArray &content, QString *why = nullptr);

// True when anything at all is at path: a file, a folder, or a link (also a dangling one).
bool entryExists(const QString &path);

// True when a symbolic link or anything other than a regular file stands at path (missing: false).
bool holdsOtherThanFile(const QString &path);

} // namespace files

// Attachment file names come from the sender of the mail: they must not steer a write out
// of the data folder, hide control characters from the user, or go through a link.
namespace attachments {

// A bare file name to join to the data folder: the last component of name (after any "/"
// or "\"), control characters replaced by "_", characters outside Windows-1252 written as
// "?" (the program's code page), at most 255 bytes on disk. A name that is empty, "." or
// ".." becomes "piece-jointe-<ordinal>".
QString safeFileName(const QString &name, int ordinal);

// The name an attachment called name (a safeFileName) is saved under: name itself, or, when
// the program reads a file of that name from the data folder (datafiles::isProgramFile),
// name with " (pièce jointe)" before its extension ("Certificats (pièce jointe).txt"), or
// after the whole name where the extension would still make it one ("_Favori.adr (pièce
// jointe)"); at most 255 bytes on disk.
QString clearOfProgramFiles(const QString &name);

using files::entryExists;

// Writes content as a new regular file at path with the usual permissions (umask), replacing
// what is there: a file is replaced whole, a symbolic link is replaced by the file, its
// target left untouched (files::writeWhole). False with *error set on failure.
bool writeReplacing(const QString &path, const QByteArray &content, QString *error = nullptr);

} // namespace attachments
