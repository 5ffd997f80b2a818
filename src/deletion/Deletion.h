// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QList>
#include <QString>

#include "learning/LearnedStore.h"
#include "mailbox/Removal.h"

class MessageList;
class TForm1;
struct MailAccount;

// The handler of BitBtn4: deletes the marked messages on the server, then scans again.
void deleteMarked(TForm1 &form);

// What a deletion run came to, for the scan that follows it.
enum class DeletionRun {
    NotRun,  // refused or not confirmed: nothing to scan again
    Kept,    // the mailbox is as it was: its rows still stand for its messages
    Changed, // the mailbox may have changed: rows kept until the next login would mislead
};

// Removes the marked rows of list from the mailbox of account (with the records of dataFolder),
// after a warning and a check that each one still stands for the same message, every box shown
// as it comes. When the removal went through, *lessons gets what it teaches the learned score
// (MessageList::lessonsAfterDeletion: the rows the server kept teach nothing).
DeletionRun deleteMarkedRows(const MailAccount &account, const QString &dataFolder, const MessageList &list,
                             QList<learning::Lesson> *lessons = nullptr);

// The warning before a deletion, as the scan (or the server, asked before the warning) found
// the mailbox, with how many of the ticked rows the learned score suggested.
QString deletionWarning(const MessageList &list, const Removal &removal);
