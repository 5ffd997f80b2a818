// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QStringList>

// pelicorde-check --learn-spam PATH… --learn-ham PATH…: teaches the learned score from mail
// the user already sorted on the disk (message files, mbox files, Maildir or MH folders), into
// the database the window scores with. Each option applies to the paths after it. Prints one
// line of JSON a path; a path that gave nothing, or a database that cannot be written, is said
// on stderr and makes the exit code 2.
namespace checklearning {

bool isLearnOption(const QString &argument);
int learnFromFiles(const QStringList &arguments, const QString &dataFolder);

} // namespace checklearning
