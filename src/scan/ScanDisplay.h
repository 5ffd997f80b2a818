// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QColor>
#include <QString>

// What a scan shows of itself, and the little it asks, on the window it runs for. The main
// window's face is made in app/; a scan sees nothing else of the window.
class ScanDisplay
{
public:
    virtual ~ScanDisplay() = default;

    // The message counter: what it says, and in which colour.
    virtual void setCounter(const QString &text) = 0;
    virtual void setCounterColour(const QColor &colour) = 0;

    // The progress bar, 0 to 100: shown or hidden, its bar's colour, its position. A step only
    // awaits the next repaint, which the scan paces itself; setProgress shows at once.
    virtual void setProgressVisible(bool visible) = 0;
    virtual void setProgressColour(const QColor &colour) = 0;
    virtual void setProgress(int position) = 0;
    virtual void stepProgress(int position) = 0;
    virtual int progress() const = 0;

    // The list's colour while it is being read, and its rest colour again; back to its top.
    virtual void setListScanning(bool scanning) = 0;
    virtual void scrollListToTop() = 0;

    // The status line.
    virtual void showStatus(const QString &text) = 0;

    // Whether the user asked for the attachments to be counted too (P.J.); asked for one scan.
    virtual bool attachmentsAsked() const = 0;
    virtual void untickAttachments() = 0;

    // The scan has ended; previousCount: the messages the scan before it had read. Its last
    // steps (the tray, the periodic check, the idle watch) follow from here.
    virtual void ended(int previousCount) = 0;
};
