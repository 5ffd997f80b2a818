// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/ScanController.h"

#include "core/ServerOperation.h"

namespace {
// The window whose scans are deferred: the first one made, as tests make others beside it.
ScanController *g_deferring = nullptr;
} // namespace

ScanController::ScanController(std::unique_ptr<ScanDisplay> display, QObject *parent)
    : QObject(parent), m_display(std::move(display))
{
    m_loginDelay.setSingleShot(true);
    // Checked again when it fires: an early tick or a login meanwhile holds it again.
    connect(&m_loginDelay, &QTimer::timeout, this, &ScanController::scanDue);
    if (!g_deferring) {
        g_deferring = this;
        ServerOperation::setDeferredScanRunner([this] { emit scanDue(); });
    }
}

ScanController::~ScanController()
{
    if (g_deferring == this) {
        g_deferring = nullptr;
        ServerOperation::setDeferredScanRunner(nullptr);
    }
}
