#pragma once
#include <functional>

// One server operation at a time: POP3 servers lock the mailbox, so a second session during a
// running one fails anyway. A scan asked for by a timer or the tray menu while an operation
// runs is deferred and runs once when it ends; a user action is refused by its caller.
class ServerOperation
{
public:
    ServerOperation();
    ~ServerOperation();
    ServerOperation(const ServerOperation &) = delete;
    ServerOperation &operator=(const ServerOperation &) = delete;

    static bool busy();
    // Remembers that a scan is wanted; several requests make one.
    static void deferScan();
    static bool scanDeferred();
    // A scan is starting: what was deferred is answered by it.
    static void clearDeferredScan();
    // What runs a deferred scan (the main window's scan); set once at start.
    static void setDeferredScanRunner(std::function<void()> runner);
};
