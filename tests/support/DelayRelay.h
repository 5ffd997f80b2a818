// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QHostAddress>
#include <QThread>
#include <atomic>

// A TCP relay on loopback that holds every chunk for a fixed delay in each direction, to stand
// for a distant server. Runs its own event loop in a thread, so the client's waits and pumping
// don't skew the delays.
class DelayRelay
{
public:
    DelayRelay(quint16 upstreamPort, int delayMs);
    ~DelayRelay();
    quint16 port() const { return m_port; }

private:
    QThread m_thread;
    std::atomic<quint16> m_port{0};
};
