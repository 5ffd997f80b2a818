// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>
#include <functional>

// What a deletion does to the ticked messages of a mailbox, as its server allows: known when the
// mailbox is read, so that the warning promises only what the server can do.
struct Removal
{
    enum class Kind {
        Destroy,       // deleted for good, as the protocol has no other way (POP3)
        DestroyNoJunk, // deleted for good where a Junk folder was to be expected: the warning says so
        ToJunk,  // moved into the server's Junk folder, from which they can be recovered
        Refused, // the server cannot remove chosen messages only (IMAP without MOVE nor UIDPLUS)
        // DestroyNoJunk, ToJunk or Refused as the server's folder list tells (IMAP): asked only by a
        // deletion, before its warning, rather than by every scan.
        Unknown,
    };
    Kind kind = Kind::Destroy;
    QString folder; // ToJunk: the folder's name
    bool operator==(const Removal &) const = default;
};

// A row of the list to remove, as the scan read it: a message is removed only while it is still
// the one the row shows.
struct RemovalRow
{
    int number = 0;  // the message's number at the scan
    QString id;      // its unique id at the scan; empty when the scan got none
    QString subject; // as the list shows it
};

// Told as a removal goes, so that the caller can say so at once and keep the window alive. Each
// may be empty.
struct RemovalEvents
{
    // The row stays on the server: its message is no longer the row's, or cannot be told.
    std::function<void(const RemovalRow &row)> changed;
    // The server refused to remove it; the run goes on.
    std::function<void(const RemovalRow &row)> refused;
    // After each row and before each batch of commands: may run the window's events, and throw
    // to end the run (the session then to be released without close()).
    std::function<void()> between;

    void rowChanged(const RemovalRow &row) const
    {
        if (changed)
            changed(row);
    }
    void rowRefused(const RemovalRow &row) const
    {
        if (refused)
            refused(row);
    }
    void step() const
    {
        if (between)
            between();
    }
};
