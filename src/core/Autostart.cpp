// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <QStandardPaths>

#include "core/Folders.h"
#include "core/SafeFile.h"

namespace autostart {

namespace {
// A desktop entry's Exec quotes an argument that holds a blank or a reserved character.
QString execArgument(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    if (std::none_of(path.cbegin(), path.cend(), [](QChar c) { return reserved.contains(c); }))
        return path;
    QString quoted = path;
    for (const char *special : {"\\", "\"", "`", "$"})
        quoted.replace(QLatin1String(special), QLatin1Char('\\') + QLatin1String(special));
    // The entry's own escaping comes on top of the Exec quoting.
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
} // namespace

QString entryPath()
{
    return folders::join(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                         QStringLiteral("autostart/pelicorde.desktop"));
}

bool enabled()
{
    return QFile::exists(entryPath());
}

bool setEnabled(bool on, const QString &program, QString *why)
{
    const QString path = entryPath();
    if (!on) {
        if (!files::entryExists(path) || QFile::remove(path))
            return true;
        if (why)
            *why = QStringLiteral("Impossible de supprimer %1").arg(path);
        return false;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray entry = QStringLiteral("[Desktop Entry]\n"
                                            "Type=Application\n"
                                            "Name=Pelicorde\n"
                                            "Comment=Surveille la boîte aux lettres depuis la zone de notification\n"
                                            "Exec=%1 --tray\n"
                                            "Icon=pelicorde\n"
                                            "Terminal=false\n"
                                            "X-GNOME-Autostart-enabled=true\n")
                                 .arg(execArgument(program))
                                 .toUtf8();
    return files::writeWhole(path, entry, files::Existing::MustBeRegular, 0644, why);
}

} // namespace autostart
