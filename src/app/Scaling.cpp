#include "app/Scaling.h"

namespace scaling {
// Placeholder: the screen scaling code replaces this.
void scaleWindow(const QList<QWidget *> &, int, int) {}
}
