// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

#include "mailbox/Pop3Session.h"

class Error;
class ImapSession;

// Keeps one IMAP connection idling on an account's INBOX (EXAMINE, IDLE) and tells when mail
// arrives. Everything happens from the event loop and nothing waits on the idle connection, so
// it never stands in the way of another session. A connection that fails or drops is opened
// again after a pause that doubles each time, back to the first once a connection has held.
// What retrying cannot mend ends the watch: no IDLE, a certificate not to be trusted without the
// user, a refused login, or no TLS (the watcher never sends a password in clear).
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

    // Watches account from the event loop on, in place of what was watched. decide: for a
    // certificate the CAs do not validate; it must not ask anyone.
    void watch(const MailAccount &account, CertificateDecision decide);
    // Ends the connection (DONE, LOGOUT, not waiting) and the watch.
    void stop();

    State state() const { return m_state; }
    const MailAccount &account() const { return m_account; } // the last watched
    bool idling() const;

signals:
    void newMail(int count);     // the INBOX now holds count messages; queued
    void idle();                 // a connection idles
    void retrying(int delayMs);  // the connection failed; the next one in delayMs
    void ended(const QString &why); // the watch ended by itself (state() says why)

private:
    void attempt();
    void lost(const Error &error);
    void end(State state, const QString &why);

    Timing m_timing;
    std::function<bool()> m_mayConnect;
    MailAccount m_account;
    CertificateDecision m_decide;
    State m_state = State::Off;
    std::unique_ptr<ImapSession> m_session;
    std::unique_ptr<ImapSession> m_lost; // failed, until the event loop releases it
    quint64 m_generation = 0; // changed by every watch() and stop(): a connection of an older watch is dropped
    int m_delayMs = 0;
    QTimer m_attempt; // the next connection
    QTimer m_held;    // the connection has held: the pause starts again from the first
};
