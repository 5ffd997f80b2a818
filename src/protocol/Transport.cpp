// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/Transport.h"

#include <QCoreApplication>
#include <QTimer>

void Transport::closeDetached()
{
    QObject::disconnect(this, nullptr, nullptr, nullptr);
    setParent(QCoreApplication::instance());
    connect(this, &Transport::disconnected, this, &QObject::deleteLater);
    QTimer::singleShot(5000, this, [this] {
        abort();
        deleteLater();
    });
    disconnectFromHost();
}
