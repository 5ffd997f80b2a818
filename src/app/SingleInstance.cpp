// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>

namespace {
constexpr int kAnswerMs = 2000;
const QByteArray kRaise = "raise\n";
} // namespace

SingleInstance::SingleInstance(const QString &dataFolder, const QString &socketFolder, QObject *parent)
    : QObject(parent)
{
    // Named after the data folder, so that another folder (a test's, the demo's) is another program.
    const QByteArray key = QCryptographicHash::hash(QDir::cleanPath(dataFolder).toUtf8(), QCryptographicHash::Sha256);
    const QString name = QDir(socketFolder).filePath(QStringLiteral("pelicorde-") + QString::fromLatin1(key.toHex().left(16)));

    QLocalSocket other;
    other.connectToServer(name);
    if (other.waitForConnected(kAnswerMs)) {
        other.write(kRaise);
        other.waitForBytesWritten(kAnswerMs);
        m_handedOver = true;
        return;
    }
    // Nobody answers: a socket left by a program that died, or none at all.
    QLocalServer::removeServer(name);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(name))
        return; // the window runs all the same; a second one could then start too
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *client = m_server.nextPendingConnection()) {
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().contains(kRaise.trimmed()))
                    emit raiseRequested();
                client->disconnectFromServer();
            });
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        }
    });
}
