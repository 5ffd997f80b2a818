// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QLocalServer>
#include <QObject>
#include <QString>

// One window per data folder: two would each run their own checks, watcher and deletions on the
// same mailbox and files. The first start listens on a local socket of the user's own; a later
// start finds it, asks it to come to the front and ends. (pelicorde-check is another program and
// runs beside the window as it always has.)
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // socketFolder: a folder of the user's alone (the runtime folder), where the socket lives.
    SingleInstance(const QString &dataFolder, const QString &socketFolder, QObject *parent = nullptr);

    // True when another start of the program, on the same data folder, is running and was
    // asked to come to the front: this one has nothing left to do.
    bool handedOver() const { return m_handedOver; }

signals:
    // A later start asked for the window.
    void raiseRequested();

private:
    QLocalServer m_server;
    bool m_handedOver = false;
};
