// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/NewMailWatcher.h"

#include <QPointer>

#include "mailbox/ImapSession.h"
#include "mailbox/LoginDelay.h"

NewMailWatcher::NewMailWatcher(QObject *parent) : QObject(parent)
{
    m_attempt.setSingleShot(true);
    m_held.setSingleShot(true);
    connect(&m_attempt, &QTimer::timeout, this, &NewMailWatcher::attempt);
    connect(&m_held, &QTimer::timeout, this, [this] { m_delayMs = m_timing.firstRetryMs; });
}

NewMailWatcher::~NewMailWatcher() { stop(); }

bool NewMailWatcher::idling() const { return m_session && m_session->idling(); }

void NewMailWatcher::watch(const MailAccount &account, CertificateDecision decide)
{
    stop();
    m_account = account;
    // Never a password in clear text for a connection the user did not ask for.
    m_account.tlsRequired = true;
    m_decide = std::move(decide);
    m_state = State::Watching;
    m_delayMs = m_timing.firstRetryMs;
    m_attempt.start(0);
}

void NewMailWatcher::stop()
{
    ++m_generation;
    m_attempt.stop();
    m_held.stop();
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
    auto session = std::make_unique<ImapSession>();
    const auto certificateRefused = std::make_shared<bool>(false);
    session->setCertificateDecision([certificateRefused, decide = m_decide](const PeerCertificate &peer) {
        try {
            *certificateRefused = !(decide && decide(peer));
        } catch (const Error &) {
            *certificateRefused = true;
        }
        return !*certificateRefused;
    });
    session->setIdleRenewal(m_timing.renewalMs);
    bool idles = false;
    try {
        session->open(m_account);
        if (!current())
            return session->leave();
        session->select(true);
        if (!current())
            return session->leave();
        idles = session->startIdle(
            [this](int count) {
                QMetaObject::invokeMethod(this, [this, count] { emit newMail(count); }, Qt::QueuedConnection);
            },
            [this](const Error &error) { lost(error); });
    } catch (const EncryptionWithdrawn &e) {
        if (current())
            end(State::Unsuited, e.text());
        return;
    } catch (const LoginRefused &e) {
        if (current())
            end(State::GaveUp, e.text());
        return;
    } catch (const Error &e) {
        if (!current())
            return;
        if (*certificateRefused)
            return end(State::GaveUp, e.text());
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
