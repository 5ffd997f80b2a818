// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/DelayRelay.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <deque>
#include <thread>
#include <utility>

namespace {

// One direction of one connection: chunks leave `to` delayMs after they arrived at `from`,
// in order; once `from` has closed, `to` is closed behind the last of them.
class DelayedPipe : public QObject
{
public:
    DelayedPipe(QTcpSocket *from, QTcpSocket *to, int delayMs, QObject *parent)
        : QObject(parent), m_from(from), m_to(to), m_delay(delayMs)
    {
        m_clock.start();
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { flush(); });
        connect(from, &QTcpSocket::readyRead, this, [this] { take(); });
        connect(from, &QTcpSocket::disconnected, this, [this] {
            take();
            m_closing = true;
            if (m_queue.empty() && m_to)
                m_to->disconnectFromHost();
        });
    }

    void take()
    {
        // A socket the relay's teardown closed says it disconnected, with nothing left to read.
        if (!m_from || !m_from->isOpen())
            return;
        const QByteArray chunk = m_from->readAll();
        if (chunk.isEmpty())
            return;
        m_queue.emplace_back(m_clock.elapsed() + m_delay, chunk);
        if (!m_timer.isActive())
            schedule();
    }

    void flush()
    {
        const qint64 now = m_clock.elapsed();
        while (!m_queue.empty() && m_queue.front().first <= now) {
            if (m_to)
                m_to->write(m_queue.front().second);
            m_queue.pop_front();
        }
        if (m_closing && m_queue.empty() && m_to)
            m_to->disconnectFromHost();
        schedule();
    }

private:
    void schedule()
    {
        if (m_queue.empty())
            return;
        m_timer.start(int(std::max<qint64>(0, m_queue.front().first - m_clock.elapsed())));
    }

    QPointer<QTcpSocket> m_from;
    QPointer<QTcpSocket> m_to;
    int m_delay;
    bool m_closing = false;
    QElapsedTimer m_clock;
    QTimer m_timer;
    std::deque<std::pair<qint64, QByteArray>> m_queue;
};

class RelayServer : public QTcpServer
{
public:
    RelayServer(quint16 upstream, int delayMs) : m_upstream(upstream), m_delay(delayMs) {}

protected:
    void incomingConnection(qintptr handle) override
    {
        auto *client = new QTcpSocket(this);
        client->setSocketDescriptor(handle);
        auto *server = new QTcpSocket(this);
        server->connectToHost(QHostAddress::LocalHost, m_upstream);
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        server->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        new DelayedPipe(client, server, m_delay, client);
        new DelayedPipe(server, client, m_delay, server);
    }

private:
    quint16 m_upstream;
    int m_delay;
};

} // namespace

// The relay's thread looks at its sockets once a millisecond, not at each chunk the server
// writes: a link's pace is its delay and its bandwidth, and waking for every chunk took the
// machine twice the processor time, as much as the clients measured beside it.
DelayRelay::DelayRelay(quint16 upstreamPort, int delayMs)
{
    m_thread.reset(QThread::create([this, upstreamPort, delayMs] {
        QEventLoop loop;
        RelayServer server(upstreamPort, delayMs);
        server.listen(QHostAddress::LocalHost, 0);
        m_port = server.serverPort();
        m_port.notify_all();
        while (!m_stop) {
            loop.processEvents(QEventLoop::AllEvents);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }));
    m_thread->start();
    m_port.wait(0);
}

DelayRelay::~DelayRelay()
{
    m_stop = true;
    m_thread->wait();
}
