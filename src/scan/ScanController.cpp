// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/ScanController.h"

#include "core/SafeFile.h"
#include "core/ServerOperation.h"
#include "learning/LearnedStore.h"

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

const learning::SpamScorer &ScanController::scorer(const QString &dataFolder, QString *problem)
{
    const QString path = learning::LearnedStore::pathIn(dataFolder);
    // Nothing learned yet: no database is made for a scan.
    if (!files::entryExists(path)) {
        m_scorer = learning::SpamScorer();
        m_scorerKey.clear();
        return m_scorer;
    }
    learning::LearnedStore store(path);
    // Read before the scorer: a write in between makes the next scan read it again. The
    // generation starts again with a database made anew (one moved aside, say): the counts
    // tell that one from the one kept. The first read also tells of a damaged database put aside.
    QString note;
    const std::optional<learning::LearnedTotals> totals = store.totals(&note);
    const std::optional<qint64> generation = totals ? store.generation() : std::nullopt;
    QList<qint64> key;
    if (generation)
        key = {*generation, totals->spam, totals->ham, totals->tokens, totals->messages};
    if (!key.isEmpty() && path == m_scorerPath && key == m_scorerKey) {
        *problem = note;
        return m_scorer;
    }
    m_scorer = store.scorer(problem);
    if (problem->isEmpty())
        *problem = note;
    m_scorerPath = path;
    m_scorerKey = key;
    return m_scorer;
}
