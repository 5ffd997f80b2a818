// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QIcon>
#include <QPixmap>

// The program's pictures, drawn at run time so that no image file has to ship with it.
namespace icons {
QIcon windowIcon();   // 16 x 16: white envelope with a dark outline on orange-red
QPixmap traySteady(); // 16 x 16: white envelope on grey (Image1)
QPixmap trayAlert();  // 16 x 16: white envelope on orange-red (Image2)
QPixmap mailbox();    // 20 x 20: grey mailbox on a yellow post (BitBtn2)
QPixmap clipboard();  // 32 x 32: clipboard with a lined sheet (BitBtn7)
QPixmap pencil();     // 14 x 14: pencil with a pink eraser (BitBtn4)
QPixmap redCross();   // 19 x 19: red cross (BitBtn8, and the editor's close button)
QPixmap saveTick();   // 19 x 19: green tick (the editor's save button)
}
