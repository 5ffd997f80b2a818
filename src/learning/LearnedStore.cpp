// SPDX-License-Identifier: GPL-3.0-or-later
#include "learning/LearnedStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QPromise>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThreadPool>
#include <QVariant>
#include <atomic>
#include <utility>
#include <memory>

#include "core/DataFiles.h"
#include "core/Folders.h"
#include "core/SafeFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace learning {
namespace {

// The bounded database stays within a few tens of megabytes: a file much larger is not ours.
constexpr qint64 kMaxDatabaseBytes = 256LL * 1024 * 1024;
constexpr int kSchemaVersion = 1;
// How long a write waits for another program's write to end.
constexpr int kBusyTimeoutMs = 5000;
// Messages per transaction: short enough for the other program's wait, long enough to be quick.
constexpr qsizetype kLessonsPerTransaction = 200;

enum class Failure { Busy, Damaged, Other };

// SQLite's primary result codes, from the driver's native (possibly extended) code.
Failure failureOf(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    if (!ok)
        return Failure::Other;
    switch (code) {
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        return Failure::Busy;
    case 11: // SQLITE_CORRUPT
    case 14: // SQLITE_CANTOPEN (a file of ours that cannot be opened)
    case 26: // SQLITE_NOTADB
        return Failure::Damaged;
    }
    return Failure::Other;
}

QString fileNameOf(const QString &path) { return QFileInfo(path).fileName(); }

QStringList companions(const QString &path)
{
    QStringList paths;
    for (const char *suffix : datafiles::kLearningCompanions)
        paths << path + QLatin1String(suffix);
    return paths;
}

// What stands at path and beside it must be files of a sane size; a missing database is
// created empty (which SQLite takes as a new database) with mode 0600, and the files SQLite
// adds beside it take that mode from it.
bool prepareFile(const QString &path, QString *problem)
{
    for (const QString &p : QStringList{path} + companions(path)) {
        if (files::holdsOtherThanFile(p)) {
            *problem = QStringLiteral("Apprentissage arrêté : %1 n'est pas un fichier ordinaire (lien, tube, "
                                      "périphérique ou dossier) ; il est laissé tel quel")
                           .arg(p);
            return false;
        }
        if (QFileInfo(p).size() > kMaxDatabaseBytes) {
            *problem = QStringLiteral("Apprentissage arrêté : %1 est bien trop grand pour être la base "
                                      "d'apprentissage ; il est laissé tel quel")
                           .arg(p);
            return false;
        }
    }
    const QByteArray name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    if (errno != EEXIST) {
        *problem = QStringLiteral("Apprentissage arrêté : impossible de créer %1 (%2)")
                       .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077))
        (void)::fchmod(fd, 0600); // an older copy restored with other rights
    if (fd >= 0)
        ::close(fd);
    // One that SQLite cannot open is found damaged there, and moved aside.
    return true;
}

qint64 today() { return QDateTime::currentSecsSinceEpoch() / 86400; }

qint64 sqlInteger(Token t) { return static_cast<qint64>(t); }

// Runs one statement; false with error set when it fails.
bool run(QSqlQuery &q, QSqlError &error)
{
    if (q.exec())
        return true;
    error = q.lastError();
    return false;
}

bool run(QSqlDatabase &db, const QString &sql, QSqlError &error)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    error = q.lastError();
    return false;
}

bool runAll(QSqlDatabase &db, std::initializer_list<const char *> statements, QSqlError &error)
{
    for (const char *s : statements)
        if (!run(db, QLatin1String(s), error))
            return false;
    return true;
}

std::optional<qint64> single(QSqlDatabase &db, const QString &sql, QSqlError &error)
{
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        error = q.lastError();
        return std::nullopt;
    }
    return q.next() ? q.value(0).toLongLong() : 0;
}

// Ends a transaction: COMMIT when ok, else ROLLBACK (whose own failure adds nothing).
bool finish(QSqlDatabase &db, bool ok, QSqlError &error)
{
    if (ok)
        return run(db, QStringLiteral("COMMIT"), error);
    QSqlError ignored;
    run(db, QStringLiteral("ROLLBACK"), ignored);
    return false;
}

bool createSchema(QSqlDatabase &db, QSqlError &error)
{
    if (!run(db, QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    const bool ok = runAll(db,
                           {"CREATE TABLE IF NOT EXISTS tokens (hash INTEGER PRIMARY KEY, spam INTEGER NOT NULL, "
                            "ham INTEGER NOT NULL, touched INTEGER NOT NULL)",
                            "CREATE TABLE IF NOT EXISTS messages (id INTEGER PRIMARY KEY, spam INTEGER NOT NULL, "
                            "learned INTEGER NOT NULL)",
                            "CREATE INDEX IF NOT EXISTS messages_by_age ON messages (learned)",
                            "CREATE TABLE IF NOT EXISTS totals (spam INTEGER PRIMARY KEY, messages INTEGER NOT NULL)",
                            "INSERT OR IGNORE INTO totals VALUES (0, 0), (1, 0)",
                            "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value INTEGER NOT NULL)",
                            "INSERT OR IGNORE INTO meta VALUES ('generation', 0)", "PRAGMA user_version = 1"},
                           error);
    return finish(db, ok, error);
}

// Past the limits, the rarest tokens go first, the oldest first among equals (a token seen
// once long ago says little), and the oldest message ids; a tenth more than needed, so that
// pruning is rare.
bool prune(QSqlDatabase &db, const StoreLimits &limits, QSqlError &error)
{
    const std::optional<qint64> tokens = single(db, QStringLiteral("SELECT count(*) FROM tokens"), error);
    if (!tokens)
        return false;
    if (*tokens > limits.maxTokens) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("DELETE FROM tokens WHERE hash IN (SELECT hash FROM tokens "
                                 "ORDER BY min(spam + ham, 3), touched LIMIT ?)"));
        q.addBindValue(*tokens - limits.maxTokens * 9 / 10);
        if (!run(q, error))
            return false;
    }
    const std::optional<qint64> messages = single(db, QStringLiteral("SELECT count(*) FROM messages"), error);
    if (!messages)
        return false;
    if (*messages > limits.maxMessages) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("DELETE FROM messages WHERE id IN (SELECT id FROM messages ORDER BY learned LIMIT ?)"));
        q.addBindValue(*messages - limits.maxMessages * 9 / 10);
        if (!run(q, error))
            return false;
    }
    return true;
}

// One transaction's worth of lessons.
bool learnChunk(QSqlDatabase &db, const QList<Lesson> &lessons, const StoreLimits &limits, LearnOutcome &out,
                QSqlError &error)
{
    if (!run(db, QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    QSqlQuery find(db), add(db), move(db), remember(db);
    find.prepare(QStringLiteral("SELECT spam FROM messages WHERE id = ?"));
    add.prepare(QStringLiteral("INSERT INTO tokens (hash, spam, ham, touched) VALUES (?, ?, ?, ?) ON CONFLICT (hash) "
                               "DO UPDATE SET spam = spam + excluded.spam, ham = ham + excluded.ham, "
                               "touched = excluded.touched"));
    move.prepare(QStringLiteral("UPDATE tokens SET spam = max(spam + ?, 0), ham = max(ham + ?, 0), touched = ? "
                                "WHERE hash = ?"));
    remember.prepare(QStringLiteral("INSERT OR REPLACE INTO messages (id, spam, learned) VALUES (?, ?, ?)"));
    const qint64 day = today();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    qint64 spamDelta = 0, hamDelta = 0;
    const auto addToken = [&](Token t, bool spam) {
        add.bindValue(0, sqlInteger(t));
        add.bindValue(1, spam ? 1 : 0);
        add.bindValue(2, spam ? 0 : 1);
        add.bindValue(3, day);
        return run(add, error);
    };
    bool ok = true;
    for (const Lesson &lesson : lessons) {
        const bool spam = lesson.verdict == Verdict::Spam;
        const qint64 id = sqlInteger(hashBytes(lesson.id));
        find.bindValue(0, id);
        if (!(ok = run(find, error)))
            break;
        const bool known = find.next();
        const bool wasSpam = known && find.value(0).toInt() != 0;
        find.finish();
        if (known && wasSpam == spam) {
            ++out.unchanged;
            continue;
        }
        const std::vector<Token> tokens = lesson.tokens.empty() ? headerTokenList(lesson.header) : lesson.tokens;
        for (const Token t : tokens) {
            if (!known) {
                ok = addToken(t, spam);
            } else {
                // Moved from one side to the other; a token pruned meanwhile comes back on its new side.
                move.bindValue(0, spam ? 1 : -1);
                move.bindValue(1, spam ? -1 : 1);
                move.bindValue(2, day);
                move.bindValue(3, sqlInteger(t));
                ok = run(move, error) && (move.numRowsAffected() > 0 || addToken(t, spam));
            }
            if (!ok)
                break;
        }
        if (!ok)
            break;
        remember.bindValue(0, id);
        remember.bindValue(1, spam ? 1 : 0);
        remember.bindValue(2, now);
        if (!(ok = run(remember, error)))
            break;
        (spam ? spamDelta : hamDelta) += 1;
        if (known) {
            (spam ? hamDelta : spamDelta) -= 1;
            ++out.moved;
        } else {
            ++out.added;
        }
    }
    if (ok && (spamDelta || hamDelta)) {
        QSqlQuery totals(db);
        totals.prepare(QStringLiteral("UPDATE totals SET messages = max(messages + ?, 0) WHERE spam = ?"));
        for (const auto &[delta, side] : {std::pair{spamDelta, 1}, std::pair{hamDelta, 0}}) {
            totals.bindValue(0, delta);
            totals.bindValue(1, side);
            if (!(ok = run(totals, error)))
                break;
        }
        ok = ok && run(db, QStringLiteral("UPDATE meta SET value = value + 1 WHERE key = 'generation'"), error)
             && (out.added == 0 || prune(db, limits, error));
    }
    return finish(db, ok, error);
}

} // namespace

struct LearnedStore::Connection
{
    QString name;
    QSqlDatabase db;
};

LearnedStore::LearnedStore(QString path, StoreLimits limits) : m_path(std::move(path)), m_limits(limits) {}

LearnedStore::~LearnedStore() { close(); }

QString LearnedStore::pathIn(const QString &dataFolder)
{
    return folders::join(dataFolder, QLatin1String(datafiles::kLearning));
}

void LearnedStore::close()
{
    if (!m_connection)
        return;
    const QString name = m_connection->name;
    m_connection->db.close();
    delete m_connection; // the last handle on the connection, before it is removed
    m_connection = nullptr;
    QSqlDatabase::removeDatabase(name);
}

bool LearnedStore::ensureOpen(QString *problem)
{
    if (m_connection)
        return true;
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        *problem = QStringLiteral("Apprentissage indisponible : le pilote SQLite de Qt (paquet libqt6sql6-sqlite) "
                                  "manque");
        return false;
    }
    if (!prepareFile(m_path, problem))
        return false;
    static std::atomic<quint64> counter{0};
    m_connection = new Connection;
    m_connection->name = QStringLiteral("pelicorde-learning-%1").arg(++counter);
    m_connection->db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection->name);
    m_connection->db.setDatabaseName(m_path);
    m_connection->db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    return true;
}

// Opens the database (its schema made when new) and runs op(db, error) on it. A database
// found damaged, at the open or during op, is moved aside and op runs once more on a new one.
template <class F>
bool LearnedStore::withRetry(F &&op, QString *problem)
{
    QString ignored;
    QString &why = problem ? *problem : ignored;
    for (int round = 0; round < 2; ++round) {
        if (!ensureOpen(&why))
            return false;
        QSqlDatabase &db = m_connection->db;
        QSqlError error;
        bool ok = true;
        if (!db.isOpen()) {
            std::optional<qint64> version;
            // WAL: readers never wait for the writer, and a crash loses at most the last write.
            ok = db.open() && runAll(db, {"PRAGMA journal_mode = WAL", "PRAGMA synchronous = NORMAL"}, error)
                 && (version = single(db, QStringLiteral("PRAGMA user_version"), error)).has_value();
            if (!ok && !error.isValid())
                error = db.lastError();
            if (ok && *version > kSchemaVersion) {
                why = QStringLiteral("Apprentissage arrêté : %1 vient d'une version plus récente de Pelicorde ; il "
                                     "est laissé tel quel")
                          .arg(m_path);
                close();
                return false;
            }
            ok = ok && (*version == kSchemaVersion || createSchema(db, error));
        }
        ok = ok && op(db, error);
        if (ok) {
            if (!m_resetNote.isEmpty())
                why = std::exchange(m_resetNote, QString()); // told once
            return true;
        }
        const Failure failure = failureOf(error);
        close();
        if (failure == Failure::Damaged && round == 0) {
            if (!moveAside(&why))
                return false;
            continue;
        }
        why = failure == Failure::Busy
                  ? QStringLiteral("Apprentissage remis à plus tard : la base est occupée par un autre programme")
                  : QStringLiteral("Apprentissage impossible : %1 (%2)").arg(error.text(), fileNameOf(m_path));
        return false;
    }
    return false;
}

bool LearnedStore::moveAside(QString *problem)
{
    close();
    // One copy is kept, for whoever wants to look into it; the next damage replaces it.
    const QString aside = m_path + QStringLiteral(".endommagé");
    const QByteArray from = QFile::encodeName(m_path), to = QFile::encodeName(aside);
    if (::rename(from.constData(), to.constData()) != 0) {
        if (errno == ENOENT)
            return true; // another program moved it first
        *problem = QStringLiteral("Apprentissage arrêté : %1 est illisible et ne peut pas être mis de côté (%2)")
                       .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // The log and its index belong to the damaged file: a new database must not replay them.
    const QStringList beside = companions(m_path);
    for (const QString &c : beside) {
        const QByteArray name = QFile::encodeName(c);
        if (c.endsWith(QLatin1String("-wal")))
            (void)::rename(name.constData(), QFile::encodeName(aside + QStringLiteral("-wal")).constData());
        else
            (void)::unlink(name.constData());
    }
    m_resetNote = QStringLiteral("Apprentissage : la base était illisible, elle est mise de côté (%1) et "
                                 "l'apprentissage recommence")
                      .arg(fileNameOf(aside));
    return true;
}

LearnOutcome LearnedStore::learn(const QList<Lesson> &lessons)
{
    LearnOutcome out;
    if (lessons.isEmpty())
        return out;
    QString problem;
    out.ok = withRetry(
        [&](QSqlDatabase &db, QSqlError &error) {
            out = LearnOutcome{};
            for (qsizetype from = 0; from < lessons.size(); from += kLessonsPerTransaction)
                if (!learnChunk(db, lessons.mid(from, kLessonsPerTransaction), m_limits, out, error))
                    return false;
            return true;
        },
        &problem);
    out.problem = problem;
    return out;
}

SpamScorer LearnedStore::scorer(QString *problem, const ScoreSettings &settings)
{
    SpamScorer result;
    withRetry(
        [&](QSqlDatabase &db, QSqlError &error) {
            // One read transaction: the counts and the totals of the same moment.
            if (!run(db, QStringLiteral("BEGIN"), error))
                return false;
            int spam = 0, ham = 0;
            std::vector<TokenCount> counts;
            QSqlQuery q(db);
            q.setForwardOnly(true);
            bool ok = q.exec(QStringLiteral("SELECT spam, messages FROM totals"));
            while (ok && q.next())
                (q.value(0).toInt() ? spam : ham) = q.value(1).toInt();
            ok = ok && q.exec(QStringLiteral("SELECT hash, spam, ham FROM tokens"));
            while (ok && q.next())
                counts.push_back({static_cast<Token>(q.value(0).toLongLong()), quint32(q.value(1).toUInt()),
                                  quint32(q.value(2).toUInt())});
            // Which messages were learned, so that a scan keeps back only what would change.
            std::vector<Token> spamIds, hamIds;
            if (ok && !q.lastError().isValid())
                ok = q.exec(QStringLiteral("SELECT id, spam FROM messages"));
            while (ok && q.next())
                (q.value(1).toInt() ? spamIds : hamIds).push_back(static_cast<Token>(q.value(0).toLongLong()));
            // A damaged page shows while the rows are read.
            if (ok && q.lastError().isValid())
                ok = false;
            if (!ok)
                error = q.lastError();
            q.finish();
            if (!finish(db, ok, error))
                return false;
            result = SpamScorer(spam, ham, counts, settings);
            result.setLearnedMessages(std::move(spamIds), std::move(hamIds));
            return true;
        },
        problem);
    return result;
}

std::optional<LearnedTotals> LearnedStore::totals(QString *problem)
{
    std::optional<LearnedTotals> result;
    withRetry(
        [&](QSqlDatabase &db, QSqlError &error) {
            LearnedTotals t;
            const auto spam = single(db, QStringLiteral("SELECT messages FROM totals WHERE spam = 1"), error);
            const auto ham = spam ? single(db, QStringLiteral("SELECT messages FROM totals WHERE spam = 0"), error)
                                  : std::nullopt;
            const auto tokens = ham ? single(db, QStringLiteral("SELECT count(*) FROM tokens"), error) : std::nullopt;
            const auto messages = tokens ? single(db, QStringLiteral("SELECT count(*) FROM messages"), error)
                                         : std::nullopt;
            if (!messages)
                return false;
            result = LearnedTotals{int(*spam), int(*ham), *tokens, *messages};
            return true;
        },
        problem);
    return result;
}

std::optional<qint64> LearnedStore::generation()
{
    std::optional<qint64> result;
    withRetry(
        [&](QSqlDatabase &db, QSqlError &error) {
            result = single(db, QStringLiteral("SELECT value FROM meta WHERE key = 'generation'"), error);
            return result.has_value();
        },
        nullptr);
    return result;
}

void learnInBackground(const QString &path, const QList<Lesson> &lessons, QObject *receiver,
                       std::function<void(const LearnOutcome &)> done)
{
    auto promise = std::make_shared<QPromise<LearnOutcome>>();
    // Qt drops the continuation when receiver is destroyed first.
    promise->future().then(receiver, [done = std::move(done)](const LearnOutcome &outcome) { done(outcome); });
    promise->start();
    QThreadPool::globalInstance()->start([promise, path, lessons] {
        LearnOutcome outcome;
        {
            LearnedStore store(path);
            outcome = store.learn(lessons);
        }
        promise->addResult(outcome);
        promise->finish();
    });
}

void loadScorerInBackground(const QString &path, QObject *receiver,
                            std::function<void(const SpamScorer &, const QString &)> done)
{
    using Loaded = std::pair<SpamScorer, QString>;
    auto promise = std::make_shared<QPromise<Loaded>>();
    promise->future().then(receiver, [done = std::move(done)](const Loaded &loaded) {
        done(loaded.first, loaded.second);
    });
    promise->start();
    QThreadPool::globalInstance()->start([promise, path] {
        Loaded loaded;
        {
            LearnedStore store(path);
            loaded.first = store.scorer(&loaded.second);
        }
        promise->addResult(loaded);
        promise->finish();
    });
}

} // namespace learning
