// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

// The two folders the program works in, read from the environment once at start.
namespace folders {

// $APPDATA/Pelicorde when APPDATA is set and not empty, else the per-user data location
// (~/.local/share) + "/Pelicorde". No separator at the end.
QString dataFolderFromEnvironment();

// $TEMP when set and not empty, else a private per-user folder (mode 0700): the runtime
// location, or ~/.cache/Pelicorde when Qt has none to give. Never the root of the file system.
QString tempFolderFromEnvironment();

// A folder of this user's alone inside base, for a file no other user may plant or read (a
// shared TEMP such as /tmp): base/pelicorde-<uid>, made with mode 0700 when missing and taken
// only when it is a real folder of this user's that no one else can enter; otherwise a fresh
// base/pelicorde-<uid>-XXXXXX. Empty when none can be made.
QString privateFolderIn(const QString &base);

// True when a folder (or a link to one) is at path, or one folder level could be created there.
// Under the per-user default location the missing parents are created too.
bool ensureDataFolder(const QString &path);

// dir + "/" + name
QString join(const QString &dir, const QString &name);

} // namespace folders
