// SPDX-License-Identifier: GPL-3.0-or-later
#include "blacklist/BlacklistHandlers.h"

#include <optional>

#include "core/BlacklistFile.h"
#include "core/Folders.h"
#include "core/Prompter.h"
#include "core/SafeFile.h"
#include "window/PelicordeFP.h"
#include "window/PelicordeFS1.h"

void openBlacklistEditor(TForm1 &form)
{
    if (Form2)
        openEditor(*Form2, blacklist::filePath(form.dataFolder));
}

void openEditor(TForm2 &editor, const QString &path, blacklist::SenderList which)
{
    // Shown before the file is read, so the editor opens even when the file cannot be.
    editor.present();
    editor.path = path;
    QString why;
    const std::optional<QString> text = blacklist::loadEditorText(path, &why, which);
    editor.setWindowTitle(which == blacklist::SenderList::Friends ? QStringLiteral("Pelicorde : Liste des amis")
                                                                  : QStringLiteral("Pelicorde : Liste noire"));
    editor.setUnsavable(why);
    if (!why.isEmpty()) {
        prompter().information(why);
        return;
    }
    if (!text) {
        prompter().beep(); // no file yet: the memo keeps what it held, and a save creates it
        return;
    }
    editor.showLoaded(*text);
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
    if (!blacklist::saveEditorText(path, form.text(), form.loadedText, &why)) {
        // Something other than a file stands there now: say so. A full disk keeps its beep.
        if (files::holdsOtherThanFile(path))
            prompter().information(why);
        else
            prompter().beep();
    }
    form.hide();
}

void closeBlacklistEditor(TForm2 &form) { form.hide(); }
