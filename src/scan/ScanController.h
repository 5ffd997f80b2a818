// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QList>
#include <QObject>
#include <QTimer>
#include <memory>

#include "learning/SpamScore.h"
#include "scan/ScanDisplay.h"

// The scans of one window that nobody is waiting on: the one held back by the server's login
// delay, and the one deferred behind a running operation or an open box; and the display every
// scan of that window shows on. A child of the window, which keeps a pointer to it; both go
// with the window.
class ScanController : public QObject
{
    Q_OBJECT
public:
    ScanController(std::unique_ptr<ScanDisplay> display, QObject *parent);
    ~ScanController() override;

    ScanDisplay &display() { return *m_display; }

    // Holds the next scan for waitMs, then asks for it (scanDue); a new hold replaces the one
    // waiting.
    void holdFor(qint64 waitMs) { m_loginDelay.start(int(waitMs)); }
    // A scan is starting: nothing waits any more.
    void cancelHold() { m_loginDelay.stop(); }
    bool holding() const { return m_loginDelay.isActive(); }
    // The hold's timer, for tests that let it fire at once.
    QTimer *holdTimer() { return &m_loginDelay; }

    // What the store of dataFolder has learned, for a scan: read again only when the store
    // changed since the last scan (a deletion's lessons, pelicorde-check), since reading it
    // takes the window's thread. *problem: why the store could not be used.
    const learning::SpamScorer &scorer(const QString &dataFolder, QString *problem);
    // Whether the scans tick what the score suggests: read when a scan marks its rows, so that
    // a switch during a scan holds for it.
    void setSuggestions(bool on) { m_suggestions = on; }
    bool suggestions() const { return m_suggestions; }

signals:
    // The held scan, or the one deferred until the running operation ended, is due: the window
    // runs it as a timer's request (it may then wait for the server's login delay again).
    void scanDue();

private:
    std::unique_ptr<ScanDisplay> m_display;
    QTimer m_loginDelay;
    bool m_suggestions = true;
    learning::SpamScorer m_scorer;
    QString m_scorerPath;
    QList<qint64> m_scorerKey; // the store's generation and counts when m_scorer was read
};
