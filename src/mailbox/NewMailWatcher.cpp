// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/NewMailWatcher.h"

#include <QPointer>
#include <algorithm>

#include "protocol/LoginDelay.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/SessionOpening.h"

NewMailWatcher::NewMailWatcher(QObject *parent) : QObject(parent)
{
    m_attempt.setSingleShot(true);
    m_held.setSingleShot(true);
    m_gather.setSingleShot(true);
    m_clock.start();
    connect(&m_attempt, &QTimer::timeout, this, &NewMailWatcher::attempt);
    connect(&m_gather, &QTimer::timeout, this, &NewMailWatcher::gathered);
    connect(&m_held, &QTimer::timeout, this, [this] { m_delayMs = m_timing.firstRetryMs; });
}

NewMailWatcher::~NewMailWatcher() { stop(); }

bool NewMailWatcher::idling() const { return m_session && m_session->watching(); }

void NewMailWatcher::watch(const MailAccount &account, const QString &dataFolder)
{
    stop();
    m_account = account;
    // Never a password in clear text for a connection the user did not ask for.
    m_account.tlsRequired = true;
    m_dataFolder = dataFolder;
    m_state = State::Watching;
    m_delayMs = m_timing.firstRetryMs;
    m_attempt.start(0);
}

void NewMailWatcher::stop()
{
    ++m_generation;
    m_attempt.stop();
    m_held.stop();
    m_gather.stop();
    m_firstAnnounced = -1;
    if (m_session) {
        m_session->leave();
        m_session.reset();
    }
    m_state = State::Off;
}

void NewMailWatcher::end(State state, const QString &why)
{
    stop();
    m_state = state;
    emit ended(why);
}

void NewMailWatcher::attempt()
{
    if (m_mayConnect && !m_mayConnect()) {
        m_attempt.start(m_timing.waitMs);
        return;
    }
    // Opening waits in local event loops, where this watch may be stopped, replaced or destroyed.
    const QPointer<NewMailWatcher> self(this);
    const quint64 generation = m_generation;
    const auto current = [&] { return self && m_generation == generation; };
    // Copies: this watch may be gone once the opening returns.
    const MailAccount account = m_account;
    const QString dataFolder = m_dataFolder;
    const int renewalMs = m_timing.renewalMs;
    std::unique_ptr<MailboxSession> session = makeMailboxSession(account);
    NeverAsk nobody;
    bool idles = false;
    try {
        openSession(*session, account, dataFolder, MailboxSession::Access::Read, nobody);
        if (!current())
            return session->leave();
        idles = session->watch([this](int count) { announced(count); }, [this](const Error &error) { lost(error); },
                               renewalMs);
    } catch (const EncryptionWithdrawn &e) {
        if (current())
            end(State::Unsuited, e.text());
        return;
    } catch (const LoginRefused &e) {
        if (current())
            end(State::GaveUp, e.text());
        return;
    } catch (const CertificateToConfirm &e) {
        if (current())
            end(State::GaveUp, e.text());
        return;
    } catch (const Error &e) {
        if (!current())
            return;
        return lost(e);
    }
    if (!current())
        return session->leave();
    if (!idles) {
        session->leave();
        return end(State::Unsuited, QStringLiteral("Le serveur %1 ne propose pas IDLE").arg(m_account.host));
    }
    m_session = std::move(session);
    m_held.start(m_timing.heldMs);
    emit idle();
}

void NewMailWatcher::lost(const Error &)
{
    // Called by the session from within a signal of its socket: released from the event loop.
    if (m_session) {
        m_lost = std::move(m_session);
        QTimer::singleShot(0, this, [this] { m_lost.reset(); });
    }
    m_held.stop();
    const int delay = m_delayMs;
    m_delayMs = qMin(m_delayMs * 2, m_timing.maxRetryMs);
    m_attempt.start(delay);
    emit retrying(delay);
}

void NewMailWatcher::announced(int count)
{
    // Each announcement would otherwise cost a login and a scan of the whole mailbox: twenty
    // messages a few tenths of a second apart, or a server announcing without end.
    const qint64 now = m_clock.elapsed();
    m_count = count;
    if (m_firstAnnounced < 0)
        m_firstAnnounced = now;
    qint64 due = std::min(now + m_timing.settleMs, m_firstAnnounced + m_timing.longestWaitMs);
    if (!m_told.isEmpty())
        due = std::max(due, m_told.last() + m_timing.spacingMs);
    constexpr qint64 Minute = 60 * 1000;
    while (!m_told.isEmpty() && m_told.first() <= now - Minute)
        m_told.removeFirst();
    if (m_timing.perMinute > 0 && m_told.size() >= m_timing.perMinute)
        due = std::max(due, m_told.first() + Minute);
    m_gather.start(int(std::max<qint64>(0, due - now)));
}

void NewMailWatcher::gathered()
{
    m_firstAnnounced = -1;
    m_told << m_clock.elapsed();
    while (m_told.size() > std::max(m_timing.perMinute, 1))
        m_told.removeFirst();
    emit newMail(m_count);
}
