// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/SpamMarking.h"

#include <QFile>
#include <QHash>

#include <bit>
#include <cstdint>
#include <vector>

#include "core/Ansi.h"
#include "core/BlacklistFile.h"
#include "core/SafeFile.h"
#include "mailbox/MessageList.h"

// A scan may meet thousands of entries and thousands of senders; testing every token against
// every sender is tens of millions of substring searches. Instead, one Aho-Corasick automaton
// over the distinct tokens finds, for each unmarked sender, every token it contains in one
// walk over the sender; the tokens are then applied in file order, which keeps the rule that
// the first entry catching a row records it.

namespace {

bool isSeparator(char b)
{
    return b == '\t' || b == '\r' || b == '\n';
}

// Aho-Corasick over UTF-16 code units, so that containment is exactly QString::contains.
class Automaton
{
public:
    explicit Automaton(qsizetype totalLength)
    {
        const auto capacity = std::bit_ceil(std::uint64_t(2 * totalLength + 16));
        m_bits = std::countr_zero(capacity);
        m_keys.assign(capacity, 0);
        m_values.assign(capacity, 0);
        newNode();
    }

    void add(const QString &pattern, int id)
    {
        int node = 0;
        for (const QChar c : pattern) {
            int next = child(node, c.unicode());
            if (next < 0) {
                next = newNode();
                setChild(node, c.unicode(), next);
            }
            node = next;
        }
        m_output[node] = id;
    }

    // Failure and dictionary links, breadth first.
    void build()
    {
        std::vector<int> queue;
        queue.reserve(m_output.size());
        for (int v = m_firstChild[0]; v >= 0; v = m_nextSibling[v])
            queue.push_back(v); // their failure link is the root
        for (std::size_t head = 0; head < queue.size(); ++head) {
            const int u = queue[head];
            const int f = m_fail[u];
            m_dict[u] = m_output[f] >= 0 ? f : m_dict[f];
            for (int v = m_firstChild[u]; v >= 0; v = m_nextSibling[v]) {
                m_fail[v] = step(f, m_label[v]);
                queue.push_back(v);
            }
        }
    }

    // Calls found(id) for every occurrence of a pattern in text (repeats included).
    template <typename F>
    void scan(const QString &text, F &&found) const
    {
        int state = 0;
        for (const QChar c : text) {
            state = step(state, c.unicode());
            for (int u = m_output[state] >= 0 ? state : m_dict[state]; u > 0; u = m_dict[u])
                found(m_output[u]);
        }
    }

private:
    int step(int state, char16_t c) const
    {
        for (;;) {
            const int next = child(state, c);
            if (next >= 0)
                return next;
            if (state == 0)
                return 0;
            state = m_fail[state];
        }
    }

    int newNode()
    {
        m_fail.push_back(0);
        m_dict.push_back(0);
        m_output.push_back(-1);
        m_firstChild.push_back(-1);
        m_nextSibling.push_back(-1);
        m_label.push_back(0);
        return int(m_output.size()) - 1;
    }

    // Edges live in one open-addressing table keyed by (node, code unit); 0 marks a free slot.
    static std::uint64_t key(int node, char16_t c) { return ((std::uint64_t(node) << 16) | c) + 1; }
    std::size_t slot(std::uint64_t k) const { return (k * 0x9E3779B97F4A7C15ull) >> (64 - m_bits); }

    int child(int node, char16_t c) const
    {
        const std::uint64_t k = key(node, c);
        const std::size_t mask = m_keys.size() - 1;
        for (std::size_t i = slot(k);; i = (i + 1) & mask) {
            if (m_keys[i] == k)
                return m_values[i];
            if (m_keys[i] == 0)
                return -1;
        }
    }

    void setChild(int node, char16_t c, int next)
    {
        const std::uint64_t k = key(node, c);
        const std::size_t mask = m_keys.size() - 1;
        std::size_t i = slot(k);
        while (m_keys[i] != 0)
            i = (i + 1) & mask;
        m_keys[i] = k;
        m_values[i] = next;
        m_label[next] = c;
        m_nextSibling[next] = m_firstChild[node];
        m_firstChild[node] = next;
    }

    int m_bits = 0;
    std::vector<std::uint64_t> m_keys;
    std::vector<int> m_values;
    std::vector<int> m_fail, m_dict, m_output, m_firstChild, m_nextSibling;
    std::vector<char16_t> m_label;
};

struct Token {
    qsizetype start;
    qsizetype separator; // offset of the TAB, CR or LF that ends it
    int pattern;         // distinct non-empty text, -1 for the empty token
};

// The TAB at offset tab is followed by 10 bytes of one field and CR LF.
bool endsWellFormedEntry(const QByteArray &bytes, qsizetype tab)
{
    if (bytes.at(tab) != '\t' || tab + 12 >= bytes.size())
        return false;
    for (qsizetype i = tab + 1; i <= tab + 10; ++i)
        if (isSeparator(bytes.at(i)))
            return false;
    return bytes.at(tab + 11) == '\r' && bytes.at(tab + 12) == '\n';
}

// A date fit to stand in the 10-byte field, or empty.
QByteArray dateField(const QString &lastHeaderDate)
{
    const QByteArray date = ansi::fromUnicode(lastHeaderDate);
    if (date.size() != 10)
        return {};
    for (const char b : date)
        if (isSeparator(b) || b == '\0')
            return {};
    return date;
}

// The tokens of a list file in file order, each distinct non-empty text once.
struct Entries
{
    std::vector<Token> tokens;
    std::vector<QString> patterns;
    qsizetype patternLength = 0;
};

// Tokens ended by a separator; a last token without one is never tested.
Entries entriesOf(const QByteArray &bytes)
{
    Entries e;
    QHash<QByteArray, int> patternIds;
    qsizetype start = blacklist::byteOrderMarkLength(bytes);
    for (qsizetype i = start; i < bytes.size(); ++i) {
        if (!isSeparator(bytes.at(i)))
            continue;
        int id = -1;
        if (i > start) {
            const QByteArray raw = bytes.mid(start, i - start);
            auto it = patternIds.constFind(raw);
            if (it == patternIds.constEnd()) {
                it = patternIds.insert(raw, int(e.patterns.size()));
                e.patterns.push_back(ansi::toUnicode(raw));
                e.patternLength += raw.size();
            }
            id = it.value();
        }
        e.tokens.push_back({start, i, id});
        start = i + 1;
    }
    return e;
}

// For each pattern, the rows open to it whose sender contains it.
std::vector<std::vector<int>> rowsOfPatterns(const Entries &e, const MessageList &list, const std::vector<char> &open)
{
    Automaton automaton(e.patternLength);
    for (std::size_t id = 0; id < e.patterns.size(); ++id)
        automaton.add(e.patterns[id], int(id));
    automaton.build();

    const int rows = list.rows();
    std::vector<std::vector<int>> rowsOf(e.patterns.size());
    // Most senders come back row after row: each distinct one is walked once, the patterns it
    // holds kept as a run of found.
    std::vector<int> seenInSender(e.patterns.size(), -1);
    std::vector<int> found;
    QHash<QString, std::pair<qsizetype, qsizetype>> foundOf; // sender -> [begin, end) in found
    QString from;
    for (int r = 1; r < rows; ++r) {
        if (!open[r])
            continue;
        list.readCell(r, MessageList::From, from);
        auto it = foundOf.constFind(from);
        if (it == foundOf.constEnd()) {
            const qsizetype begin = qsizetype(found.size());
            const int sender = int(foundOf.size());
            automaton.scan(from, [&](int id) {
                if (seenInSender[id] != sender) {
                    seenInSender[id] = sender;
                    found.push_back(id);
                }
            });
            it = foundOf.insert(from, {begin, qsizetype(found.size())});
        }
        for (qsizetype i = it->first; i < it->second; ++i)
            rowsOf[found[i]].push_back(r);
    }
    return rowsOf;
}

// The blacklist pass over the rows not closed.
bool blacklistMarks(const QString &path, MessageList &list, const QString &lastHeaderDate, BlacklistDates dates,
                    const std::vector<char> &closed)
{
    QFile file(path);
    const bool write = dates == BlacklistDates::Write;
    // A read-only blacklist is left alone, even by a user (root) whom the system lets write it.
    if (write && !(QFile::permissions(path) & QFileDevice::WriteOwner))
        return true;
    const std::optional<QByteArray> read = files::openAndReadWhole(
        file, write ? QIODevice::ReadWrite | QIODevice::Unbuffered : QIODevice::ReadOnly, blacklist::kMaxFileSize);
    if (!read)
        return !files::entryExists(path);
    const QByteArray &bytes = *read;
    const Entries entries = entriesOf(bytes);
    const std::vector<Token> &tokens = entries.tokens;
    if (entries.patterns.empty())
        return true;

    const int rows = list.rows();
    std::vector<char> open(rows, 0);
    for (int r = 1; r < rows; ++r)
        open[r] = !closed[r] && list.markIsEmpty(r);
    std::vector<std::vector<int>> rowsOf = rowsOfPatterns(entries, list, open);

    // Tokens in file order; the date field behind a catching entry is skipped, not tested.
    const QByteArray date = write ? dateField(lastHeaderDate) : QByteArray();
    struct DateWrite {
        qsizetype offset;
        std::size_t token;
    };
    std::vector<DateWrite> writes;
    std::vector<std::size_t> markedBy(rows, SIZE_MAX);
    for (std::size_t k = 0; k < tokens.size(); ++k) {
        const Token &t = tokens[k];
        if (t.pattern < 0)
            continue;
        bool caught = false;
        for (const int r : rowsOf[t.pattern]) {
            if (open[r]) {
                open[r] = 0;
                markedBy[r] = k;
                caught = true;
            }
        }
        rowsOf[t.pattern] = {}; // its rows are all marked now
        if (caught && endsWellFormedEntry(bytes, t.separator)) {
            // The 10 bytes hold no separator, so they are exactly the next token.
            ++k;
            if (!date.isEmpty())
                writes.push_back({t.separator + 1, k - 1});
        }
    }

    // Dates go in place, in file order; a failed write ends the pass at its entry.
    std::size_t lastToken = SIZE_MAX;
    for (const DateWrite &w : writes) {
        if (!file.seek(w.offset) || file.write(date) != date.size()) {
            lastToken = w.token;
            break;
        }
    }
    file.close();

    const MessageList::Batch batch(list);
    for (int r = 1; r < rows; ++r)
        if (markedBy[r] != SIZE_MAX && markedBy[r] <= lastToken)
            list.setTick(r, MessageList::TickedBy::Blacklist);
    return true;
}

// The rows whose sender an entry of the friends list matches; nullopt when something stands
// at path that cannot be read. The date field of a well-formed entry is no pattern.
std::optional<std::vector<char>> friendRows(const QString &path, const MessageList &list)
{
    std::vector<char> friendly(std::size_t(list.rows()), 0);
    if (path.isEmpty())
        return friendly;
    const std::optional<QByteArray> read = files::readWhole(path, blacklist::kMaxFileSize);
    if (!read)
        return files::entryExists(path) ? std::nullopt : std::optional(friendly);
    Entries entries = entriesOf(*read);
    for (std::size_t k = 0; k + 1 < entries.tokens.size(); ++k)
        if (endsWellFormedEntry(*read, entries.tokens[k].separator))
            entries.tokens[++k].pattern = -1;
    std::vector<char> wanted(entries.patterns.size(), 0);
    for (const Token &t : entries.tokens)
        if (t.pattern >= 0)
            wanted[std::size_t(t.pattern)] = 1;
    std::vector<char> open(std::size_t(list.rows()), 1);
    const std::vector<std::vector<int>> rowsOf = rowsOfPatterns(entries, list, open);
    for (std::size_t id = 0; id < rowsOf.size(); ++id)
        if (wanted[id])
            for (const int r : rowsOf[id])
                friendly[std::size_t(r)] = 1;
    return friendly;
}

// Friends, then the blacklist, then the score, over the rows not closed.
MarkingOutcome markRows(MessageList &list, const SenderLists &lists, const QString &lastHeaderDate,
                        BlacklistDates dates, bool suggestions, std::vector<char> closed)
{
    MarkingOutcome outcome;
    const std::optional<std::vector<char>> friendly = friendRows(lists.friends, list);
    // Any tick could then be a friend's.
    if (!friendly) {
        outcome.friendsRead = false;
        return outcome;
    }
    const int rows = list.rows();
    for (int r = 1; r < rows; ++r)
        closed[r] = closed[r] || (*friendly)[r];
    const MessageList::Batch batch(list);
    if (!lists.blacklist.isEmpty())
        outcome.blacklistRead = blacklistMarks(lists.blacklist, list, lastHeaderDate, dates, closed);
    if (suggestions)
        for (int r = 1; r < rows; ++r)
            if (!closed[r] && list.markIsEmpty(r) && list.scoreSuggests(r))
                list.setTick(r, MessageList::TickedBy::Score);
    return outcome;
}

// The user's own rows, closed to the marking, but for those whose sender contains stated.
std::vector<char> usersRows(const MessageList &list, const QString &stated)
{
    std::vector<char> closed(std::size_t(list.rows()), 0);
    for (int r = 1; r < list.rows(); ++r)
        closed[r] = list.tickedBy(r) == MessageList::TickedBy::User
                    && (stated.isEmpty() || !list.cell(r, MessageList::From).contains(stated));
    return closed;
}

} // namespace

bool blacklistPass(const QString &path, MessageList &list, const QString &lastHeaderDate, BlacklistDates dates)
{
    return blacklistMarks(path, list, lastHeaderDate, dates, std::vector<char>(std::size_t(list.rows()), 0));
}

MarkingOutcome markingPasses(MessageList &list, const SenderLists &lists, const QString &lastHeaderDate,
                             BlacklistDates dates, bool suggestions)
{
    // As the blacklist pass always did: a scan ticks what it catches among the unticked rows,
    // whoever unticked them.
    return markRows(list, lists, lastHeaderDate, dates, suggestions, std::vector<char>(std::size_t(list.rows()), 0));
}

MarkingOutcome remark(MessageList &list, const SenderLists &lists, bool suggestions, const QString &stated)
{
    const MessageList::Batch batch(list);
    const std::vector<char> closed = usersRows(list, stated);
    for (int r = 1; r < list.rows(); ++r)
        if (!closed[r])
            list.setTick(r, MessageList::TickedBy::Nobody);
    return markRows(list, lists, QString(), BlacklistDates::Leave, suggestions, closed);
}

bool addSenderToList(MessageList &list, int row, blacklist::SenderList which, const SenderLists &lists,
                     bool suggestions, QString *why)
{
    const QString sender = list.cell(row, MessageList::From);
    const QString &path = which == blacklist::SenderList::Friends ? lists.friends : lists.blacklist;
    if (!blacklist::addPattern(path, sender, which, why))
        return false;
    remark(list, lists, suggestions, sender);
    return true;
}
