// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QHostAddress>
#include <QThread>
#include <atomic>
#include <memory>

// A TCP relay on loopback that holds every chunk for a fixed delay in each direction, to stand
// for a distant server (to within a millisecond). Runs in a thread of its own, so the client's
// waits and pumping don't skew the delays.
class DelayRelay
{
public:
    DelayRelay(quint16 upstreamPort, int delayMs);
    ~DelayRelay();
    quint16 port() const { return m_port; }

private:
    std::unique_ptr<QThread> m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<quint16> m_port{0};
};
