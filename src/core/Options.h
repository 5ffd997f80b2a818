// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

#include "core/DataFiles.h"

// The window's options that outlive it, in "Options.txt" of the data folder: one "name=value"
// a line. Only what differs from the default is written; a missing or unreadable file means
// the defaults, so a damaged file never stops the program.
namespace options {

inline constexpr const char *kFileName = datafiles::kOptions;

// dataFolder + "/Options.txt"
QString filePath(const QString &dataFolder);

// Whether the learned score ticks the rows it suggests (on by default).
bool suggestions(const QString &dataFolder);
// Saved as the other data files are (atomic, 0600); false, *why in French, when it could not be.
bool setSuggestions(const QString &dataFolder, bool on, QString *why = nullptr);

} // namespace options
