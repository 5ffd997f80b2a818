// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>

#include "core/Error.h"

struct MailAccount;

// A login the server refused. Two response codes (RFC 2449, section 8) say the account itself
// is fine: [LOGIN-DELAY] (logged in too recently) and [IN-USE] (another session holds the
// mailbox). The user is told so, rather than to check the account.
class LoginRefused : public Error
{
public:
    enum class Reason { Other, LoginDelay, InUse };

    LoginRefused(QString text, Reason reason) : Error(std::move(text), causeOf(reason)), m_reason(reason) {}
    Reason reason() const noexcept { return m_reason; }
    // Seconds the server asks between two logins, when known; 0 otherwise.
    int delaySeconds() const noexcept { return m_delaySeconds; }
    void setDelaySeconds(int seconds) noexcept { m_delaySeconds = seconds; }

private:
    static QString causeOf(Reason reason);
    Reason m_reason;
    int m_delaySeconds = 0;
};

// The reason named by the response code at the start of a -ERR text ("[IN-USE] ...").
LoginRefused::Reason refusalReason(const QByteArray &status);

// Seconds between two logins announced by the LOGIN-DELAY capability; 0 when none.
int announcedLoginDelay(const QStringList &capabilities);

// The box for a failed operation: what the server asked for when it refused the login for
// the time being, or that it no longer offers TLS; otherwise the operation's own text and,
// under it, the error's cause.
QString failureBoxText(const std::exception &e, const QString &otherwise);

// "10 secondes", "15 minutes".
QString delayText(int seconds);

// When each server and user may be logged into again, for the life of the process. The server
// counts the delay from its last accepted login, whoever made it.
class LoginDelay
{
public:
    using Clock = std::function<qint64()>; // milliseconds, never going back

    // The server accepted a login now.
    void loggedIn(const MailAccount &account);
    // Once logged in, the server announced delaySeconds (0: none). This value counts: it may be
    // the user's own rather than the general one announced before login.
    void announced(const MailAccount &account, int delaySeconds);
    // The server refused the login; with [LOGIN-DELAY] the next try waits a whole delay, as
    // the last login (made elsewhere, perhaps) is not known.
    void refused(const MailAccount &account, LoginRefused::Reason reason);
    // The delay last announced for the account; 0 when none.
    int delaySeconds(const MailAccount &account) const;
    // Milliseconds until a login may be made; 0 when it may be made now.
    qint64 waitMs(const MailAccount &account) const;

    void clear();
    // Tests give their own clock; an empty one restores the system's monotonic clock.
    void setClock(Clock clock);

private:
    struct Entry
    {
        int delaySeconds = 0;
        bool loggedIn = false;
        qint64 lastLogin = 0;
    };
    static QString key(const MailAccount &account);
    qint64 now() const;

    QHash<QString, Entry> m_entries;
    Clock m_clock;
};

// The process-wide bookkeeping every POP3 login goes through.
LoginDelay &loginDelays();
