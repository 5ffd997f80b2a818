// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <functional>
#include <memory>

// The byte stream under a mail session: a socket to the server (SocketTransport), or in tests
// a written-out conversation, so that a session runs without one. What it carries is the
// session's: the transport neither frames replies nor turns failures into texts.
class Transport : public QObject
{
    Q_OBJECT
public:
    // Beside the system's CAs, the PEM certificates of this file; false when none can be read.
    virtual bool trustCaFile(const QString &path) = 0;
    // Starts connecting (over TLS from the first byte when tls); waitForActivity() tells when
    // it is up, or when it failed.
    virtual void connectToHost(const QString &host, quint16 port, bool tls) = 0;
    virtual void startTls() = 0; // over the connection as it stands
    virtual bool isEncrypted() const = 0;
    virtual QAbstractSocket::SocketState state() const = 0;
    virtual QAbstractSocket::SocketError error() const = 0;
    // The server's certificate chain, and what the handshake found wrong with it: let through
    // for the session's certificate decision.
    virtual QList<QSslCertificate> peerCertificateChain() const = 0;
    virtual QList<QSslError> sslErrors() const = 0;

    virtual qint64 bytesAvailable() const = 0;
    virtual qint64 read(char *into, qint64 max) = 0;
    virtual QByteArray readAll() = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // Returns once something happened (bytes came, the state or the encryption changed, an
    // error) or ms passed; false when no event loop runs any more (the program is closing).
    virtual bool waitForActivity(int ms) = 0;

    virtual void abort() = 0;
    virtual void disconnectFromHost() = 0;
    // For a transport its session let go: closes once what was written is out (within seconds,
    // whatever the server does), then deletes itself; nothing is told of it any more.
    void closeDetached();

signals:
    // Outside waitForActivity(), for a session that waits on the event loop (IMAP's IDLE).
    void readyRead();
    void stateChanged();
    void connected();
    void disconnected();
};

// What a session connects through: a new transport for each connection.
using TransportFactory = std::function<std::unique_ptr<Transport>()>;
