// SPDX-License-Identifier: GPL-3.0-or-later
#include "blacklist/BlacklistHandlers.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

#include "blacklist/PelicordeFS1.h"
#include "core/BlacklistFile.h"
#include "core/Folders.h"
#include "core/Prompter.h"
#include "core/SafeFile.h"
#include "window/PelicordeFP.h"

void openBlacklistEditor(TForm1 &form)
{
    if (!Form2)
        return;
    // Shown before the file is read, so the editor opens even when the file cannot be.
    Form2->show();
    Form2->raise();
    Form2->activateWindow();
    Form2->path = blacklist::filePath(form.dataFolder);
    QString why;
    const std::optional<QString> text = blacklist::loadEditorText(Form2->path, &why);
    Form2->unsavable = why;
    Form2->Memo1->setReadOnly(!why.isEmpty());
    Form2->BitBtn1->setEnabled(why.isEmpty());
    if (!why.isEmpty()) {
        Form2->Memo1->clear();
        Form2->loadedText.clear();
        prompter().information(why);
        return;
    }
    if (!text) {
        prompter().beep(); // no file yet: the memo keeps what it held, and a save creates it
        return;
    }
    Form2->Memo1->setPlainText(*text);
    Form2->loadedText = *text;
}

void saveBlacklistAndClose(TForm2 &form)
{
    // Never opened from a window: the data folder the program would use.
    const QString path = form.path.isEmpty() ? blacklist::filePath(folders::dataFolderFromEnvironment()) : form.path;
    if (!form.unsavable.isEmpty()) {
        prompter().information(form.unsavable);
        return;
    }
    QString why;
    // toRawText keeps non-breaking spaces (byte 0xA0) that toPlainText would turn into spaces.
    if (!blacklist::saveEditorText(path, form.Memo1->document()->toRawText(), form.loadedText, &why)) {
        // Something other than a file stands there now: say so. A full disk keeps its beep.
        if (files::holdsOtherThanFile(path))
            prompter().information(why);
        else
            prompter().beep();
    }
    form.hide();
}

void closeBlacklistEditor(TForm2 &form) { form.hide(); }
