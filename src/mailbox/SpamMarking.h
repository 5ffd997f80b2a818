// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

#include "core/BlacklistFile.h"

class MessageList;

// The blacklist pass of every scan. Reads the blacklist file at path (see
// core/BlacklistFile.h) and cuts it into tokens at every TAB, CR and LF; every token
// ended by one of them is tested, in file order, against the sender (column From) of each
// data row whose Mark cell is still empty: a case-sensitive substring test, an empty token
// never matching. A matching row gets the mark "1" and is not tested again, so the first
// entry that catches a row is the one that records it.
//
// When a token marks at least one row and the TAB of a well-formed entry ends it (TAB, 10
// bytes without TAB/CR/LF, CR LF), those 10 bytes are skipped rather than tested and, when
// lastHeaderDate is a 10-byte date, overwritten with it in place, once. No date is written
// when lastHeaderDate is empty (no header was read) or when the entry is not well formed;
// the rows are marked all the same. No other byte of the file changes.
//
// A UTF-8 byte order mark at the start of the file is no part of the first entry.
//
// A missing file, one that cannot be opened for writing (a read-only file included) or read,
// one that is not a regular file or is too large (files::readWhole): nothing is marked. A
// failed date write ends the pass there: the marks of the entries up to that one stay. Never
// raises and never shows anything.
//
// With BlacklistDates::Leave the file is opened read-only and nothing is written: the marks
// alone, for a reader that never writes the blacklist (pelicorde-check), a read-only file too.
//
// False when something stands at path that could not be read (a FIFO, a device, a file over
// the cap, one the system refuses): nothing is then marked, and a caller that reports its
// counts must not report them as if there were no blacklist. True otherwise, a missing file
// and a read-only one left alone included.
enum class BlacklistDates { Write, Leave };
bool blacklistPass(const QString &path, MessageList &list, const QString &lastHeaderDate,
                   BlacklistDates dates = BlacklistDates::Write);

// The marking of a scan's rows, and again from the list itself: the friends list first (see
// core/FriendsFile.h: a row whose sender contains one of its patterns, as the blacklist tests
// them, is never ticked by the marking), then the blacklist pass above over the other rows,
// then the learned score's suggestions, when switched on: each row the scan scored (see
// MessageList::setScores) that is still unticked and that the score suggests
// (MessageList::scoreSuggests) is ticked as a suggestion. A ticked row is never unticked; an
// unticked one is open to the marking, whoever unticked it (a scan's marks, as ever).
struct SenderLists
{
    QString blacklist; // path of "Liste-noire.txt"; empty: none
    QString friends;   // path of "Liste-amis.txt"; empty: none
};
struct MarkingOutcome
{
    // False when something stands at that path that could not be read (as blacklistPass). A
    // friends list that cannot be read leaves every row unticked: any tick could be a friend's.
    bool blacklistRead = true;
    bool friendsRead = true;
};
MarkingOutcome markingPasses(MessageList &list, const SenderLists &lists, const QString &lastHeaderDate,
                             BlacklistDates dates, bool suggestions);

// Marks the rows again without a new scan, once a list changed or the suggestions were
// switched on or off: every tick of the marking is made again from the lists and the rows'
// scores (the blacklist's dates left as they are). The rows the user ticked or unticked stay
// so, but for those whose sender contains stated: the sender the user just put in a list, his
// latest word on it.
MarkingOutcome remark(MessageList &list, const SenderLists &lists, bool suggestions, const QString &stated = {});

// The list's own "add the sender to the blacklist / to the friends": the sender of row (its
// From cell) becomes one more entry of that list, written as the editor writes it
// (blacklist::addPattern), and the rows are marked again at once (remark, stated = the
// sender). False, *why saying why in French, when the list could not be written: nothing
// changed then.
bool addSenderToList(MessageList &list, int row, blacklist::SenderList which, const SenderLists &lists,
                     bool suggestions, QString *why = nullptr);
