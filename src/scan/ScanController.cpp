// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/ScanController.h"

#include "core/Error.h"
#include "core/ServerOperation.h"
#include "scan/HeaderScan.h"
#include "window/PelicordeFP.h"

namespace {
// The window whose scans are deferred: the first one made, as tests make others beside it.
ScanController *g_deferring = nullptr;
} // namespace

ScanController::ScanController(TForm1 &form) : QObject(&form), m_form(form)
{
    m_loginDelay.setSingleShot(true);
    // Checked again when it fires: an early tick or a login meanwhile holds it again.
    connect(&m_loginDelay, &QTimer::timeout, this, [this] { guarded([this] { requestScan(m_form); }); });
    // A deferred scan runs once the running operation has ended, as a timer's request would
    // (it may then wait for the server's login delay).
    if (!g_deferring) {
        g_deferring = this;
        ServerOperation::setDeferredScanRunner([this] { guarded([this] { requestScan(m_form); }); });
    }
}

ScanController::~ScanController()
{
    if (g_deferring == this) {
        g_deferring = nullptr;
        ServerOperation::setDeferredScanRunner(nullptr);
    }
}
