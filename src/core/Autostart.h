// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

// Starting with the desktop session: an XDG autostart entry that runs the program into the
// notification area ("--tray"). The entry itself is the setting: it exists or it does not.
namespace autostart {

// $XDG_CONFIG_HOME/autostart/pelicorde.desktop (~/.config/autostart when unset).
QString entryPath();
bool enabled();

// Writes the entry for program (its absolute path) or removes it. False with *why (French,
// naming the file) when that could not be done; the entry is then as it was.
bool setEnabled(bool on, const QString &program, QString *why = nullptr);

} // namespace autostart
