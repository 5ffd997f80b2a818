// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>

#include <atomic>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A FIFO at path whose writer hands `bytes`, then the end of file, to every reader that opens
// it. Code that should refuse the FIFO but reads it after all then gets those bytes rather
// than waiting forever, so a test fails instead of hanging.
class FeedingFifo
{
public:
    FeedingFifo(const QString &path, const QByteArray &bytes) : m_path(QFile::encodeName(path))
    {
        m_sigpipe = std::signal(SIGPIPE, SIG_IGN); // a reader that closes at once is no error
        m_made = ::mkfifo(m_path.constData(), 0600) == 0;
        if (!m_made)
            return;
        m_writer = std::thread([this, bytes] {
            for (;;) {
                const int fd = ::open(m_path.constData(), O_WRONLY | O_CLOEXEC); // waits for a reader
                if (fd < 0 || m_stop) {
                    if (fd >= 0)
                        ::close(fd);
                    break;
                }
                [[maybe_unused]] const ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
                ::close(fd);
            }
            m_done = true;
        });
    }

    ~FeedingFifo()
    {
        if (m_made) {
            m_stop = true;
            // Stay open as a reader until the writer has seen the stop: its open never waits.
            // Drained meanwhile: a reader that held the FIFO open without reading may have left
            // it full, and the writer blocked in write() would never see the stop.
            const int fd = ::open(m_path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            char drain[4096];
            while (!m_done) {
                if (fd < 0 || ::read(fd, drain, sizeof drain) <= 0)
                    std::this_thread::yield();
            }
            if (fd >= 0)
                ::close(fd);
            m_writer.join();
            ::unlink(m_path.constData());
        }
        std::signal(SIGPIPE, m_sigpipe);
    }

    bool made() const { return m_made; }

    FeedingFifo(const FeedingFifo &) = delete;
    FeedingFifo &operator=(const FeedingFifo &) = delete;

private:
    QByteArray m_path;
    bool m_made = false;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::thread m_writer;
    void (*m_sigpipe)(int) = SIG_DFL;
};
