// SPDX-License-Identifier: GPL-3.0-or-later
#include "blacklist/BlacklistHandlers.h"

#include <QPlainTextEdit>
#include <QTextDocument>

#include "blacklist/PelicordeFS1.h"
#include "core/BlacklistFile.h"
#include "core/Folders.h"
#include "core/Prompter.h"
#include "window/PelicordeFP.h"

namespace {

QString blacklistPath()
{
    return blacklist::filePath(Form1 ? Form1->dataFolder : folders::dataFolderFromEnvironment());
}

} // namespace

void openBlacklistEditor(TForm1 &form)
{
    if (!Form2)
        return;
    // Shown before the file is read, so the editor opens even when the file cannot be.
    Form2->show();
    Form2->raise();
    Form2->activateWindow();
    const std::optional<QString> text = blacklist::loadEditorText(blacklist::filePath(form.dataFolder));
    if (!text) {
        prompter().beep(); // the memo keeps what it held
        return;
    }
    Form2->Memo1->setPlainText(*text);
    Form2->loadedText = *text;
}

void saveBlacklistAndClose(TForm2 &form)
{
    // toRawText keeps non-breaking spaces (byte 0xA0) that toPlainText would turn into spaces.
    if (!blacklist::saveEditorText(blacklistPath(), form.Memo1->document()->toRawText(), form.loadedText))
        prompter().beep();
    form.hide();
}

void closeBlacklistEditor(TForm2 &form) { form.hide(); }
