// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ScriptedTransport.h"

#include <cstring>

#include "core/Error.h"

struct Transcript::State
{
    enum class Kind { Connect, ConnectTls, Client, Server, Tls, Close };
    struct Entry
    {
        Kind kind;
        QByteArray bytes; // of a client's or server's line, CRLF included
        QByteArray text;  // as written
        int line;
    };
    QList<Entry> entries;
    qsizetype next = 0;
    QList<QSslError> certificateErrors;
    QString failure;

    const Entry *upcoming() const { return next < entries.size() ? &entries[next] : nullptr; }
    // Only the first difference counts: what follows it is its consequence.
    void differ(const QString &done)
    {
        if (!failure.isEmpty())
            return;
        const Entry *e = upcoming();
        failure = e ? QStringLiteral("transcript line %1: expected « %2 », %3")
                          .arg(e->line)
                          .arg(QString::fromLatin1(e->text), done)
                    : QStringLiteral("after the end of the transcript, %1").arg(done);
    }
};

namespace {

using State = Transcript::State;

// Line ends and bytes outside printable ASCII made visible.
QString visible(QByteArrayView bytes)
{
    QString out;
    for (const char c : bytes) {
        if (c == '\r')
            out += QLatin1String("\\r");
        else if (c == '\n')
            out += QLatin1String("\\n");
        else if (uchar(c) < 0x20 || uchar(c) > 0x7E)
            out += QStringLiteral("\\x%1").arg(int(uchar(c)), 2, 16, QLatin1Char('0'));
        else
            out += QLatin1Char(c);
    }
    return out;
}

class ScriptedTransport final : public Transport
{
public:
    explicit ScriptedTransport(std::shared_ptr<State> state) : m_script(std::move(state)) {}

    bool trustCaFile(const QString &) override { return true; }
    void connectToHost(const QString &, quint16, bool tls) override
    {
        if (!take(tls ? State::Kind::ConnectTls : State::Kind::Connect,
                  tls ? QStringLiteral("the client connects over TLS") : QStringLiteral("the client connects")))
            return;
        m_state = QAbstractSocket::ConnectedState;
        m_encrypted = tls;
    }
    void startTls() override
    {
        if (m_state == QAbstractSocket::ConnectedState && take(State::Kind::Tls, QStringLiteral("the client starts TLS")))
            m_encrypted = true;
    }
    bool isEncrypted() const override { return m_encrypted; }
    QAbstractSocket::SocketState state() const override { return m_state; }
    QAbstractSocket::SocketError error() const override
    {
        return m_state == QAbstractSocket::UnconnectedState ? QAbstractSocket::RemoteHostClosedError
                                                             : QAbstractSocket::UnknownSocketError;
    }
    QList<QSslCertificate> peerCertificateChain() const override
    {
        QList<QSslCertificate> chain;
        for (const QSslError &e : sslErrors())
            chain << e.certificate();
        return chain;
    }
    QList<QSslError> sslErrors() const override { return m_encrypted ? m_script->certificateErrors : QList<QSslError>(); }

    qint64 bytesAvailable() const override { return m_inbox.size(); }
    qint64 read(char *into, qint64 max) override
    {
        const qint64 n = qMin(max, qint64(m_inbox.size()));
        std::memcpy(into, m_inbox.constData(), size_t(n));
        m_inbox.remove(0, n);
        return n;
    }
    QByteArray readAll() override { return std::exchange(m_inbox, {}); }

    // Each whole line is checked as it comes; the rest of a write waits for its line end.
    void write(const QByteArray &bytes) override
    {
        if (m_state != QAbstractSocket::ConnectedState)
            return;
        m_written += bytes;
        for (qsizetype nl; m_state == QAbstractSocket::ConnectedState && (nl = m_written.indexOf('\n')) >= 0;) {
            const QByteArray line = m_written.left(nl + 1);
            m_written.remove(0, nl + 1);
            const State::Entry *e = m_script->upcoming();
            if (e && e->kind == State::Kind::Client && e->bytes == line)
                ++m_script->next;
            else
                fail(QStringLiteral("the client sent « %1 »")
                         .arg(visible(line.endsWith("\r\n") ? line.chopped(2) : line)));
        }
    }

    // The server's next lines, or its closing, come now; the client waiting for anything else
    // would wait for ever.
    bool waitForActivity(int) override
    {
        const State::Entry *e = m_script->upcoming();
        if (m_state != QAbstractSocket::ConnectedState)
            return true;
        if (e && e->kind == State::Kind::Server) {
            for (; (e = m_script->upcoming()) && e->kind == State::Kind::Server; ++m_script->next)
                m_inbox += e->bytes;
            emit readyRead();
        } else if (e && e->kind == State::Kind::Close) {
            ++m_script->next;
            drop(false);
        } else {
            fail(QStringLiteral("the client waits for the server"));
        }
        return true;
    }

    void abort() override { drop(true); }
    void disconnectFromHost() override { drop(false); }

private:
    bool take(State::Kind kind, const QString &done)
    {
        const State::Entry *e = m_script->upcoming();
        if (e && e->kind == kind) {
            ++m_script->next;
            return true;
        }
        fail(done);
        return false;
    }
    void fail(const QString &done)
    {
        m_script->differ(done);
        drop(true);
    }
    void drop(bool discard)
    {
        if (discard)
            m_inbox.clear();
        if (m_state == QAbstractSocket::UnconnectedState)
            return;
        m_state = QAbstractSocket::UnconnectedState;
        emit stateChanged();
        emit disconnected();
    }

    std::shared_ptr<State> m_script;
    QAbstractSocket::SocketState m_state = QAbstractSocket::UnconnectedState;
    bool m_encrypted = false;
    QByteArray m_inbox;   // what the server said that the client has not read
    QByteArray m_written; // a line the client has not ended yet
};

} // namespace

Transcript::Transcript(const QByteArray &text) : m_state(std::make_shared<State>())
{
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray entry = lines[i].trimmed();
        const QByteArray said = lines[i].mid(lines[i].indexOf(':') + 1);
        const QByteArray bytes = (said.startsWith(' ') ? said.mid(1) : said) + "\r\n";
        const int line = i + 1;
        if (entry.isEmpty())
            continue;
        if (entry.startsWith("C:"))
            m_state->entries.append({State::Kind::Client, bytes, entry, line});
        else if (entry.startsWith("S:"))
            m_state->entries.append({State::Kind::Server, bytes, entry, line});
        else if (entry == "connect" || entry == "connect tls")
            m_state->entries.append({entry == "connect" ? State::Kind::Connect : State::Kind::ConnectTls, {}, entry, line});
        else if (entry == "tls" || entry == "close")
            m_state->entries.append({entry == "tls" ? State::Kind::Tls : State::Kind::Close, {}, entry, line});
        else
            qFatal("transcript line %d: no such entry: %s", line, entry.constData());
    }
}

void Transcript::presentCertificate(const QList<QSslError> &errors)
{
    m_state->certificateErrors = errors;
}

TransportFactory Transcript::transports() const
{
    return [state = m_state] { return std::make_unique<ScriptedTransport>(state); };
}

QString Transcript::play(const std::function<void()> &body) const
{
    QString error;
    try {
        body();
    } catch (const Error &e) {
        error = QStringLiteral("the session failed: ") + e.text();
    }
    if (!m_state->failure.isEmpty())
        return m_state->failure;
    if (!error.isEmpty())
        return error;
    if (const State::Entry *e = m_state->upcoming())
        return QStringLiteral("transcript line %1 never reached: « %2 »").arg(e->line).arg(QString::fromLatin1(e->text));
    return {};
}
