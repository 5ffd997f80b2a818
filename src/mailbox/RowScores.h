// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QtGlobal>
#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "learning/HeaderTokens.h"
#include "learning/SpamScore.h"

// What a scan keeps of each row for the learned score, beside the row's cells: its score, the
// id it is learned under (learning::headerIdValue), which way the store had learned it, and its
// tokens, for the lessons of a later deletion, without keeping any header.
//
// A header holds some sixty tokens of 8 bytes: 100,000 rows would keep 48 MB of them. Most
// tokens come back row after row, so each distinct token is kept once, in a dictionary in the
// order first met, and a row keeps its tokens' places there, sorted, as the varint differences
// between them: a token common to many rows has a small place, and the tokens a row brings
// first have places next to each other. About a byte a token.
class RowScores
{
public:
    struct Row
    {
        learning::SpamScore score() const { return {value, spamSide, hamSide}; }
        float value = 0.5f;
        float spamSide = 1.0f;
        float hamSide = 1.0f;
        quint32 tokens = 0; // 1 + where the row's tokens start in the blocks; 0 when none were kept
        quint64 id = 0;
        qint8 learned = -1; // a learning::Verdict, or -1 when the store did not hold the message
        bool scored = false;
    };

    // The tokens of all rows together stop being kept past this many bytes (dictionary, its
    // index while a scan runs, and the rows' places): a mailbox of unusual headers then gives
    // no lessons for its last rows rather than take the memory.
    static constexpr qsizetype kMaxTokenBytes = 16 * 1024 * 1024;

    int spamLearned = 0;
    int hamLearned = 0;

    const Row *row(int r) const { return r >= 0 && std::size_t(r) < m_rows.size() && m_rows[r].scored ? &m_rows[r] : nullptr; }
    std::vector<learning::Token> tokensOf(int r) const;
    void forget(int r);
    // What the kept tokens take, in bytes.
    qsizetype tokenBytes() const;

private:
    friend class RowScoring;
    std::vector<Row> m_rows; // by row number
    // The rows' places, in blocks that are never moved: a vector doubling as it grows would
    // hold its old and new copies at once.
    static constexpr int kBlockBits = 18;
    std::vector<learning::Token> m_dictionary;
    std::vector<std::unique_ptr<unsigned char[]>> m_blocks;
    quint32 m_used = 0; // bytes taken, the unused ends of full blocks included
};

// Scores the header blocks of a scan in a thread of its own, beside the thread that reads them
// from the server: add() only hands the block over. finish() waits for the blocks handed over,
// and gives what the rows keep.
class RowScoring
{
public:
    RowScoring(const learning::SpamScorer &scorer, int rows);
    ~RowScoring();
    RowScoring(const RowScoring &) = delete;
    RowScoring &operator=(const RowScoring &) = delete;

    void add(int row, const QByteArray &header);
    std::unique_ptr<RowScores> finish();

private:
    void handOver();
    void run();
    // The rows are scored a few at a time, their ids hashed together (learning::headerIdValues).
    static constexpr int kGroup = 4;
    void score(const std::pair<int, QByteArray> *rows, int count, std::array<learning::TokenSet, kGroup> &tokens,
               std::array<std::string, kGroup> &idBytes);
    quint32 keep(const learning::TokenSet &tokens);

    const learning::SpamScorer &m_scorer;
    std::unique_ptr<RowScores> m_scores;
    std::vector<quint32> m_index; // open addressing: 1 + the token's place in the dictionary
    // keep()'s bitmap of the row's small places, empty between rows.
    static constexpr quint32 kSmallPlaces = 8192;
    quint64 m_smallWords[kSmallPlaces / 64] = {};
    bool m_full = false;
    std::vector<std::pair<int, QByteArray>> m_pending; // the reading thread's, not yet handed over

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_room; // for the reading thread, when the scorer holds too much
    qsizetype m_heldBytes = 0;      // of the headers handed over and not yet scored
    std::vector<std::pair<int, QByteArray>> m_queue;
    bool m_done = false;
    std::thread m_thread;
};
