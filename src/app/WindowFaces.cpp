// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowFaces.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QWindow>

#include "scan/ScanDisplay.h"
#include "tray/Notifier.h"
#include "tray/TrayWindow.h"
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
    void ended(int previousCount) override { emit m_form.scanEnded(previousCount); }

private:
    TForm1 &m_form;
};

class WindowTray final : public TrayWindow
{
public:
    explicit WindowTray(TForm1 &form) : TrayWindow(&form), m_form(form) { form.installEventFilter(this); }

    QSystemTrayIcon *icon() const override { return m_form.trayIcon; }

    QSystemTrayIcon &addIcon() override
    {
        if (!m_form.trayIcon) {
            m_form.trayIcon = new QSystemTrayIcon(&m_form);
            connect(m_form.trayIcon, &QSystemTrayIcon::activated, &m_form, &TForm1::TrayMessage);
        }
        return *m_form.trayIcon;
    }

    QPixmap steadyPicture() const override { return m_form.Image1->pixmap(); }
    QPixmap alertPicture() const override { return m_form.Image2->pixmap(); }
    bool blinking() const override { return m_form.Timer1->isActive(); }
    void startBlinking() override { m_form.Timer1->start(); }
    void stopBlinking() override { m_form.Timer1->stop(); }
    bool checking() const override { return m_form.Timer2->isActive(); }
    void showStatus(const QString &text) override { m_form.StatusBar1->showMessage(text); }
    bool shown() const override { return m_form.isVisible(); }
    bool onScreen() const override { return m_form.isVisible() && !m_form.isMinimized(); }
    // A minimised window can stay the active one on some platforms.
    bool userAtWindow() const override { return m_form.isActiveWindow() && !m_form.isMinimized(); }
    void hideToTray() override { m_form.hide(); }
    void minimise() override { m_form.showMinimized(); }

    void bringBack() override
    {
        m_form.showMaximized();
        m_form.raise();
        m_form.activateWindow();
        // A window minimised before it went to the tray comes back minimised on a desktop
        // without a window manager: once mapped, X tells Qt the minimising it asked for long
        // ago. What the display says in the moment after a restore is not taken; the user's own
        // minimising is.
        if (QWindow *window = m_form.windowHandle()) {
            auto *moment = new QObject(&m_form);
            QObject::connect(window, &QWindow::windowStateChanged, moment, [this, moment](Qt::WindowState state) {
                // Once the widget has taken the change in.
                if (state == Qt::WindowMinimized)
                    QMetaObject::invokeMethod(moment, [this] {
                        m_form.setWindowState((m_form.windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
                    }, Qt::QueuedConnection);
            });
            QTimer::singleShot(1000, moment, &QObject::deleteLater);
        }
    }

    void restore() override
    {
        bringBack();
        m_form.statusBarPlacement();
    }

    void close() override { m_form.close(); }

    bool popUpMenu() override
    {
        m_form.PopupMenu1->popup(QCursor::pos());
        return m_form.PopupMenu1->isVisible();
    }

    void askAttention() override
    {
        if (const AlertFunction alert = alertFunction())
            alert(&m_form);
        else
            QApplication::alert(&m_form);
    }

    Notifier &notifier() override
    {
        if (!m_form.notifier) {
            m_form.notifier = new Notifier(*this, m_form.check);
            connect(m_form.notifier, &Notifier::restoreRequested, &m_form, &TForm1::Restaurer1Click);
        }
        return *m_form.notifier;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_form) {
            if (event->type() == QEvent::WindowActivate)
                emit userCameBack();
            else if (event->type() == QEvent::Hide
                     || (event->type() == QEvent::WindowStateChange && m_form.isMinimized()))
                emit wentAway();
        }
        return TrayWindow::eventFilter(watched, event);
    }

private:
    TForm1 &m_form;
};

} // namespace

TrayWindow *trayWindowOf(TForm1 &form) { return new WindowTray(form); }

std::unique_ptr<ScanDisplay> scanDisplayOf(TForm1 &form) { return std::make_unique<WindowScanDisplay>(form); }
