#pragma once
#include <QList>

class QWidget;

namespace scaling {
// Scales the main window's controls (in design order) to the screen's work area.
void scaleWindow(const QList<QWidget *> &designOrder, int workWidth, int workHeight);
}
