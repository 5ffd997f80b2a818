// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include "protocol/Transport.h"

class QEventLoop;

// The transport of the program: a QSslSocket that verifies the server against the system's CAs
// (and the account's own), lets a certificate they do not validate through the handshake and
// keeps the errors for the session's decision, and waits in a local event loop, so that the
// window stays alive.
class SocketTransport final : public Transport
{
    Q_OBJECT
public:
    SocketTransport();
    ~SocketTransport() override;

    bool trustCaFile(const QString &path) override;
    void connectToHost(const QString &host, quint16 port, bool tls) override;
    void startTls() override;
    bool isEncrypted() const override { return m_socket.isEncrypted(); }
    QAbstractSocket::SocketState state() const override { return m_socket.state(); }
    QAbstractSocket::SocketError error() const override { return m_socket.error(); }
    QList<QSslCertificate> peerCertificateChain() const override { return m_socket.peerCertificateChain(); }
    QList<QSslError> sslErrors() const override { return m_sslErrors; }
    qint64 bytesAvailable() const override { return m_socket.bytesAvailable(); }
    qint64 read(char *into, qint64 max) override { return m_socket.read(into, max); }
    QByteArray readAll() override { return m_socket.readAll(); }
    void write(const QByteArray &bytes) override { m_socket.write(bytes); }
    bool waitForActivity(int ms) override;
    void abort() override { m_socket.abort(); }
    void disconnectFromHost() override { m_socket.disconnectFromHost(); }

private:
    QSslConfiguration m_config;
    QTimer m_timer;
    QEventLoop *m_loop = nullptr;
    QList<QSslError> m_sslErrors; // of the handshake, ignored until the decision
    QSslSocket m_socket;          // last: gone first, its last signals finding the rest in place
};
