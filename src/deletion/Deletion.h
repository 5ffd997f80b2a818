// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

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
// as it comes.
DeletionRun deleteMarkedRows(const MailAccount &account, const QString &dataFolder, const MessageList &list);
