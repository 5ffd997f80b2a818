// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

// What a deletion does to the ticked messages of a mailbox, as its server allows: known when the
// mailbox is read, so that the warning promises only what the server can do.
struct Removal
{
    enum class Kind {
        Destroy, // deleted for good
        ToJunk,  // moved into the server's Junk folder, from which they can be recovered
        Refused, // the server cannot remove chosen messages only (IMAP without MOVE nor UIDPLUS)
    };
    Kind kind = Kind::Destroy;
    QString folder; // ToJunk: the folder's name
    bool operator==(const Removal &) const = default;
};
