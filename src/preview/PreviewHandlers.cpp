// SPDX-License-Identifier: GPL-3.0-or-later
#include "preview/PreviewHandlers.h"

#include <QApplication>
#include <QFileInfo>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>

#include "core/Ansi.h"
#include "core/Folders.h"
#include "core/Prompter.h"
#include "mailbox/MessageList.h"
#include "preview/Preview.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

namespace {

// What a release over the cell (column, row) does.
void cellReleased(TForm1 &form, int column, int row)
{
    form.BitBtn5->hide();
    form.currentRow = row;
    if (row < 1 || column < 0)
        return;
    if (column < MessageList::Attachments) {
        previewMessage(form, row);
    } else if (column == MessageList::Attachments) {
        // Shown as the names would read back from an ANSI file.
        QString names = ansi::toUnicode(ansi::fromUnicode(form.list->cell(row, MessageList::AttachmentNames)));
        names.replace(QLatin1Char('|'), QLatin1Char('\n'));
        if (!names.isEmpty())
            prompter().information(names);
    } else if (column == MessageList::Mark) {
        const bool empty = form.list->cell(row, MessageList::Mark).isEmpty();
        form.list->setCell(row, MessageList::Mark, empty ? QStringLiteral("1") : QString());
    }
}

} // namespace

void listMouseUp(TForm1 &form, Qt::MouseButton, QPoint pos)
{
    const QPoint cell = form.SG1->mouseCoord(pos);
    cellReleased(form, cell.x(), cell.y());
}

void listKeyDown(TForm1 &form, int key)
{
    const QModelIndex current = form.SG1->currentIndex();
    if (!current.isValid())
        return;
    cellReleased(form, key == Qt::Key_Space ? MessageList::Mark : MessageList::Subject, current.row() + 1);
}

void drawCell(TForm1 &form, QPainter &painter, const QRect &rect, int column, int row)
{
    if (column != MessageList::Mark || row < 1 || form.list->cell(row, MessageList::From).isEmpty())
        return;
    // The box covers the whole cell and hides the text under it.
    painter.fillRect(rect, form.gridColour());
    QStyleOptionButton option;
    option.initFrom(form.SG1);
    option.rect = rect;
    option.state = QStyle::State_Enabled | (form.list->isMarked(row) ? QStyle::State_On : QStyle::State_Off);
    form.SG1->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, form.SG1);
}

namespace {
// The pane holds no HTML view (it went with the pane, or with a helper that ended): a new one
// shows again the last page shown.
void showAgain(TForm1 &form)
{
    if (!previewView(form) && QFileInfo::exists(previewFilePath(form)))
        if (QWidget *view = ensurePreviewView(form))
            QMetaObject::invokeMethod(view, "showFile");
}
} // namespace

void toggleView(TForm1 &form)
{
    form.Panel1->setVisible(form.Panel1->isHidden());
    if (form.Panel1->isHidden())
        showAgain(form);
}

void closePreview(TForm1 &form)
{
    if (previewPaneOpen(form)) {
        closePreviewPane(form);
        return;
    }
    openPreviewPane(form);
    showAgain(form);
}

void attachmentListMouseUp(TForm1 &) {}
