// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Options.h"

#include <QByteArrayList>

#include "core/Folders.h"
#include "core/SafeFile.h"

namespace options {

namespace {

constexpr qint64 kMaxBytes = 64 * 1024;
const QByteArray SuggestionsKey = "suggestions";

QByteArrayList lines(const QString &dataFolder)
{
    const std::optional<QByteArray> bytes = files::readWhole(filePath(dataFolder), kMaxBytes);
    return bytes ? bytes->split('\n') : QByteArrayList();
}

} // namespace

QString filePath(const QString &dataFolder) { return folders::join(dataFolder, QLatin1String(kFileName)); }

bool suggestions(const QString &dataFolder)
{
    for (const QByteArray &line : lines(dataFolder))
        if (line.trimmed() == SuggestionsKey + "=0")
            return false;
    return true;
}

bool setSuggestions(const QString &dataFolder, bool on, QString *why)
{
    // Options written by a later version are kept as they are.
    QByteArray content;
    for (const QByteArray &line : lines(dataFolder))
        if (!line.trimmed().isEmpty() && !line.trimmed().startsWith(SuggestionsKey + '='))
            content += line.trimmed() + '\n';
    if (!on)
        content += SuggestionsKey + "=0\n";
    return files::writePrivate(filePath(dataFolder), content, why);
}

} // namespace options
