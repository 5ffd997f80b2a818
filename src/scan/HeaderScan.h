// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

#include "core/AccountFile.h"
#include "protocol/MailConnection.h"
#include "mailbox/SpamMarking.h"

struct CheckState;
class MessageList;
class ScanController;
class TForm1;

// The handler of BitBtn2 "Réception des messages" (F5, a chosen account and the first show too):
// rebuilds the message list from the server's headers. A press while another server operation
// runs is refused with a beep; one that comes before the server's login delay has passed
// (LOGIN-DELAY) waits for it: the status line says when the scan will run, and it then runs by
// itself.
void headerScan(TForm1 &form);

// The handler of a scan asked for by a timer tick or the tray menu (and of a held or deferred
// one): runs now when no server operation runs and no box waits for an answer, otherwise once
// both have ended (several requests make one scan). False when it waits for the server's login
// delay: it then runs by itself once that has passed; scanStop says when, for the caller to show.
bool requestScan(TForm1 &form);

// The scan after a change of the mailbox (a deletion). When it has to wait for the server's
// login delay, the list is emptied meanwhile, as its rows no longer match the server.
void rescanAfterChange(TForm1 &form);

// One scan of the window, as its handler reads it from the window at its start.
struct ScanJob
{
    accounts::Account fields; // the connection fields as typed: incomplete, nothing is read
    MailAccount account;      // the account they name, which the scan reads
    QString dataFolder;       // its records, and the blacklist
    CheckState &check;
    MessageList &list;
    ScanController &scans; // the held scan, the display the scan shows on, the suggestions' switch
};

// The job of a handler, read from the window once.
ScanJob scanJobOf(TForm1 &form);
// The blacklist and the friends list of the data folder, as the marking reads them.
SenderLists markingLists(const QString &dataFolder);

// What the handlers above do, below the window.
void scanHeaders(const ScanJob &job);
bool scanOnRequest(const ScanJob &job);
void scanAfterChange(const ScanJob &job);
