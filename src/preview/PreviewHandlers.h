// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class PreviewPane;
class TForm1;

// The handlers of the message list and the preview pane of the main window.

// A mouse release over SG1's cell (column, row), row in the list's numbering (0: the captions);
// (-1, -1) when over no cell.
void listMouseUp(TForm1 &form, int column, int row);
// A key pressed in SG1 acts on its current row as a release would: Space on the Supr cell, Enter
// or Return on the subject.
void listKeyDown(TForm1 &form, int key, int row);
void toggleView(TForm1 &form);            // BitBtn3: Htm/Txt
void closePreview(TForm1 &form);          // BitBtn8: the pane toggle
void attachmentListMouseUp(TForm1 &form); // ListBox1 release

// Below the window.
// The other view in front of the pane; a page that went away is shown again.
void switchView(PreviewPane &pane);
// Closes the pane when open, otherwise opens it on the last page shown.
void togglePane(PreviewPane &pane);
