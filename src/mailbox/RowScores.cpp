// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/RowScores.h"

#include <algorithm>
#include <bit>
#include <iterator>

using learning::Token;

namespace {

// Handed over in batches: a lock per header would cost the reading thread more than the hand-over.
constexpr std::size_t kBatch = 64;
// Headers handed over and not yet scored, in bytes: past it the reading thread waits for the
// scorer (a few milliseconds), so that a scorer slowed by a busy machine never has the scan
// hold the whole mailbox's headers.
constexpr qsizetype kMostHeld = 4 * 1024 * 1024;

unsigned char *putVarint(unsigned char *p, quint32 v)
{
    while (v >= 0x80) {
        *p++ = (unsigned char)(v | 0x80);
        v >>= 7;
    }
    *p++ = (unsigned char)v;
    return p;
}

const unsigned char *getVarint(const unsigned char *p, quint32 &v)
{
    v = 0;
    for (int shift = 0;; shift += 7) {
        const unsigned char b = *p++;
        v |= quint32(b & 0x7F) << shift;
        if (!(b & 0x80))
            return p;
    }
}

std::size_t slotOf(Token t, std::size_t mask) { return std::size_t((t * 0x9E3779B97F4A7C15ull) >> 32) & mask; }

} // namespace

std::vector<Token> RowScores::tokensOf(int r) const
{
    const Row *at = row(r);
    if (!at || at->tokens == 0)
        return {};
    const quint32 start = at->tokens - 1;
    const unsigned char *p = m_blocks[start >> kBlockBits].get() + (start & ((1u << kBlockBits) - 1));
    quint32 count = 0;
    p = getVarint(p, count);
    std::vector<Token> out;
    out.reserve(count);
    quint32 place = 0;
    for (quint32 i = 0; i < count; ++i) {
        quint32 step = 0;
        p = getVarint(p, step);
        place += step;
        out.push_back(m_dictionary[place]);
    }
    return out;
}

void RowScores::forget(int r)
{
    if (r >= 0 && std::size_t(r) < m_rows.size())
        m_rows[r] = Row{};
}

qsizetype RowScores::tokenBytes() const
{
    return qsizetype(m_dictionary.capacity() * sizeof(Token) + (m_blocks.size() << kBlockBits));
}

RowScoring::RowScoring(const learning::SpamScorer &scorer, int rows)
    : m_scorer(scorer), m_scores(std::make_unique<RowScores>())
{
    m_scores->spamLearned = scorer.spamLearned();
    m_scores->hamLearned = scorer.hamLearned();
    m_scores->m_rows.resize(std::size_t(std::max(rows, 0)));
    m_pending.reserve(kBatch);
    m_thread = std::thread([this] { run(); });
}

RowScoring::~RowScoring()
{
    if (m_thread.joinable())
        finish();
}

void RowScoring::add(int row, const QByteArray &header)
{
    m_pending.emplace_back(row, header);
    if (m_pending.size() >= kBatch)
        handOver();
}

void RowScoring::handOver()
{
    if (m_pending.empty())
        return;
    qsizetype bytes = 0;
    for (const auto &p : m_pending)
        bytes += p.second.size();
    {
        std::unique_lock lock(m_mutex);
        m_room.wait(lock, [this] { return m_heldBytes <= kMostHeld; });
        m_heldBytes += bytes;
        if (m_queue.empty())
            m_queue.swap(m_pending);
        else
            std::move(m_pending.begin(), m_pending.end(), std::back_inserter(m_queue));
    }
    m_pending.clear();
    m_wake.notify_one();
}

std::unique_ptr<RowScores> RowScoring::finish()
{
    if (!m_thread.joinable())
        return std::move(m_scores);
    handOver();
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_wake.notify_one();
    m_thread.join();
    // The dictionary's index served the scan only.
    m_index = {};
    m_scores->m_dictionary.shrink_to_fit();
    return std::move(m_scores);
}

void RowScoring::run()
{
    std::array<learning::TokenSet, kGroup> tokens;
    std::array<std::string, kGroup> idBytes;
    std::vector<std::pair<int, QByteArray>> batch;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_done || !m_queue.empty(); });
            if (m_queue.empty())
                return; // done, and nothing left
            batch.swap(m_queue);
        }
        qsizetype bytes = 0;
        for (std::size_t at = 0; at < batch.size(); at += kGroup)
            score(batch.data() + at, int(std::min<std::size_t>(kGroup, batch.size() - at)), tokens, idBytes);
        for (const auto &p : batch)
            bytes += p.second.size();
        batch.clear(); // the headers go here, off the reading thread
        {
            const std::lock_guard lock(m_mutex);
            m_heldBytes -= bytes;
        }
        m_room.notify_one();
    }
}

void RowScoring::score(const std::pair<int, QByteArray> *rows, int count, std::array<learning::TokenSet, kGroup> &tokens,
                       std::array<std::string, kGroup> &idBytes)
{
    RowScores::Row *scored[kGroup];
    QByteArrayView ids[kGroup];
    int n = 0;
    for (int k = 0; k < count; ++k) {
        const int row = rows[k].first;
        if (row < 0 || std::size_t(row) >= m_scores->m_rows.size())
            continue;
        scored[n] = &m_scores->m_rows[std::size_t(row)];
        // The buffer may grow while the header is read: its address is taken after.
        const qsizetype length = learning::headerTokensAndIdBytes(rows[k].second, tokens[std::size_t(n)], idBytes[std::size_t(n)]);
        ids[n] = QByteArrayView(idBytes[std::size_t(n)].data(), length);
        ++n;
    }
    if (n == 0)
        return;
    quint64 idValues[kGroup];
    learning::headerIdValues(ids, idValues, n);
    for (int k = 0; k < n; ++k) {
        RowScores::Row &r = *scored[k];
        const learning::TokenSet &t = tokens[std::size_t(k)];
        const learning::SpamScore s = m_scorer.score(t);
        r.value = float(s.value);
        r.spamSide = float(s.spamSide);
        r.hamSide = float(s.hamSide);
        r.id = idValues[k];
        char text[17];
        const std::optional<learning::Verdict> learned = m_scorer.learnedAs(learning::headerIdText(r.id, text));
        r.learned = learned ? qint8(*learned) : qint8(-1);
        r.tokens = keep(t);
        r.scored = true;
    }
}

quint32 RowScoring::keep(const learning::TokenSet &tokens)
{
    if (m_full)
        return 0;
    RowScores &s = *m_scores;
    if (m_index.empty())
        m_index.assign(1 << 12, 0);
    // The row's places in order: those of tokens met before under kSmallPlaces by a bitmap (the
    // tokens most rows share have small places, and a sort of sixty numbers cost more than the
    // rest of keep()), the others met before by a sort, then those of the tokens the row brings
    // new, which are in order already and come after every other.
    quint32 places[learning::TokenSet::kMaxTokens];
    quint32 large[learning::TokenSet::kMaxTokens];
    quint32 added[learning::TokenSet::kMaxTokens];
    int largeCount = 0, newCount = 0;
    // Which words of the bitmap the row set, kept in registers: a word in memory that every
    // token updates would make each token wait on the one before.
    quint64 summary[kSmallPlaces / 4096] = {};
    static_assert(std::size(summary) == 2);
    for (const Token t : tokens) {
        // Half full at most.
        if ((s.m_dictionary.size() + 1) * 2 > m_index.size()) {
            std::vector<quint32> bigger(m_index.size() * 2, 0);
            const std::size_t mask = bigger.size() - 1;
            for (const quint32 at : m_index)
                if (at) {
                    std::size_t i = slotOf(s.m_dictionary[at - 1], mask);
                    while (bigger[i])
                        i = (i + 1) & mask;
                    bigger[i] = at;
                }
            m_index.swap(bigger);
        }
        const std::size_t mask = m_index.size() - 1;
        std::size_t i = slotOf(t, mask);
        while (m_index[i] && s.m_dictionary[m_index[i] - 1] != t)
            i = (i + 1) & mask;
        if (!m_index[i]) {
            s.m_dictionary.push_back(t);
            m_index[i] = quint32(s.m_dictionary.size());
            added[newCount++] = m_index[i] - 1;
        } else if (const quint32 place = m_index[i] - 1; place < kSmallPlaces) {
            m_smallWords[place / 64] |= quint64(1) << (place % 64);
            const quint64 word = quint64(1) << (place / 64 % 64);
            summary[0] |= place < 4096 ? word : 0;
            summary[1] |= place < 4096 ? 0 : word;
        } else {
            large[largeCount++] = place;
        }
    }
    int n = 0;
    for (std::size_t half = 0; half < std::size(summary); ++half)
        for (quint64 words = summary[half]; words; words &= words - 1) {
            const std::size_t w = half * 64 + std::size_t(std::countr_zero(words));
            for (quint64 bits = std::exchange(m_smallWords[w], 0); bits; bits &= bits - 1)
                places[n++] = quint32(w * 64 + std::size_t(std::countr_zero(bits)));
        }
    std::sort(large, large + largeCount);
    n = int(std::copy(large, large + largeCount, places + n) - places);
    n = int(std::copy(added, added + newCount, places + n) - places);
    // The most a row takes: its count and places, five bytes each at most.
    const quint32 most = quint32(n + 1) * 5;
    constexpr quint32 blockSize = 1u << RowScores::kBlockBits;
    quint32 start = s.m_used;
    const bool newBlock = s.m_blocks.empty() || (start & (blockSize - 1)) + most > blockSize;
    if (newBlock)
        start = quint32(s.m_blocks.size()) << RowScores::kBlockBits;
    const qsizetype total = qsizetype(s.m_blocks.size() + (newBlock ? 1 : 0)) * blockSize
                            + qsizetype(s.m_dictionary.size() * sizeof(Token) + m_index.size() * sizeof(quint32));
    if (total > RowScores::kMaxTokenBytes || start > 0xFFFFFFFFu - 2 * blockSize) {
        m_full = true;
        return 0;
    }
    if (newBlock)
        s.m_blocks.push_back(std::make_unique_for_overwrite<unsigned char[]>(blockSize));
    unsigned char *const begin = s.m_blocks.back().get() + (start & (blockSize - 1));
    unsigned char *p = putVarint(begin, quint32(n));
    quint32 previous = 0;
    for (int k = 0; k < n; ++k) {
        p = putVarint(p, places[k] - previous);
        previous = places[k];
    }
    s.m_used = start + quint32(p - begin);
    return quint32(start + 1);
}
