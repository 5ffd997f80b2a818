// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>

class ImapResponse;
class ImapValue;
struct MailPart;

// What the message list shows of a message's attachments, read from its structure alone.
struct AttachmentInfo
{
    int count = 0;
    // The names the list's attachment column shows, each as attachments::safeFileName makes it
    // (an unnamed part gets the name it would be saved under).
    QStringList names;
    // False when the server's description of the message went past the limits on a response:
    // the count is unknown, no names.
    bool known = true;
};

// A message's attachments from its BODYSTRUCTURE (RFC 3501, 7.4.2), by the rule MailMessage
// applies to the whole message. Leaves with plain types and names are classified and named
// straight from the structure, at a small fraction of a parse's cost (the common case); any
// other message has its structure written back as a MIME skeleton (the part headers that
// classify and name the parts, no content) and parsed, so that the count and names are those
// of the whole message by construction.
// The server reads part headers more strictly than MailMessage does: a type it cannot read
// comes as an empty one with its parameters dropped, a parameter missing its ';' is dropped, an
// unquoted value is cut at its first blank ("my file.pdf" comes as "my"). Such parts (an empty
// type, an attachment without a name, or named without an extension) have their own header
// fetched apart (sectionsToRead()), which then takes the place of the one written back.
class ImapStructure
{
public:
    explicit ImapStructure(const ImapValue &structure);
    // The attachments straight from the structure, without building the skeleton: false, and
    // info untouched, when only the skeleton can settle them.
    static bool readDirect(const ImapValue &structure, AttachmentInfo &info);

    AttachmentInfo attachments() const;
    // The sections of the parts whose header to fetch, as BODY.PEEK[…] names them: "2.MIME",
    // "1.3.MIME", or the header fields of a message of one part. Empty when none.
    QList<QByteArray> sectionsToRead() const;
    // A FETCH item's name ("BODY[2.MIME]") and value: the header of one of those sections. The
    // attachments are read again from the skeleton with it. False for any other item.
    bool setHeader(QByteArrayView item, QByteArrayView header);
    // Whether a FETCH item's name is that of a section's header: "BODY[…]".
    static bool isHeaderItem(QByteArrayView item);
    // Bytes held, for the caller's bound on structures waiting for their headers.
    qsizetype size() const;

private:
    struct Leaf
    {
        qsizetype piece;    // its header's index in m_pieces
        QByteArray section; // empty: the message itself
        bool typeUnread;    // the server gave it no type or subtype
        bool message;       // message/rfc822, named after its subject when unnamed
    };
    void write(const ImapValue &body, const QByteArray &section);
    QList<MailPart> read() const;

    QList<QByteArray> m_pieces; // the skeleton, each leaf's header a piece of its own
    QList<Leaf> m_leaves;
    QList<qsizetype> m_toRead; // leaves whose header is to be fetched
    int m_boundaries = 0;
    mutable AttachmentInfo m_info;
    mutable bool m_stale = false; // a header came since m_info was read
};

// The structures of a pass over many messages, handed over in message order: a message whose
// part headers are to be fetched waits for them, and those after it wait behind it, within a
// bound on the bytes held, past which the oldest go as their structure alone tells them. The
// session sends the fetches (nextFetch()) and passes their responses on.
class StructurePass
{
public:
    using Each = std::function<void(int n, quint32 uid, const AttachmentInfo &attachments)>;
    struct Fetch
    {
        int n;
        quint32 uid;
        QByteArray items; // "(BODY.PEEK[2.MIME] BODY.PEEK[3.MIME])"
    };

    StructurePass(qsizetype heldBytes, Each each) : m_most(heldBytes), m_each(std::move(each)) {}

    // Message n's structure, n after n; null when it was passed over for its size (unknown).
    void add(int n, quint32 uid, const ImapValue *structure);
    // The next fetch of part headers to send, none when none is waiting.
    std::optional<Fetch> nextFetch();
    bool fetchesLeft() const { return !m_toAsk.empty(); }
    // A FETCH response: whether it answers a fetch sent (a part's header, or one passed over).
    bool take(const ImapResponse &r);
    // The fetch for message n ended, with or without headers: it is counted from what came.
    void fetched(int n);
    void finish(); // hands over whatever is left

private:
    struct Held
    {
        int n;
        quint32 uid;
        std::unique_ptr<ImapStructure> structure; // null once read
        AttachmentInfo info;
        qsizetype bytes = 0;
        bool asked = false;
    };
    Held *find(int n);
    void weigh(Held &h);
    void handOver(bool all = false);

    qsizetype m_most;
    Each m_each;
    std::deque<Held> m_held; // from the first message not handed over, one per number
    qsizetype m_heldBytes = 0;
    std::deque<int> m_toAsk;
    std::set<int> m_givenUp; // asked, then handed over before the answer
};
