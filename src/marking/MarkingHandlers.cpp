// SPDX-License-Identifier: GPL-3.0-or-later
#include "marking/MarkingHandlers.h"

#include "blacklist/BlacklistHandlers.h"
#include "core/FriendsFile.h"
#include "core/Options.h"
#include "core/Prompter.h"
#include "mailbox/MessageList.h"
#include "mailbox/SpamMarking.h"
#include "scan/HeaderScan.h"
#include "scan/ScanController.h"
#include "scan/ScanDisplay.h"
#include "window/PelicordeFP.h"
#include "window/PelicordeFS1.h"

void switchSuggestions(TForm1 &form)
{
    const bool on = form.suggestionsOn();
    form.scans->setSuggestions(on);
    // The rows follow the switch even when it could not be saved: the box says it will not last.
    if (QString why; !options::setSuggestions(form.dataFolder, on, &why))
        prompter().information(why);
    remark(*form.list, markingLists(form.dataFolder), on);
}

void openFriendsEditor(TForm1 &form)
{
    if (Form2)
        openEditor(*Form2, friends::filePath(form.dataFolder), blacklist::SenderList::Friends);
}

void addSenderToBlacklist(TForm1 &form)
{
    addSender(*form.list, form.rowOfMenu(), blacklist::SenderList::Blacklist, form.dataFolder, form.suggestionsOn());
}

void addSenderToFriends(TForm1 &form)
{
    addSender(*form.list, form.rowOfMenu(), blacklist::SenderList::Friends, form.dataFolder, form.suggestionsOn());
}

void notSpam(TForm1 &form) { markNotSpam(*form.list, form.rowOfMenu(), form.dataFolder, &form, form.scans->display()); }

void addSender(MessageList &list, int row, blacklist::SenderList which, const QString &dataFolder, bool suggestions)
{
    if (row < 1 || row >= list.rows() || list.cell(row, MessageList::From).isEmpty())
        return;
    if (QString why; !addSenderToList(list, row, which, markingLists(dataFolder), suggestions, &why))
        prompter().information(why);
}

void markNotSpam(MessageList &list, int row, const QString &dataFolder, QObject *receiver, ScanDisplay &display)
{
    if (row < 1 || row >= list.rows() || list.cell(row, MessageList::From).isEmpty())
        return;
    list.setCell(row, MessageList::Mark, QString());
    if (const std::optional<learning::Lesson> lesson = list.lesson(row, learning::Verdict::Ham))
        learnLessons(dataFolder, {*lesson}, receiver, display);
}

void learnLessons(const QString &dataFolder, const QList<learning::Lesson> &lessons, QObject *receiver,
                  ScanDisplay &display)
{
    learning::learnInBackground(learning::LearnedStore::pathIn(dataFolder), lessons, receiver,
                                [&display](const learning::LearnOutcome &outcome) {
                                    if (!outcome.problem.isEmpty())
                                        display.showStatus(outcome.problem);
                                });
}
