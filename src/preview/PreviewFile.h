// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

// Writes text, in Windows-1252 (what it cannot hold as HTML character references), as the
// whole content of the file at path: a fresh file of mode 0600 is written beside it and
// renamed over it, so that whatever stood at path (a symbolic link or a hard link planted
// there included) is replaced, never written through.
// False when the file could not be written; path is then left as it was.
bool writePreviewFile(const QString &path, const QString &text);
