// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QObject>
#include <QTimer>

class TForm1;

// The scans of one window that nobody is waiting on: the one held back by the server's login
// delay, and the one deferred behind a running operation or an open box. A child of the window,
// which keeps a pointer to it; both go with the window.
class ScanController : public QObject
{
    Q_OBJECT
public:
    explicit ScanController(TForm1 &form);
    ~ScanController() override;

    // Holds the next scan for waitMs, then runs it as a timer's request would; a new hold
    // replaces the one waiting.
    void holdFor(qint64 waitMs) { m_loginDelay.start(int(waitMs)); }
    // A scan is starting: nothing waits any more.
    void cancelHold() { m_loginDelay.stop(); }
    bool holding() const { return m_loginDelay.isActive(); }
    // The hold's timer, for tests that let it fire at once.
    QTimer *holdTimer() { return &m_loginDelay; }

private:
    TForm1 &m_form;
    QTimer m_loginDelay;
};
