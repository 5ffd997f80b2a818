// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "core/Error.h"

// The failures a mailbox session has beside those of its connection, whatever its protocol.

// The mailbox is no longer the one the caller read: its UIDVALIDITY changed, or messages were
// expunged while their numbers were being read. Nothing was removed.
class MailboxChanged : public Error
{
public:
    using Error::Error;
};

// A removal the server stopped midway (a refused UID MOVE, say): the text is the server's
// refusal; done messages had left the INBOX already, by the earlier commands of the run.
class RemovalFailed : public Error
{
public:
    RemovalFailed(const Error &cause, int done) : Error(cause.text(), cause.cause()), m_done(done) {}
    int done() const noexcept { return m_done; }

private:
    int m_done;
};

// The server cannot expunge chosen messages only (no UIDPLUS): a plain EXPUNGE would also remove
// the messages other programs marked \Deleted, so nothing was removed.
class ExpungeUnsupported : public Error
{
public:
    using Error::Error;
};

// The message asked for by its UID is no longer on the server.
class MessageGone : public Error
{
public:
    using Error::Error;
};
