// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QList>
#include <QString>

#include "core/BlacklistFile.h"
#include "learning/LearnedStore.h"

class MessageList;
class QObject;
class ScanDisplay;
class TForm1;

// The handlers of the marks given from the list itself and of the suggestions' switch.
void switchSuggestions(TForm1 &form);  // CheckBox4: saved, and the rows marked again at once
void openFriendsEditor(TForm1 &form);  // BitBtn9: the friends list in the blacklist's editor
void addSenderToBlacklist(TForm1 &form); // RowMenu, for the row it was opened on
void addSenderToFriends(TForm1 &form);
void notSpam(TForm1 &form);

// Below the window. The row's sender into a list; the rows marked again. A list that could not
// be written is said in a box.
void addSender(MessageList &list, int row, blacklist::SenderList which, const QString &dataFolder, bool suggestions);
// Unticks row as the user would, and learns at once that it is legitimate, off the window's
// thread (it would also be learned so at the next deletion).
void markNotSpam(MessageList &list, int row, const QString &dataFolder, QObject *receiver, ScanDisplay &display);
// Learns lessons into the data folder's store in a thread of the pool; a problem with the store
// goes to the status line when the learning is over. The window never waits for it.
void learnLessons(const QString &dataFolder, const QList<learning::Lesson> &lessons, QObject *receiver,
                  ScanDisplay &display);
