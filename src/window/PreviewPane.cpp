// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/PreviewPane.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>
#include <utility>

#include "core/Error.h"
#include "core/EventPump.h"
#include "core/Folders.h"
#include "mailbox/MessageList.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

PreviewPane::PreviewPane(TForm1 &form) : QObject(&form), m_form(form) {}

QList<QWidget *> PreviewPane::controls() const
{
    return {m_form.Label7, m_form.Label8, m_form.Label9, m_form.Label15, m_form.Edit11, m_form.Edit12,  m_form.Edit13,
            m_form.Edit14, m_form.Edit17, m_form.BitBtn3, m_form.BitBtn8, m_form.Memo2};
}

bool PreviewPane::isOpen() const { return !m_form.Label7->isHidden(); }

void PreviewPane::open()
{
    m_form.SG1->resize(m_form.SG1->width(), OpenPaneGridHeight);
    for (QWidget *w : controls())
        w->show();
    m_form.Panel1->hide();
}

void PreviewPane::close()
{
    const bool focusInside = m_form.isAncestorOf(QApplication::focusWidget());
    for (QWidget *w : controls())
        w->hide();
    m_form.BitBtn5->hide();
    m_form.Panel1->show();
    m_form.SG1->resize(m_form.SG1->width(), m_form.normalGridHeight);
    m_form.SG1->setEnabled(true);
    m_form.setGridColour(TForm1::GridRestColour);
    releaseView();
    // Back to the message the pane showed, not to whichever control Qt picks next: Space
    // there would tick P.J., and the next scan download every message.
    if (focusInside) {
        if (m_form.currentRow >= 1 && m_form.currentRow < m_form.list->rows())
            m_form.SG1->setCurrentIndex(m_form.list->indexOf(m_form.currentRow, MessageList::From));
        m_form.SG1->setFocus(Qt::OtherFocusReason);
    }
    pumpEvents();
}

void PreviewPane::holdList()
{
    m_form.setGridColour(TForm1::GridPreviewColour);
    pumpEvents();
    m_form.SG1->setEnabled(false);
}

void PreviewPane::showFields(const QString &from, const QString &to, const QString &date, const QString &time,
                             const QString &subject)
{
    m_form.Edit11->setText(from);
    m_form.Edit12->setText(to);
    m_form.Edit13->setText(date);
    m_form.Edit14->setText(time);
    m_form.Edit17->setText(subject);
    // A long sender's name is read from its start.
    for (QLineEdit *field : {m_form.Edit11, m_form.Edit12, m_form.Edit17})
        field->setCursorPosition(0);
}

void PreviewPane::clearText() { m_form.Memo2->clear(); }

void PreviewPane::addText(const QString &text)
{
    QTextCursor end(m_form.Memo2->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text + QLatin1Char('\n'));
}

qsizetype PreviewPane::textLength() const { return m_form.Memo2->toPlainText().size(); }

void PreviewPane::showTextStart()
{
    QTextCursor start = m_form.Memo2->textCursor();
    start.movePosition(QTextCursor::Start);
    m_form.Memo2->setTextCursor(start);
    m_form.Memo2->ensureCursorVisible();
}

void PreviewPane::showPage()
{
    m_form.Panel1->hide();
    m_form.WebBrowser1->setFocus();
}

void PreviewPane::showText()
{
    m_form.Panel1->show();
    m_form.Memo2->setFocus();
}

void PreviewPane::coverPage() { m_form.Panel1->show(); }

void PreviewPane::switchView() { m_form.Panel1->setVisible(m_form.Panel1->isHidden()); }

bool PreviewPane::pageInFront() const { return m_form.Panel1->isHidden(); }

void PreviewPane::offerAttachments(const QString &count)
{
    m_form.BitBtn5->setText(QStringLiteral("PJ = ") + count);
    m_form.BitBtn5->show();
}

void PreviewPane::withdrawAttachments() { m_form.BitBtn5->hide(); }

QWidget *PreviewPane::view() const
{
    return m_form.WebBrowser1->findChild<QWidget *>(QStringLiteral("WebView"), Qt::FindDirectChildrenOnly);
}

QWidget *PreviewPane::viewParent() const { return m_form.WebBrowser1; }

QWidget *PreviewPane::textView() const { return m_form.Panel1; }

void PreviewPane::setView(QWidget *view)
{
    view->setObjectName(QStringLiteral("WebView"));
    // The view's own widgets take Escape for the page before the close button's shortcut could
    // see it: the pane watches for it wherever the focus is inside the view.
    if (!std::exchange(m_watchingEscape, true))
        qApp->installEventFilter(this);
    if (!m_form.WebBrowser1->layout())
        (new QVBoxLayout(m_form.WebBrowser1))->setContentsMargins(0, 0, 0, 0);
    m_form.WebBrowser1->layout()->addWidget(view);
    m_form.WebBrowser1->setFocusProxy(view);
    view->show();
}

void PreviewPane::releaseView()
{
    m_form.WebBrowser1->setFocusProxy(nullptr);
    delete view();
}

QString PreviewPane::filePath()
{
    if (m_form.previewFolder.isEmpty())
        m_form.previewFolder = folders::privateFolderIn(m_form.tempFolder);
    return m_form.previewFolder.isEmpty() ? QString() : folders::join(m_form.previewFolder, TForm1::PreviewFileName);
}

void PreviewPane::removeFile()
{
    if (m_form.previewFolder.isEmpty())
        return;
    QFile::remove(folders::join(m_form.previewFolder, TForm1::PreviewFileName));
    QDir().rmdir(m_form.previewFolder);
}

bool PreviewPane::eventFilter(QObject *, QEvent *event)
{
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    QWidget *focus = QApplication::focusWidget();
    if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier || !isOpen() || !focus
        || !m_form.WebBrowser1->isAncestorOf(focus))
        return false;
    // Not from inside the delivery: closing deletes the view the key is on its way to.
    if (event->type() == QEvent::KeyPress)
        QMetaObject::invokeMethod(this, [this] { guarded([this] { close(); }); }, Qt::QueuedConnection);
    event->accept();
    return true;
}
