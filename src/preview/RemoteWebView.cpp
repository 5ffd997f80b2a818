// SPDX-License-Identifier: GPL-3.0-or-later
#include "preview/RemoteWebView.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include "preview/PreviewChannel.h"

namespace {

QByteArray number(qint64 n) { return QByteArray::number(n); }

QList<QByteArray> keyMessage(const QKeyEvent *e)
{
    return {"key", e->type() == QEvent::KeyPress ? "1" : "0", number(e->key()), number(e->modifiers().toInt()),
            number(e->nativeScanCode()), number(e->nativeVirtualKey()), number(e->nativeModifiers()),
            previewchannel::encode(e->text()), e->isAutoRepeat() ? "1" : "0"};
}

} // namespace

RemoteWebView::RemoteWebView(const QString &helper, const QString &filePath, bool embed, QWidget *parent)
    : QWidget(parent), m_helper(helper), m_file(filePath), m_embed(embed)
{
    setFocusPolicy(Qt::StrongFocus);
    if (m_embed) {
        // A native window for the helper's to sit in, and for this one alone: the rest of the
        // main window stays drawn as it was.
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_DontCreateNativeAncestors);
    }
    // Its messages come on its standard output; what it says on the terminal reaches the program's.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &RemoteWebView::readMessages);
    connect(&m_process, &QProcess::finished, this, &RemoteWebView::ended);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            emit ended();
    });
    start();
}

RemoteWebView::~RemoteWebView()
{
    // The helper ends as soon as its input closes.
    m_process.disconnect(this);
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(2000)) {
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}

void RemoteWebView::start()
{
    QStringList args{QStringLiteral("-platform"), QGuiApplication::platformName()};
    if (m_embed)
        args << QStringLiteral("--into") << QString::number(winId());
    args << QString::number(width()) << QString::number(height()) << m_file;
    m_received.clear();
    m_process.start(m_helper, args);
    // Only as long as it takes to run it, so that a helper that cannot run is known at once.
    m_process.waitForStarted(5000);
}

void RemoteWebView::showFile()
{
    if (m_process.state() == QProcess::NotRunning)
        start();
    send({"show"});
}

void RemoteWebView::requestShown() { send({"shown"}); }

void RemoteWebView::hideUnder(QWidget *cover)
{
    m_cover = cover;
    cover->installEventFilter(this);
    setVisible(cover->isHidden());
}

void RemoteWebView::send(const QList<QByteArray> &words)
{
    // Written while the helper starts, it waits in the buffer.
    if (m_process.state() != QProcess::NotRunning)
        m_process.write(previewchannel::line(words));
}

void RemoteWebView::readMessages()
{
    m_received += m_process.readAllStandardOutput();
    for (const QList<QByteArray> &m : previewchannel::takeMessages(m_received)) {
        const QByteArray what = m.value(0);
        if (what == "loaded")
            emit loadFinished(m.value(1) == "1");
        else if (what == "refused")
            emit navigationRefused(QUrl(previewchannel::decode(m.value(1))));
        else if (what == "shown")
            emit shown(QUrl(previewchannel::decode(m.value(1))), previewchannel::decode(m.value(2)),
                       previewchannel::decode(m.value(3)));
        else if (what == "clicked")
            setFocus(Qt::MouseFocusReason);
        else if (what == "escape")
            emit escaped();
        else if (what == "leave" && hasFocus())
            QWidget::focusNextPrevChild(m.value(1) == "1");
    }
}

bool RemoteWebView::event(QEvent *event)
{
    // Tab and Backtab walk the page's links first; the page says when it is done.
    if (event->type() == QEvent::KeyPress && m_process.state() == QProcess::Running) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (tab && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            send({"tab", key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier) ? "1" : "0"});
            return true;
        }
    }
    return QWidget::event(event);
}

bool RemoteWebView::eventFilter(QObject *watched, QEvent *event)
{
    // The explicit state, not the event: a minimised window hides its children too.
    if (watched == m_cover && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        setVisible(m_cover->isHidden());
    return false;
}

void RemoteWebView::focusInEvent(QFocusEvent *event)
{
    send({"focus", "in", number(event->reason())});
    QWidget::focusInEvent(event);
}

void RemoteWebView::focusOutEvent(QFocusEvent *event)
{
    send({"focus", "out", number(event->reason())});
    QWidget::focusOutEvent(event);
}

void RemoteWebView::keyPressEvent(QKeyEvent *event) { send(keyMessage(event)); }

void RemoteWebView::keyReleaseEvent(QKeyEvent *event) { send(keyMessage(event)); }

void RemoteWebView::resizeEvent(QResizeEvent *event)
{
    send({"size", number(width()), number(height())});
    QWidget::resizeEvent(event);
}
