// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ServerOperation.h"

#include <QTimer>

namespace {
int g_depth = 0;
int g_boxes = 0;
bool g_deferred = false;
bool g_abandoned = false;
std::function<void()> g_runner;

void runDeferred()
{
    if (!g_deferred || ServerOperation::busy() || g_abandoned)
        return;
    g_deferred = false;
    if (g_runner)
        g_runner();
}

void scheduleDeferred()
{
    if (!ServerOperation::busy() && g_deferred)
        // Not from inside the ending operation or box: its caller may still be unwinding.
        QTimer::singleShot(0, [] { runDeferred(); });
}
} // namespace

ServerOperation::ServerOperation() { ++g_depth; }

ServerOperation::~ServerOperation()
{
    --g_depth;
    scheduleDeferred();
}

ServerOperation::BoxShown::BoxShown() { ++g_boxes; }

ServerOperation::BoxShown::~BoxShown()
{
    --g_boxes;
    scheduleDeferred();
}

bool ServerOperation::busy() { return g_depth > 0 || g_boxes > 0; }

void ServerOperation::deferScan() { g_deferred = true; }

bool ServerOperation::scanDeferred() { return g_deferred; }

void ServerOperation::clearDeferredScan() { g_deferred = false; }

void ServerOperation::setDeferredScanRunner(std::function<void()> runner) { g_runner = std::move(runner); }

void ServerOperation::abandonAll()
{
    g_abandoned = true;
    g_deferred = false;
}

bool ServerOperation::abandoned() { return g_abandoned; }

void ServerOperation::resume() { g_abandoned = false; }
