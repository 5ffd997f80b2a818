// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <functional>

// One server operation at a time: POP3 servers lock the mailbox, so a second session during a
// running one fails anyway. A scan asked for by a timer or the tray menu while an operation
// runs, or while a box of the program waits for an answer, is deferred and runs once both have
// ended; a user action is refused by its caller.
class ServerOperation
{
public:
    ServerOperation();
    ~ServerOperation();
    ServerOperation(const ServerOperation &) = delete;
    ServerOperation &operator=(const ServerOperation &) = delete;

    // A message box or question is on screen for the life of this object. A scan started
    // under it would change the list the box's answer acts on (the marks "Oui" deletes).
    class BoxShown
    {
    public:
        BoxShown();
        ~BoxShown();
        BoxShown(const BoxShown &) = delete;
        BoxShown &operator=(const BoxShown &) = delete;
    };

    // An operation runs or a box is on screen.
    static bool busy();
    // Remembers that a scan is wanted; several requests make one.
    static void deferScan();
    static bool scanDeferred();
    // A scan is starting: what was deferred is answered by it.
    static void clearDeferredScan();
    // What runs a deferred scan (the main window's scan); set once at start.
    static void setDeferredScanRunner(std::function<void()> runner);

    // The main window was closed: the running operation is given up at its next step (its
    // session dropped without QUIT), nothing deferred runs and no box appears any more.
    static void abandonAll();
    static bool abandoned();
    // A new main window: nothing is given up.
    static void resume();
};
