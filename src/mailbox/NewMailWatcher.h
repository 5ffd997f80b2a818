// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

#include "protocol/MailConnection.h"

class Error;
class MailboxSession;

// Keeps one IMAP connection idling on an account's INBOX (EXAMINE, IDLE) and tells when mail
// arrives, the server's announcements gathered (Timing). Everything happens from the event loop
// and nothing waits on the idle connection, so it never stands in the way of another session. A
// connection that fails or drops is opened again after a pause that doubles each time, back to
// the first once a connection has held. What retrying cannot mend ends the watch: no IDLE, a
// certificate not to be trusted without the user, a refused login, or no TLS (the watcher never
// sends a password in clear).
class NewMailWatcher : public QObject
{
    Q_OBJECT
public:
    struct Timing
    {
        int firstRetryMs = 5000;
        int maxRetryMs = 5 * 60 * 1000;
        int heldMs = 60 * 1000;        // a connection idle this long resets the pause
        int waitMs = 1000;             // a connection due while it may not open looks again after this
        int renewalMs = 25 * 60 * 1000; // IDLE is renewed within the servers' 29 minutes
        // The server's announcements are gathered into one newMail(): it comes this long after
        // the last one, but no later than longestWaitMs after the first one it answers (a server
        // that never stops announcing), never sooner than spacingMs after the one before it,
        // and no more than perMinute times in a minute (0: no bound).
        int settleMs = 3000;
        int longestWaitMs = 15 * 1000;
        int spacingMs = 10 * 1000;
        int perMinute = 4;
    };
    enum class State {
        Off,
        Watching, // connecting, idling or waiting to connect again
        Unsuited, // the server offers no IDLE, or no TLS
        GaveUp,   // a certificate to confirm, a refused login
    };
    Q_ENUM(State)

    explicit NewMailWatcher(QObject *parent = nullptr);
    ~NewMailWatcher() override;

    void setTiming(const Timing &timing) { m_timing = timing; }
    // Whether a connection may be opened now; when not, the attempt waits.
    void setMayConnect(std::function<bool()> mayConnect) { m_mayConnect = std::move(mayConnect); }

    // Watches account from the event loop on, in place of what was watched, with the records of
    // dataFolder (openSession of SessionOpening.h, never asking anyone).
    void watch(const MailAccount &account, const QString &dataFolder);
    // Ends the connection (DONE, LOGOUT, not waiting) and the watch.
    void stop();

    State state() const { return m_state; }
    const MailAccount &account() const { return m_account; } // the last watched
    bool idling() const;

signals:
    void newMail(int count);     // mail came, the INBOX now holds count messages; from the event loop
    void idle();                 // a connection idles
    void retrying(int delayMs);  // the connection failed; the next one in delayMs
    void ended(const QString &why); // the watch ended by itself (state() says why)

private:
    void attempt();
    void lost(const Error &error);
    void end(State state, const QString &why);
    void announced(int count);
    void gathered();

    Timing m_timing;
    std::function<bool()> m_mayConnect;
    MailAccount m_account;
    QString m_dataFolder;
    State m_state = State::Off;
    std::unique_ptr<MailboxSession> m_session;
    std::unique_ptr<MailboxSession> m_lost; // failed, until the event loop releases it
    quint64 m_generation = 0; // changed by every watch() and stop(): a connection of an older watch is dropped
    int m_delayMs = 0;
    QTimer m_attempt; // the next connection
    QTimer m_held;    // the connection has held: the pause starts again from the first
    QTimer m_gather;  // the announcements so far are told
    QElapsedTimer m_clock;
    qint64 m_firstAnnounced = -1; // the first announcement not told yet (m_clock), -1 for none
    int m_count = 0;              // the count the last one gave
    QList<qint64> m_told;         // when the last newMail() were emitted, at most perMinute
};
