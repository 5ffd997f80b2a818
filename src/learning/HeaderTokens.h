// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>
#include <QtGlobal>
#include <string>
#include <vector>

// The evidence the learned score reads in a message's header block: short tokens such as
// "fd:example.org" (the sender's domain) or "s:gratuit" (a word of the subject), each kept as a
// 64-bit hash. The hashes are stored in the learned database, so the hash and the token kinds
// never change meaning; a new kind of token takes a new number.
//
// Only what tells senders apart is read. What the receiving side writes is left out, since it
// is the same for spam and legitimate mail of one mailbox and, in mail gathered from several
// mailboxes, tells the mailboxes apart instead: the recipients' addresses (To, Cc,
// Delivered-To, the "for" and "by" parts of Received), the hops between the receiving hosts
// (loopback and private addresses, mail fetched over POP3 or IMAP) and the fields a mail
// store adds (Status, X-Keywords...).
namespace learning {

using Token = quint64;

// The hash of bytes, the same on every machine and in every version.
Token hashBytes(QByteArrayView bytes);

// The distinct tokens of one header block, in the order first met, without allocation: the
// scorer fills one per message. A bitmap of the tokens' low bits tells almost every new token
// at once; only a token whose bit is taken is looked for in the list.
class TokenSet
{
public:
    static constexpr int kMaxTokens = 320; // a header that holds more gives its first ones

    TokenSet() { clear(); }
    void clear()
    {
        for (quint64 &w : m_seen)
            w = 0;
        m_count = 0;
    }
    // False when token is already in, or the set is full.
    bool insert(Token token)
    {
        const quint64 bit = quint64(1) << (token & 63);
        quint64 &word = m_seen[(token >> 6) & (kWords - 1)];
        if ((word & bit) && contains(token))
            return false;
        if (m_count >= kMaxTokens)
            return false;
        word |= bit;
        m_list[m_count++] = token;
        return true;
    }
    bool contains(Token token) const;
    int size() const { return m_count; }
    const Token *begin() const { return m_list; }
    const Token *end() const { return m_list + m_count; }

private:
    static constexpr int kWords = 16; // 1024 bits
    quint64 m_seen[kWords];
    Token m_list[kMaxTokens];
    int m_count = 0;
};

// Fills tokens (cleared first) with the tokens of header: a header block as the server gives
// it (TOP n 0, an IMAP header fetch) or as a file holds it, CRLF or LF, with or without the
// blank line and body after it (the body is not read).
void headerTokens(QByteArrayView header, TokenSet &tokens);
std::vector<Token> headerTokenList(QByteArrayView header);
// The same tokens as text, "kind:value", for tests and tuning.
QStringList headerTokenTexts(QByteArrayView header);

// An id for a message learned from its header alone (an imported file, or a row whose server
// gives no unique id): the hash of the header block without its line ends' CRs, the fields a
// mail store adds, and what follows it; the same for the copy a server sends and the copy in
// a mailbox file. "h" followed by 16 hexadecimal digits.
QByteArray headerId(QByteArrayView header);
// The same id as a number, kept by a list of many rows, and its text again.
quint64 headerIdValue(QByteArrayView header);
QByteArray headerIdText(quint64 value);
// The same text written into out, without allocating: the lookup a scan makes for every row.
QByteArrayView headerIdText(quint64 value, char (&out)[17]);
// What a scan reads of every row, in one pass over the bytes: headerTokens(), and the bytes
// whose hash is headerIdValue() (written into idBytes, a buffer reused from row to row; their
// count is returned). headerIdValues() then gives the ids of up to four headers at once, from
// their bytes, faster than one after the other.
qsizetype headerTokensAndIdBytes(QByteArrayView header, TokenSet &tokens, std::string &idBytes);
void headerIdValues(const QByteArrayView *idBytes, quint64 *ids, int count);

} // namespace learning
