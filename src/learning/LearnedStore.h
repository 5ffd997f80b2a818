// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "learning/SpamScore.h"

class QObject;

// What the score has learned, in an SQLite database of the data folder (Apprentissage.sqlite,
// mode 0600): for each token, how many learned spams and legitimate messages held it; for
// each learned message (by the hash of its id), which way it was learned.
//
// The window and pelicorde-check may use it at once: the database is in write-ahead-log mode
// (readers never wait), each write is one short transaction that takes the write lock first
// and waits for another writer for a few seconds at most. A database that cannot be opened
// or is damaged is moved aside and learning starts again; something other than a file in its
// place (a link, a FIFO, a folder) or a file far too large is left as it is and nothing is
// learned. Either way a one-line problem tells it for the status line; nothing throws.
namespace learning {

// One message to learn: its id (the same id each time the same message is learned, such as
// the account and the server's unique id, or headerId()), its header block, and which way.
// A list that keeps the tokens of its rows rather than their headers gives those instead.
struct Lesson
{
    Lesson() = default;
    Lesson(QByteArray id, QByteArray header, Verdict verdict, std::vector<Token> tokens = {})
        : id(std::move(id)), header(std::move(header)), verdict(verdict), tokens(std::move(tokens))
    {
    }
    QByteArray id;
    QByteArray header;
    Verdict verdict = Verdict::Ham;
    std::vector<Token> tokens; // when not empty, learned instead of the header's tokens
};

struct LearnOutcome
{
    bool ok = true;
    int added = 0;     // messages learned for the first time
    int moved = 0;     // learned the other way before: their counts moved
    int unchanged = 0; // already learned this way
    QString problem;   // one line in French when !ok, or when the database was reset
};

struct LearnedTotals
{
    int spam = 0;
    int ham = 0;
    qint64 tokens = 0;
    qint64 messages = 0; // messages remembered by id
};

// The bounds that keep the database small: past them, the rarest and oldest tokens and the
// oldest message ids are forgotten.
struct StoreLimits
{
    qint64 maxTokens = 200000;
    qint64 maxMessages = 200000;
};

class LearnedStore
{
public:
    // The database at path; nothing is opened until it is used. One object is used in one
    // thread (its connection belongs to it); other threads and processes open their own.
    explicit LearnedStore(QString path, StoreLimits limits = {});
    ~LearnedStore();
    LearnedStore(const LearnedStore &) = delete;
    LearnedStore &operator=(const LearnedStore &) = delete;

    // The database's path in the data folder.
    static QString pathIn(const QString &dataFolder);

    // Learns each lesson once per id: a message learned the same way again changes nothing;
    // one learned the other way before has its counts moved, never counted twice. Written in
    // transactions of a few hundred messages each.
    LearnOutcome learn(const QList<Lesson> &lessons);

    // What was learned, for scoring a scan (one read of the whole table). Without a usable
    // database: an empty scorer (it suggests nothing), with *problem set.
    SpamScorer scorer(QString *problem = nullptr, const ScoreSettings &settings = {});

    std::optional<LearnedTotals> totals(QString *problem = nullptr);

    // A number that changes with every write, by this process or another: a scorer loaded
    // at the same generation is still current. nullopt when the database cannot be read.
    std::optional<qint64> generation();

private:
    struct Connection;
    bool ensureOpen(QString *problem);
    void close();
    bool moveAside(QString *problem);
    template <class F>
    bool withRetry(F &&op, QString *problem);

    QString m_path;
    StoreLimits m_limits;
    Connection *m_connection = nullptr;
    QString m_resetNote; // set when a damaged database was moved aside
};

// The same, off the calling thread: learns the lessons in a thread of the pool with a
// connection of its own, then calls done(outcome) in receiver's thread (not at all once
// receiver is gone). For the window, whose thread must never wait on the disk.
void learnInBackground(const QString &path, const QList<Lesson> &lessons, QObject *receiver,
                       std::function<void(const LearnOutcome &)> done);

// Loads a scorer off the calling thread, then calls done(scorer, problem) in receiver's thread.
void loadScorerInBackground(const QString &path, QObject *receiver,
                            std::function<void(const SpamScorer &, const QString &)> done);

} // namespace learning
