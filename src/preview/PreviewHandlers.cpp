#include "preview/PreviewHandlers.h"

// Placeholders: the list drawing, click dispatch and message preview code replaces these.
void listMouseUp(TForm1 &, Qt::MouseButton, QPoint) {}
void drawCell(TForm1 &, QPainter &, const QRect &, int, int) {}
void toggleView(TForm1 &) {}
void closePreview(TForm1 &) {}
void attachmentListMouseUp(TForm1 &) {}
