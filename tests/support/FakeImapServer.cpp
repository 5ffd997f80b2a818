// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeImapServer.h"

#include <QSslSocket>

FakeImapServer::FakeImapServer(QObject *parent) : FakePop3Server(false, parent)
{
    const QByteArray examined = "* 3 EXISTS\r\n* OK [UIDVALIDITY 7] UIDs valid\r\n$ OK done";
    script = {
        {"GREETING", "* OK Pelicorde IMAP test server ready"},
        {"CAPABILITY", "* CAPABILITY IMAP4rev1 SPECIAL-USE IDLE UIDPLUS MOVE\r\n$ OK done"},
        {"STARTTLS", "$ OK begin TLS"},
        {"LOGIN", "$ OK logged in"},
        {"AUTHENTICATE", "+ "},
        {"EXAMINE", examined},
        {"SELECT", examined},
        {"FETCH", fetched(1) + fetched(2) + fetched(3) + "$ OK done"},
        {"LIST", "* LIST (\\HasNoChildren \\Junk) \".\" Junk\r\n$ OK done"},
        {"UID MOVE", "* 2 EXPUNGE\r\n$ OK done"},
        {"UID COPY", "$ OK done"},
        {"UID STORE", "$ OK done"},
        {"UID EXPUNGE", "* 2 EXPUNGE\r\n$ OK done"},
        {"IDLE", "+ idling"},
        {"+", "$ OK done"},
        {"LOGOUT", "* BYE\r\n$ OK done"},
    };
}

QByteArray FakeImapServer::fetched(int n, const QByteArray &header)
{
    const QByteArray number = QByteArray::number(n);
    return "* " + number + " FETCH (UID " + number + " BODY[HEADER] {"
           + QByteArray::number(header.size()) + "}\r\n" + header + ")\r\n";
}

void FakeImapServer::push(const QByteArray &bytes)
{
    for (QSslSocket *socket : m_clients.keys())
        socket->write(bytes);
}

void FakeImapServer::pushIdling(const QByteArray &bytes)
{
    for (QSslSocket *socket : m_continued.keys())
        socket->write(bytes);
}

void FakeImapServer::dropClients()
{
    for (QSslSocket *socket : m_clients.keys())
        socket->disconnectFromHost();
}

void FakeImapServer::greet(QSslSocket *socket)
{
    m_continued.remove(socket);
    reply(socket, "GREETING", 0, script.value("GREETING") + "\r\n", false);
}

void FakeImapServer::answer(QSslSocket *socket, const QByteArray &line)
{
    commands << line;
    const QList<QByteArray> words = line.split(' ');
    const bool continued = m_continued.contains(socket);
    const QByteArray tag = continued ? m_continued.take(socket) : words.value(0);
    QByteArray verb = continued ? "+" : words.value(1).toUpper();
    if (verb == "UID")
        verb += ' ' + words.value(2).toUpper();
    if (line.endsWith('}')) { // a synchronising literal, which must wait for this
        if (!m_clients[socket].in.isEmpty())
            return (void)socket->write(tag + " NO literal sent unasked\r\n");
        m_continued.insert(socket, tag);
        return (void)socket->write("+ go ahead\r\n");
    }
    const QByteArray out = script.value(line.mid(tag.size() + 1), script.value(verb, "$ BAD unknown command"));
    if (out.startsWith('+'))
        m_continued.insert(socket, tag);
    reply(socket, verb, 0, QByteArray(out).replace('$', tag) + "\r\n", true);
    if (verb == "STARTTLS" && out.contains(" OK ")) {
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        socket->startServerEncryption();
    }
}
