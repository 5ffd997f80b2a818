// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeImapServer.h"

#include <QSslSocket>
#include <utility>

namespace {

// Atoms, quoted strings and literals.
QList<QByteArray> words(const QByteArray &line)
{
    QList<QByteArray> out;
    QByteArray word;
    bool in = false, quoted = false, escaped = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (!in && c == '{') {
            const qsizetype close = line.indexOf('}', i);
            const qsizetype n = line.mid(i + 1, close - i - 1).toLongLong();
            out << line.mid(close + 3, n);
            i = close + 2 + n;
        } else if (quoted && !escaped && c == '\\')
            escaped = true;
        else if (quoted && !escaped && c == '"')
            quoted = false;
        else if (quoted)
            word += c, escaped = false;
        else if (c == '"')
            quoted = in = true;
        else if (c != ' ')
            word += c, in = true;
        else if (in)
            out << std::exchange(word, {}), in = false;
    }
    if (in)
        out << word;
    return out;
}

QByteArray literal(const QByteArray &bytes)
{
    return '{' + QByteArray::number(bytes.size()) + "}\r\n" + bytes;
}

} // namespace

FakeImapServer::FakeImapServer(bool tls, QObject *parent) : FakePop3Server(tls, parent), m_implicitTls(tls)
{
    greeting = "* OK Pelicorde IMAP test server ready";
}

void FakeImapServer::deliver(const QByteArray &message)
{
    syncUids();
    uids << (uids.isEmpty() ? 1 : uids.last() + 1);
    mailbox << message;
    for (auto c = m_sessions.cbegin(); c != m_sessions.cend(); ++c)
        if (!c->idleTag.isEmpty() && m_clients.contains(c.key()))
            c.key()->write("* " + QByteArray::number(mailbox.size()) + " EXISTS\r\n");
}

void FakeImapServer::dropClients()
{
    for (QSslSocket *socket : m_clients.keys())
        socket->disconnectFromHost();
}

void FakeImapServer::greet(QSslSocket *socket)
{
    m_sessions[socket] = {m_implicitTls, {}, {}, {}};
    m_clients[socket].loggedIn = greeting.startsWith("* PREAUTH");
    if (faultFor("GREETING", 0) == Fault::Garbage)
        socket->write("+OK POP3 server ready\r\n");
    else
        reply(socket, "GREETING", 0, greeting + "\r\n", false);
}

QByteArray FakeImapServer::capabilities(const Session &c) const
{
    QByteArray caps = "IMAP4rev1 SPECIAL-USE AUTH=PLAIN";
    if (offersStls && !c.tls)
        caps += " STARTTLS";
    if ((loginDisabled && !c.tls) || saslOnly)
        caps += " LOGINDISABLED";
    if (hasIdle)
        caps += " IDLE";
    if (hasUidPlus)
        caps += " UIDPLUS";
    if (hasMove)
        caps += " MOVE";
    return caps;
}

void FakeImapServer::syncUids()
{
    if (uids.size() != mailbox.size()) {
        uids.clear();
        for (qsizetype i = 1; i <= mailbox.size(); ++i)
            uids << quint32(i);
    }
}

QList<int> FakeImapServer::numbersOf(const QByteArray &uidSet)
{
    QList<int> numbers;
    for (const QByteArray &range : uidSet.split(',')) {
        const QList<QByteArray> ends = range.split(':');
        const quint32 from = ends.first().toUInt();
        const quint32 to = ends.last().toUInt();
        for (qsizetype i = 0; i < uids.size(); ++i)
            if (uids[i] >= from && uids[i] <= to)
                numbers << int(i + 1);
    }
    std::sort(numbers.begin(), numbers.end(), std::greater<int>());
    return numbers;
}

QByteArray FakeImapServer::expunge(const QList<int> &numbers)
{
    QByteArray out;
    for (const int n : numbers) {
        mailbox.removeAt(n - 1);
        uids.removeAt(n - 1);
        out += "* " + QByteArray::number(n) + " EXPUNGE\r\n";
    }
    return out;
}

void FakeImapServer::send(QSslSocket *socket, const QByteArray &verb, const QByteArray &untagged, const QByteArray &tagged)
{
    switch (faultFor(verb, 0)) {
    case Fault::Garbage:
        socket->write("+OK POP3 says hello\r\n");
        return;
    case Fault::Stray:
        socket->write(untagged + strayReply + tagged);
        return;
    default:
        reply(socket, verb, 0, untagged + tagged, true);
    }
}

void FakeImapServer::answer(QSslSocket *socket, const QByteArray &part)
{
    Session &c = m_sessions[socket];
    if (part.endsWith('}')) { // a synchronising literal follows once asked for
        c.partial += part + "\r\n";
        return (void)socket->write("+ go ahead\r\n");
    }
    const QByteArray line = std::exchange(c.partial, {}) + part;
    commands << line;
    if (!c.idleTag.isEmpty()) // only DONE ends IDLE
        return send(socket, "DONE", {}, std::exchange(c.idleTag, {}) + " OK Idle completed\r\n");
    bool &loggedIn = m_clients[socket].loggedIn;
    if (!c.saslTag.isEmpty()) { // "\0user\0password"
        const QList<QByteArray> plain = QByteArray::fromBase64(line).split('\0');
        loggedIn = plain.value(1) == user.toUtf8() && plain.value(2) == password.toUtf8();
        return (void)socket->write(std::exchange(c.saslTag, {}) + (loggedIn ? " OK Logged in\r\n" : " NO failed\r\n"));
    }
    syncUids();
    const QList<QByteArray> w = words(line);
    const QByteArray tag = w.value(0, "*");
    const bool byUid = w.value(1).toUpper() == "UID";
    const QByteArray verb = byUid ? "UID " + w.value(2).toUpper() : w.value(1).toUpper();
    const QList<QByteArray> args = w.mid(byUid ? 3 : 2);
    const auto ok = [&](const QByteArray &untagged = {}) { send(socket, verb, untagged, tag + " OK done\r\n"); };
    const auto no = [&](const QByteArray &text) { send(socket, verb, {}, tag + " NO " + text + "\r\n"); };
    if (faultFor(verb, 0) == Fault::Err) // refused: no side effect
        return (void)socket->write(tag + " NO scripted failure\r\n");
    if (verb == "CAPABILITY")
        return ok("* CAPABILITY " + capabilities(c) + "\r\n");
    if (verb == "LOGOUT") {
        ok("* BYE logging out\r\n");
        return socket->disconnectFromHost();
    }
    if (!loggedIn) {
        if (verb == "STARTTLS" && offersStls && !c.tls) {
            ok();
            c.tls = true;
            socket->setLocalCertificate(m_certificate);
            socket->setPrivateKey(m_key);
            return socket->startServerEncryption();
        }
        if (verb == "AUTHENTICATE" && args.value(0) == "PLAIN") {
            c.saslTag = tag;
            return (void)socket->write("+ \r\n");
        }
        if (verb == "LOGIN" && args.size() == 2 && !(loginDisabled && !c.tls) && !saslOnly) {
            loggedIn = QString::fromUtf8(args[0]) == user && QString::fromUtf8(args[1]) == password;
            return loggedIn ? ok() : no("[AUTHENTICATIONFAILED] Authentication failed.");
        }
        return no("Not logged in");
    }
    if (verb == "SELECT" || verb == "EXAMINE")
        return ok("* FLAGS (\\Seen \\Deleted)\r\n* " + (exists.isEmpty() ? QByteArray::number(mailbox.size()) : exists)
                  + " EXISTS\r\n* OK [UIDVALIDITY " + QByteArray::number(uidValidity) + "] UIDs valid\r\n");
    if (verb == "LIST")
        return ok(hasJunk ? "* LIST (\\HasNoChildren \\Junk) \".\" Junk\r\n" : "");
    if (verb == "FETCH") {
        const QList<QByteArray> ends = args.value(0).split(':');
        QByteArray out;
        for (int n = ends.first().toInt(); n <= ends.last().toInt() && n <= mailbox.size(); ++n) {
            const QByteArray &m = mailbox[n - 1];
            if (n != skipFetch)
                out += "* " + QByteArray::number(n) + " FETCH (UID " + QByteArray::number(uids[n - 1]) + " RFC822.SIZE "
                       + QByteArray::number(m.size()) + " BODY[HEADER.FIELDS (FROM SUBJECT DATE CONTENT-TYPE)] "
                       + literal(m.left(m.indexOf("\r\n\r\n") + 4)) + ")\r\n";
        }
        return ok(out);
    }
    const QList<int> numbers = numbersOf(args.value(0));
    if (verb == "UID FETCH") {
        const int n = numbers.value(0);
        return ok(n ? "* " + QByteArray::number(n) + " FETCH (UID " + args[0] + " BODY[] " + literal(mailbox[n - 1]) + ")\r\n"
                    : QByteArray());
    }
    if ((verb == "UID COPY" || (verb == "UID MOVE" && hasMove)) && args.value(1) == "Junk") {
        if (!hasJunk)
            return no("[TRYCREATE] Mailbox doesn't exist: Junk");
        for (auto n = numbers.crbegin(); n != numbers.crend(); ++n)
            junk << mailbox[*n - 1];
        return ok(verb == "UID MOVE" ? expunge(numbers) : QByteArray());
    }
    if (verb == "UID STORE") {
        for (const int n : numbers)
            m_deleted << uids[n - 1];
        return ok();
    }
    if (verb == "UID EXPUNGE" && hasUidPlus) {
        QList<int> marked;
        for (const int n : numbers)
            if (m_deleted.contains(uids[n - 1]))
                marked << n;
        return ok(expunge(marked));
    }
    if (verb == "IDLE" && hasIdle) {
        c.idleTag = tag;
        return send(socket, verb, "+ idling\r\n", {});
    }
    send(socket, verb, {}, tag + " BAD Unknown command\r\n");
}
