// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QPoint>
#include <QRect>
#include <Qt>

class QPainter;
class TForm1;

// Entries of the message list and preview pane handlers of the main window.
// A mouse release over SG1 at pos, in SG1's own pixels (the caption row included).
void listMouseUp(TForm1 &form, Qt::MouseButton button, QPoint pos);
// A key pressed in SG1 acts on its current row as a release would: Space on the Supr cell, Enter
// or Return on the subject.
void listKeyDown(TForm1 &form, int key);
// Paints over one cell of SG1 after its text was drawn; row in list numbering (0 = captions).
void drawCell(TForm1 &form, QPainter &painter, const QRect &rect, int column, int row);
void toggleView(TForm1 &form);            // BitBtn3: Htm/Txt
void closePreview(TForm1 &form);          // BitBtn8: the pane toggle
void attachmentListMouseUp(TForm1 &form); // ListBox1 release
