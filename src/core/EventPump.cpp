// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/EventPump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

void pumpEvents() { QCoreApplication::processEvents(); }

void waitPumping(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
