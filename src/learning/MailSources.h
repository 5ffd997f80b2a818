// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

// Messages kept on the disk, read for their header blocks alone: to learn from mail the user
// already sorted (pelicorde-check --learn-spam, --learn-ham) and for the benchmarks.
namespace learning {

struct SourceSummary
{
    int messages = 0;
    QStringList problems; // one line in French for each path or file that was passed over
};

// Calls take(header) with the header block of each message at path (without the blank line
// that ends it), in the order of the file names, until take returns false. path may be:
// - a folder: a Maildir (the files of its cur/ and new/ together), or else a folder of message
//   files (one message each, as MH and many mail readers keep them);
// - an mbox file (it starts with a "From " line; messages begin at a "From " line after a
//   blank line or at the start);
// - a message file (a .eml).
// Only regular files are read (a FIFO or a device in a folder is passed over and said in the
// problems), each with its header cut at 1 MiB; a message's body is never kept in memory.
SourceSummary readHeaderBlocks(const QString &path, const std::function<bool(const QByteArray &header)> &take);

} // namespace learning
