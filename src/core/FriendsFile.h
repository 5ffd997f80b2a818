// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>
#include <optional>

#include "core/BlacklistFile.h"
#include "core/DataFiles.h"

// The friends list "Liste-amis.txt", beside the blacklist and in its format (core/BlacklistFile.h),
// edited the same way: a sender an entry matches is never ticked, by the blacklist or by the
// learned score (mailbox/SpamMarking.h). The scan writes no date into it.
namespace friends {

inline constexpr const char *kFileName = datafiles::kFriends;

// dataFolder + "/Liste-amis.txt"
QString filePath(const QString &dataFolder);

inline std::optional<QString> loadEditorText(const QString &path, QString *why = nullptr)
{
    return blacklist::loadEditorText(path, why, blacklist::SenderList::Friends);
}
inline bool saveEditorText(const QString &path, const QString &text, const QString &loadedText = {},
                           QString *why = nullptr)
{
    return blacklist::saveEditorText(path, text, loadedText, why);
}
inline bool addPattern(const QString &path, const QString &pattern, QString *why = nullptr)
{
    return blacklist::addPattern(path, pattern, blacklist::SenderList::Friends, why);
}

} // namespace friends
