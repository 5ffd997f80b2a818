// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowFaces.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>

#include "scan/ScanDisplay.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

namespace {

class WindowScanDisplay final : public ScanDisplay
{
public:
    explicit WindowScanDisplay(TForm1 &form) : m_form(form) {}

    void setCounter(const QString &text) override { m_form.Edit10->setText(text); }

    void setCounterColour(const QColor &colour) override
    {
        QPalette p = m_form.Edit10->palette();
        p.setColor(QPalette::Text, colour);
        m_form.Edit10->setPalette(p);
    }

    void setProgressVisible(bool visible) override { m_form.ProgressBar1->setVisible(visible); }
    void setProgressColour(const QColor &colour) override { m_form.setProgressBarColour(colour); }
    void setProgress(int position) override { m_form.ProgressBar1->setValue(position); }

    // QProgressBar repaints itself at once at each step, which costs more than a row; during a
    // pass the window is repainted at the scan's pace, so a step only awaits the next repaint.
    void stepProgress(int position) override
    {
        QProgressBar &bar = *m_form.ProgressBar1;
        if (position == bar.value())
            return;
        bar.setUpdatesEnabled(false);
        bar.setValue(position);
        bar.setUpdatesEnabled(true);
    }

    int progress() const override { return m_form.ProgressBar1->value(); }

    void setListScanning(bool scanning) override
    {
        m_form.setGridColour(scanning ? TForm1::GridScanningColour : TForm1::GridRestColour);
    }

    void scrollListToTop() override { m_form.SG1->scrollToTop(); }
    void showStatus(const QString &text) override { m_form.StatusBar1->showMessage(text); }
    bool attachmentsAsked() const override { return m_form.CheckBox1->isChecked(); }
    void untickAttachments() override { m_form.CheckBox1->setChecked(false); }
    void scanEnded(int previousCount) override { emit m_form.scanEnded(previousCount); }

private:
    TForm1 &m_form;
};

} // namespace

std::unique_ptr<ScanDisplay> scanDisplayOf(TForm1 &form) { return std::make_unique<WindowScanDisplay>(form); }
