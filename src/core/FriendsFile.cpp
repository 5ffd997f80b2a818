// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/FriendsFile.h"

#include "core/Folders.h"

namespace friends {

QString filePath(const QString &dataFolder)
{
    return folders::join(dataFolder, QLatin1String(kFileName));
}

} // namespace friends
