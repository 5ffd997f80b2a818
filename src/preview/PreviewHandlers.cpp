// SPDX-License-Identifier: GPL-3.0-or-later
#include "preview/PreviewHandlers.h"

#include <QFileInfo>

#include "core/Ansi.h"
#include "core/Prompter.h"
#include "mailbox/MessageList.h"
#include "preview/Preview.h"
#include "window/PelicordeFP.h"

namespace {

// The attachment names of row, one a line, as they would read back from an ANSI file.
void showAttachmentNames(const MessageList &list, int row)
{
    QString names = ansi::toUnicode(ansi::fromUnicode(list.cell(row, MessageList::AttachmentNames)));
    names.replace(QLatin1Char('|'), QLatin1Char('\n'));
    if (!names.isEmpty())
        prompter().information(names);
}

void toggleMark(MessageList &list, int row)
{
    const bool empty = list.cell(row, MessageList::Mark).isEmpty();
    list.setCell(row, MessageList::Mark, empty ? QStringLiteral("1") : QString());
}

// The pane holds no HTML view (it went with the pane, or with a helper that ended): a new one
// shows again the last page shown.
void showAgain(PreviewPane &pane)
{
    if (!pane.view() && QFileInfo::exists(pane.filePath()))
        if (QWidget *view = ensurePreviewView(pane))
            QMetaObject::invokeMethod(view, "showFile");
}

} // namespace

void listMouseUp(TForm1 &form, int column, int row)
{
    form.pane->withdrawAttachments();
    form.currentRow = row;
    if (row < 1 || column < 0)
        return;
    if (column < MessageList::Attachments)
        previewMessage(form, row);
    else if (column == MessageList::Attachments)
        showAttachmentNames(*form.list, row);
    else if (column == MessageList::Mark)
        toggleMark(*form.list, row);
}

void listKeyDown(TForm1 &form, int key, int row)
{
    listMouseUp(form, key == Qt::Key_Space ? MessageList::Mark : MessageList::Subject, row);
}

void toggleView(TForm1 &form) { switchView(*form.pane); }

void closePreview(TForm1 &form) { togglePane(*form.pane); }

void attachmentListMouseUp(TForm1 &) {}

void switchView(PreviewPane &pane)
{
    pane.switchView();
    if (pane.pageInFront())
        showAgain(pane);
}

void togglePane(PreviewPane &pane)
{
    if (pane.isOpen()) {
        pane.close();
        return;
    }
    pane.open();
    showAgain(pane);
}
