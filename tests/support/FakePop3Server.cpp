// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakePop3Server.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include "DovecotServer.h"

namespace {

QByteArray headerOf(const QByteArray &message)
{
    const qsizetype blank = message.indexOf("\r\n\r\n");
    return blank < 0 ? message : message.left(blank + 4);
}

} // namespace

FakePop3Server::FakePop3Server(bool tls, QObject *parent) : QTcpServer(parent), m_tls(tls)
{
    if (m_tls) {
        const QString cert = m_certDir.filePath(QStringLiteral("cert.pem"));
        const QString key = m_certDir.filePath(QStringLiteral("key.pem"));
        if (makeSelfSignedCertificate(cert, key)) {
            trustInThisProcess(cert);
            const auto certs = QSslCertificate::fromPath(cert);
            if (!certs.isEmpty())
                m_certificate = certs.first();
            QFile keyFile(key);
            if (keyFile.open(QIODevice::ReadOnly))
                m_key = QSslKey(&keyFile, QSsl::Ec);
        }
    }
}

bool FakePop3Server::start()
{
    if (offersStls && m_certificate.isNull()) { // a TLS twin's, trusted in this process
        const FakePop3Server twin(true);
        std::tie(m_certificate, m_key) = std::pair(twin.m_certificate, twin.m_key);
    }
    if ((m_tls || offersStls) && (m_certificate.isNull() || m_key.isNull()))
        return false;
    return listen(QHostAddress::LocalHost, 0);
}

MailAccount FakePop3Server::account() const
{
    MailAccount a;
    a.host = QStringLiteral("127.0.0.1");
    a.port = serverPort();
    a.user = user;
    a.password = password;
    a.tls = m_tls;
    return a;
}

void FakePop3Server::breakCommand(const QByteArray &verb, Fault fault, int n)
{
    m_faults[verb][n] = fault;
}

bool FakePop3Server::received(const QByteArray &verb) const
{
    for (const QByteArray &c : commands)
        if (c == verb || c.startsWith(verb + ' '))
            return true;
    return false;
}

QHash<int, QString> FakePop3Server::uids() const
{
    QHash<int, QString> ids;
    for (int i = 1; i <= mailbox.size(); ++i)
        ids.insert(i, QStringLiteral("uid-%1").arg(qHash(mailbox.at(i - 1))));
    return ids;
}

FakePop3Server::Fault FakePop3Server::faultFor(const QByteArray &verb, int n) const
{
    const auto byVerb = m_faults.constFind(verb);
    if (byVerb == m_faults.constEnd())
        return Fault::None;
    if (byVerb->contains(n))
        return byVerb->value(n);
    return byVerb->value(0, Fault::None);
}

void FakePop3Server::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    ++connections;
    m_clients.insert(socket, Client());
    connect(socket, &QSslSocket::readyRead, this, [this, socket] { readCommands(socket); });
    connect(socket, &QSslSocket::disconnected, this, [this, socket] {
        m_clients.remove(socket);
        socket->deleteLater();
    });
    if (m_tls) {
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        connect(socket, &QSslSocket::encrypted, this, [this, socket] { greet(socket); });
        socket->startServerEncryption();
    } else {
        greet(socket);
    }
}

void FakePop3Server::greet(QSslSocket *socket)
{
    reply(socket, "GREETING", 0, greeting + "\r\n", false);
}

QByteArray FakePop3Server::multiLine(const QByteArray &status, const QByteArray &body)
{
    QByteArray out = "+OK " + status + "\r\n";
    out.reserve(out.size() + body.size() + body.size() / 64 + 8);
    qsizetype start = 0;
    while (start < body.size()) {
        qsizetype nl = body.indexOf('\n', start);
        const qsizetype end = nl < 0 ? body.size() : nl + 1;
        if (body[start] == '.')
            out += '.';
        out.append(body.constData() + start, end - start);
        start = end;
    }
    if (!body.isEmpty() && !body.endsWith("\r\n"))
        out += "\r\n";
    return out + ".\r\n";
}

void FakePop3Server::readCommands(QSslSocket *socket)
{
    auto client = m_clients.find(socket);
    if (client == m_clients.end())
        return;
    const QByteArray bytes = socket->readAll();
    bytesReceived += bytes.size();
    client->in += bytes;
    if (client->stlsAgreed) {
        // The client's handshake, answered in clear text.
        client->in.clear();
        client->dead = true;
        socket->write("-ERR this is not TLS\r\n");
        socket->disconnectFromHost();
        return;
    }
    int burst = 0;
    for (qsizetype nl; !client->dead && !client->busy && (nl = client->in.indexOf('\n')) >= 0;) {
        const QByteArray line = client->in.left(nl).trimmed();
        client->in.remove(0, nl + 1);
        ++burst;
        largestBurst = qMax(largestBurst, burst);
        answer(socket, line);
        client = m_clients.find(socket); // answer may have dropped the client
        if (client == m_clients.end())
            return;
    }
}

void FakePop3Server::answer(QSslSocket *socket, const QByteArray &line)
{
    commands << line;
    Client &c = m_clients[socket];
    const QList<QByteArray> words = line.split(' ');
    const QByteArray verb = words.first().toUpper();
    const QByteArray arg = words.size() > 1 ? words.at(1) : QByteArray();
    bool numberOk = false;
    const int n = arg.toInt(&numberOk);
    const bool exists = numberOk && n >= 1 && n <= mailbox.size() && !c.deleted.contains(n);
    const auto ok = [&](const QByteArray &text) { reply(socket, verb, n, "+OK " + text + "\r\n", false); };
    const auto err = [&](const QByteArray &text) { reply(socket, verb, n, "-ERR " + text + "\r\n", false); };
    if (faultFor(verb, n) == Fault::Err) // refused: no side effect
        return reply(socket, verb, n, {}, false);
    if (answers.contains(verb))
        return reply(socket, verb, n, answers.value(verb), true);

    if (verb == "CAPA") {
        if (!hasCapa)
            return err("Unknown command");
        QByteArray caps = "USER\r\nRESP-CODES\r\n";
        if (hasTop)
            caps += "TOP\r\n";
        if (hasUidl)
            caps += "UIDL\r\n";
        if (hasPipelining)
            caps += "PIPELINING\r\n";
        if (brokenStls || (offersStls && !c.upgraded))
            caps += "STLS\r\n";
        if (!c.upgraded)
            caps += clearTextCapa;
        if (loginDelay > 0)
            caps += "LOGIN-DELAY " + QByteArray::number(loginDelay) + "\r\n";
        return reply(socket, verb, n, multiLine("Capability list follows", caps), true);
    }
    if (verb == "QUIT") {
        std::sort(c.deleted.begin(), c.deleted.end(), std::greater<int>());
        if (c.loggedIn)
            for (int d : std::as_const(c.deleted))
                mailbox.removeAt(d - 1);
        c.deleted.clear();
        ok("Bye");
        socket->disconnectFromHost();
        return;
    }
    if (!c.loggedIn) {
        if (verb == "STLS" && brokenStls) {
            // Agrees, then answers the client's handshake with clear text.
            c.stlsAgreed = true;
            return ok("Begin TLS negotiation");
        }
        if (verb == "STLS" && offersStls && !c.upgraded) {
            ok("Begin TLS negotiation");
            c.upgraded = true;
            socket->setLocalCertificate(m_certificate);
            socket->setPrivateKey(m_key);
            socket->startServerEncryption();
            return;
        }
        if (verb == "USER") {
            c.user = QString::fromUtf8(arg) == user;
            return ok("");
        }
        if (verb == "PASS") {
            if (!refusePass.isEmpty())
                return err(refusePass);
            c.loggedIn = c.user && QString::fromUtf8(line.mid(5)) == password;
            return c.loggedIn ? ok("Logged in.") : err("[AUTH] Authentication failed.");
        }
        return err("Not logged in.");
    }
    if (verb == "STAT") {
        qsizetype size = 0;
        int count = 0;
        for (int i = 1; i <= mailbox.size(); ++i)
            if (!c.deleted.contains(i)) {
                ++count;
                size += mailbox.at(i - 1).size();
            }
        return ok(QByteArray::number(count) + ' ' + QByteArray::number(size));
    }
    if (verb == "TOP" && hasTop) {
        if (!exists)
            return err("No such message");
        const QByteArray &m = mailbox.at(n - 1);
        return reply(socket, verb, n, multiLine("", topGivesBody ? m : headerOf(m)), true);
    }
    if (verb == "RETR") {
        if (!exists)
            return err("No such message");
        const QByteArray &m = mailbox.at(n - 1);
        return reply(socket, verb, n, multiLine(QByteArray::number(m.size()) + " octets", m), true);
    }
    if (verb == "LIST" && !arg.isEmpty()) { // the listing of all is never asked for
        if (!exists)
            return err("No such message");
        return ok(arg + ' ' + QByteArray::number(mailbox.at(n - 1).size()));
    }
    if (verb == "DELE") {
        if (!exists)
            return err("No such message");
        c.deleted << n;
        return ok("Marked to be deleted.");
    }
    if (verb == "UIDL" && hasUidl) {
        QByteArray list;
        for (int i = 1; i <= mailbox.size(); ++i)
            if (!c.deleted.contains(i))
                list += QByteArray::number(i) + " uid-" + QByteArray::number(qHash(mailbox.at(i - 1))) + "\r\n";
        return reply(socket, verb, n, multiLine("", list), true);
    }
    if (verb == "NOOP" || verb == "RSET") {
        if (verb == "RSET")
            c.deleted.clear();
        return ok("");
    }
    err("Unknown command");
}

void FakePop3Server::reply(QSslSocket *socket, const QByteArray &verb, int n, const QByteArray &bytes, bool multi)
{
    Client &c = m_clients[socket];
    switch (faultFor(verb, n)) {
    case Fault::None:
        socket->write(bytes);
        return;
    case Fault::Err:
        socket->write("-ERR scripted failure\r\n");
        return;
    case Fault::Garbage:
        socket->write("* OK IMAP4rev1 says hello\r\n");
        return;
    case Fault::Stall:
        c.dead = true;
        return;
    case Fault::Drop:
        c.dead = true;
        socket->disconnectFromHost();
        return;
    case Fault::DropHalf:
        c.dead = true;
        socket->write(multi ? bytes.left(bytes.size() / 2) : bytes.left(2));
        socket->disconnectFromHost();
        return;
    case Fault::Twice:
        socket->write(bytes);
        socket->write(bytes);
        return;
    case Fault::Stray:
        socket->write(bytes + strayReply);
        return;
    case Fault::Unterminated:
        socket->write(multi ? bytes.chopped(3) : bytes);
        return;
    case Fault::Trickle:
        c.dead = true;
        trickle(socket, bytes.chopped(multi ? 3 : 2)); // short of its end
        return;
    case Fault::Endless:
        c.dead = true;
        socket->write("+OK here it comes\r\n");
        connect(socket, &QSslSocket::bytesWritten, this, [this, socket] { stream(socket); });
        stream(socket);
        return;
    case Fault::Delay: {
        // In four pieces, so the client sees progress and keeps waiting.
        c.busy = true;
        QPointer<QSslSocket> guard(socket);
        const qsizetype piece = bytes.size() / 4 + 1;
        for (int i = 0; i < 4; ++i) {
            QTimer::singleShot(delayMs * (i + 1) / 4, this, [this, guard, bytes, piece, i] {
                if (!guard)
                    return;
                guard->write(bytes.mid(i * piece, piece));
                if (i == 3 && m_clients.contains(guard.data())) {
                    m_clients[guard.data()].busy = false;
                    readCommands(guard.data());
                }
            });
        }
        return;
    }
    }
}

void FakePop3Server::trickle(QSslSocket *socket, const QByteArray &bytes)
{
    QPointer<QSslSocket> guard(socket);
    QTimer::singleShot(delayMs, this, [this, guard, bytes] {
        if (!guard || guard->state() != QAbstractSocket::ConnectedState)
            return;
        guard->write(bytes.left(1));
        trickle(guard.data(), bytes.size() > 1 ? bytes.mid(1) : QByteArray("x"));
    });
}

// Keeps a few hundred kilobytes queued, so the reply grows as fast as the client takes it
// while this process holds little of it.
void FakePop3Server::stream(QSslSocket *socket)
{
    static const QByteArray lines = QByteArray("X-Filler: " + QByteArray(100, 'x') + "\r\n").repeated(1024);
    while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 4 * lines.size())
        socket->write(lines);
}
