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

} // namespace files

// Attachment file names come from the sender of the mail: they must not steer a write out
// of the data folder, hide control characters from the user, or go through a link.
namespace attachments {

// A bare file name to join to the data folder: the last component of name (after any "/"
// or "\"), control characters replaced by "_", characters outside Windows-1252 written as
// "?" (the program's code page), at most 255 bytes on disk. A name that is empty, "." or
// ".." becomes "piece-jointe-<ordinal>".
QString safeFileName(const QString &name, int ordinal);

// True when anything at all is at path: a file, a folder, or a link (also a dangling one).
bool entryExists(const QString &path);

// Writes content as a new regular file at path with the usual permissions (umask), replacing
// what is there: a file is replaced whole, a symbolic link is replaced by the file, its
// target left untouched. The content goes to a fresh file beside path first, then is renamed
// over it, so a failed write leaves the earlier file as it was. False with *error set on failure.
bool writeReplacing(const QString &path, const QByteArray &content, QString *error = nullptr);

} // namespace attachments
