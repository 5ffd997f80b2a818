// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QList>
#include <QSslError>
#include <QString>
#include <functional>
#include <memory>

#include "protocol/Transport.h"

// A conversation written out as its transcript, one entry a line, played to a session through
// the transports it makes (MailConnection::setTransport):
//   connect | connect tls   the session connects, over TLS from the first byte or not
//   C: <line>               a line the client sends, CRLF added: checked byte for byte, in order
//   S: <line>               a line the server sends, CRLF added
//   tls                     the client starts TLS here (no real TLS: encrypted from then on)
//   close                   the server closes the connection
// The server's consecutive lines come together when the client next waits for the server, not
// before: a client that sends a line where the script has the server speak first did not wait
// for its answer, one that waits where the script has it send a line did not pipeline it; both
// are differences. At the first difference the connection drops, so the session fails too.
class Transcript
{
public:
    explicit Transcript(const QByteArray &text);
    // What the TLS handshake finds wrong with the server's certificate, for the decision.
    void presentCertificate(const QList<QSslError> &errors);
    TransportFactory transports() const;
    // The first difference, else body's Error, else the entries the session never reached;
    // empty when the session ran through the whole transcript as written.
    QString play(const std::function<void()> &body) const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};
