#include "mailbox/ServerOperation.h"

#include <QTimer>

namespace {
int g_depth = 0;
bool g_deferred = false;
std::function<void()> g_runner;

void runDeferred()
{
    if (!g_deferred || g_depth > 0)
        return;
    g_deferred = false;
    if (g_runner)
        g_runner();
}
} // namespace

ServerOperation::ServerOperation() { ++g_depth; }

ServerOperation::~ServerOperation()
{
    if (--g_depth == 0 && g_deferred)
        // Not from inside the ending operation: its caller may still be unwinding.
        QTimer::singleShot(0, [] { runDeferred(); });
}

bool ServerOperation::busy() { return g_depth > 0; }

void ServerOperation::deferScan() { g_deferred = true; }

bool ServerOperation::scanDeferred() { return g_deferred; }

void ServerOperation::clearDeferredScan() { g_deferred = false; }

void ServerOperation::setDeferredScanRunner(std::function<void()> runner) { g_runner = std::move(runner); }
