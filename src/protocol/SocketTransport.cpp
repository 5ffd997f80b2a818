// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/SocketTransport.h"

#include <QEventLoop>

namespace {

// What the socket buffers ahead of the session; beyond it TCP makes the server wait.
constexpr qint64 kSocketBuffer = 4 * 1024 * 1024;

} // namespace

SocketTransport::SocketTransport()
{
    m_socket.setReadBufferSize(kSocketBuffer);
    m_timer.setSingleShot(true);
    const auto wake = [this] {
        if (m_loop)
            m_loop->quit();
    };
    QSslSocket *s = &m_socket;
    connect(s, &QSslSocket::readyRead, this, wake);
    connect(s, &QSslSocket::stateChanged, this, wake);
    connect(s, &QSslSocket::encrypted, this, wake);
    connect(s, &QSslSocket::errorOccurred, this, wake);
    connect(&m_timer, &QTimer::timeout, this, wake);
    connect(s, &QSslSocket::readyRead, this, &Transport::readyRead);
    connect(s, &QSslSocket::stateChanged, this, &Transport::stateChanged);
    connect(s, &QSslSocket::connected, this, &Transport::connected);
    connect(s, &QSslSocket::disconnected, this, &Transport::disconnected);

    // Verified against the system's CAs (and the account's own); what they do not validate is
    // let through the handshake and put to the certificate decision before anything is sent.
    connect(s, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        m_sslErrors += errors;
        m_socket.ignoreSslErrors();
    });
    m_config = QSslConfiguration::defaultConfiguration();
    m_config.setPeerVerifyMode(QSslSocket::VerifyPeer);
}

SocketTransport::~SocketTransport() = default;

bool SocketTransport::trustCaFile(const QString &path)
{
    return m_config.addCaCertificates(path);
}

void SocketTransport::connectToHost(const QString &host, quint16 port, bool tls)
{
    m_socket.setSslConfiguration(m_config);
    if (tls)
        m_socket.connectToHostEncrypted(host, port);
    else
        m_socket.connectToHost(host, port);
}

void SocketTransport::startTls()
{
    m_socket.startClientEncryption();
}

bool SocketTransport::waitForActivity(int ms)
{
    QEventLoop loop;
    m_loop = &loop;
    m_timer.start(ms);
    const int result = loop.exec();
    m_loop = nullptr;
    m_timer.stop();
    return result >= 0;
}
