// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

#include "core/BlacklistFile.h"

class TForm1;
class TForm2;

// The handlers of the blacklist editor.
void openBlacklistEditor(TForm1 &form);   // TForm1::BitBtn7: show the editor, load the file
void saveBlacklistAndClose(TForm2 &form); // TForm2::BitBtn1: save the file, hide the editor
void closeBlacklistEditor(TForm2 &form);  // TForm2::BitBtn2: hide the editor without saving

// Below the main window: shows editor on the list file at path (the blacklist, or the friends
// list in the same format).
void openEditor(TForm2 &editor, const QString &path, blacklist::SenderList which = blacklist::SenderList::Blacklist);
