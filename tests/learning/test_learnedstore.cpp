// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <thread>

#include "core/DataFiles.h"
#include "core/SafeFile.h"
#include "learning/LearnedStore.h"
#include "learning/MailSources.h"
#include "support/FeedingFifo.h"
#include "support/LearningMail.h"
#include "support/TestFiles.h"

using namespace learning;

namespace {

// Set in the environment of the copies of this program that write beside the test.
constexpr char kWriterPath[] = "PELICORDE_LEARNING_WRITER_PATH";
constexpr char kWriterFirst[] = "PELICORDE_LEARNING_WRITER_FIRST";
constexpr int kPerWriter = 120;

// Spam and legitimate messages, ids first..first+count-1, one in two of each kind.
QList<Lesson> lessons(int first, int count)
{
    QList<Lesson> out;
    for (int n = first; n < first + count; ++n)
        out << Lesson{"id-" + QByteArray::number(n), n % 2 ? learningmail::spam(n) : learningmail::ham(n),
                      n % 2 ? Verdict::Spam : Verdict::Ham};
    return out;
}

// What a writer process does: learns its messages in small batches, each a transaction of its own.
int writeAsAnotherProgram()
{
    const QString path = qEnvironmentVariable(kWriterPath);
    const int first = qEnvironmentVariableIntValue(kWriterFirst);
    for (int n = first; n < first + kPerWriter; n += 10) {
        LearnedStore store(path);
        const LearnOutcome outcome = store.learn(lessons(n, 10));
        if (!outcome.ok || outcome.added != 10) {
            std::fprintf(stderr, "writer: %s\n", qPrintable(outcome.problem));
            return 1;
        }
    }
    return 0;
}

LearnedTotals totalsAt(const QString &path)
{
    LearnedStore store(path);
    return store.totals().value_or(LearnedTotals{-1, -1, -1, -1});
}

} // namespace

class LearnedStoreTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        m_path = LearnedStore::pathIn(m_dir.path());
    }

    void learnsEachMessageOnce()
    {
        LearnedStore store(m_path);
        const QList<Lesson> first = lessons(0, 4);
        LearnOutcome outcome = store.learn(first);
        QVERIFY2(outcome.ok, qPrintable(outcome.problem));
        QCOMPARE(outcome.added, 4);
        const LearnedTotals before = *store.totals();
        QCOMPARE(before.spam, 2);
        QCOMPARE(before.ham, 2);
        // The same messages again, as the next deletion leaves them unticked once more.
        outcome = store.learn(first + lessons(0, 4));
        QCOMPARE(outcome.added, 0);
        QCOMPARE(outcome.unchanged, 8);
        const LearnedTotals after = *store.totals();
        QCOMPARE(after.spam, 2);
        QCOMPARE(after.ham, 2);
        QCOMPARE(after.tokens, before.tokens);
        QCOMPARE(after.messages, 4);
        QVERIFY(outcome.problem.isEmpty());
    }

    // A message kept once, then deleted: its counts move to spam, they are not added twice. A
    // list gives its rows' tokens rather than their headers: the same counts. The scorer knows
    // which way each message was learned.
    void correctionMovesTheCounts_data()
    {
        QTest::addColumn<bool>("asTokens");
        QTest::newRow("header") << false;
        QTest::newRow("tokens") << true;
    }
    void correctionMovesTheCounts()
    {
        QFETCH(bool, asTokens);
        const QByteArray header = learningmail::spam(7);
        const auto lesson = [&](Verdict v) {
            return asTokens ? Lesson{"uid-7", {}, v, headerTokenList(header)} : Lesson{"uid-7", header, v};
        };
        LearnedStore store(m_path);
        QVERIFY(store.learn({lesson(Verdict::Ham)}).ok);
        const qint64 generation = *store.generation();
        SpamScorer scorer = store.scorer();
        QVERIFY(scorer.score(header).value < 0.5);
        QCOMPARE(scorer.learnedAs("uid-7"), std::optional(Verdict::Ham));
        QCOMPARE(scorer.learnedAs("uid-8"), std::nullopt);
        const LearnOutcome outcome = store.learn({lesson(Verdict::Spam)});
        QCOMPARE(outcome.moved, 1);
        const LearnedTotals totals = *store.totals();
        QCOMPARE(totals.spam, 1);
        QCOMPARE(totals.ham, 0);
        QCOMPARE(totals.messages, 1);
        scorer = store.scorer();
        QVERIFY(scorer.score(header).value > 0.5);
        QCOMPARE(scorer.learnedAs("uid-7"), std::optional(Verdict::Spam));
        QVERIFY(*store.generation() > generation);
    }

    void suggestsNothingBeforeTwentyOfEach_data()
    {
        QTest::addColumn<int>("spam");
        QTest::addColumn<int>("ham");
        QTest::addColumn<bool>("suggested");
        QTest::newRow("19 spams") << 19 << 20 << false;
        QTest::newRow("19 legitimate") << 20 << 19 << false;
        QTest::newRow("20 of each") << 20 << 20 << true;
    }
    void suggestsNothingBeforeTwentyOfEach()
    {
        QFETCH(int, spam);
        QFETCH(int, ham);
        QFETCH(bool, suggested);
        QList<Lesson> taught;
        for (int n = 0; n < spam; ++n)
            taught << Lesson{"s" + QByteArray::number(n), learningmail::spam(n), Verdict::Spam};
        for (int n = 0; n < ham; ++n)
            taught << Lesson{"h" + QByteArray::number(n), learningmail::ham(n), Verdict::Ham};
        LearnedStore store(m_path);
        QVERIFY(store.learn(taught).ok);
        const SpamScorer scorer = store.scorer();
        QCOMPARE(isSuggested(scorer.score(learningmail::spam(99)), scorer), suggested);
        QVERIFY(!isSuggested(scorer.score(learningmail::ham(99)), scorer));
    }

    // A database that is not one, or whose pages were damaged, is put aside; learning starts again.
    void damagedDatabaseIsMovedAside_data()
    {
        QTest::addColumn<bool>("fromALearnedOne");
        QTest::newRow("not a database") << false;
        QTest::newRow("damaged pages") << true;
    }
    void damagedDatabaseIsMovedAside()
    {
        QFETCH(bool, fromALearnedOne);
        if (fromALearnedOne) {
            QVERIFY(LearnedStore(m_path).learn(lessons(0, 60)).ok);
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.size() > 3 * 4096);
            f.seek(4096); // past the first page, over the tables' own
            f.write(QByteArray(f.size() - 4096, '\xA5'));
        } else {
            writeBytes(m_path, QByteArray(8192, 'x'));
        }
        LearnedStore store(m_path);
        const LearnOutcome outcome = store.learn(lessons(100, 1));
        QVERIFY2(outcome.ok, qPrintable(outcome.problem));
        QVERIFY2(outcome.problem.contains(QStringLiteral("mise de côté")), qPrintable(outcome.problem));
        QVERIFY(QFileInfo::exists(m_path + QStringLiteral(".endommagé")));
        const LearnedTotals totals = *store.totals();
        QCOMPARE(totals.spam + totals.ham, 1);
        const LearnOutcome next = store.learn(lessons(101, 1));
        QVERIFY(next.ok);
        QVERIFY(next.problem.isEmpty()); // told once
    }

    // A message imported from a mailbox file and later deleted from the server is one message.
    void importedAndServerCopiesAreOneMessage()
    {
        const QByteArray sent = learningmail::spam(3) + "\r\n";
        QByteArray filed = "From x@y.example Mon Dec  7 10:00:00 2026\n" + QByteArray(sent).replace("\r\n", "\n") + "body\n";
        const QString mbox = m_dir.filePath(QStringLiteral("Spams.mbox"));
        writeBytes(mbox, filed);
        QList<Lesson> imported;
        readHeaderBlocks(mbox, [&](const QByteArray &h) { return imported << Lesson{headerId(h), h, Verdict::Spam}, true; });
        QCOMPARE(imported.size(), 1);
        LearnedStore store(m_path);
        QCOMPARE(store.learn(imported).added, 1);
        const LearnOutcome outcome = store.learn({Lesson{headerId(sent), sent, Verdict::Spam}});
        QCOMPARE(outcome.unchanged, 1);
        QCOMPARE(store.totals()->spam, 1);
    }

    // What another program learns shows in the generation a loaded scorer was made at.
    void otherWritersChangeTheGeneration()
    {
        LearnedStore mine(m_path);
        QVERIFY(mine.learn(lessons(0, 2)).ok);
        const qint64 seen = *mine.generation();
        QVERIFY(LearnedStore(m_path).learn(lessons(2, 2)).ok);
        QVERIFY(*mine.generation() > seen);
        QVERIFY(LearnedStore(m_path).learn(lessons(2, 2)).ok); // nothing new: nothing changes
        QCOMPARE(*mine.generation(), seen + 1);
    }

    // A database of a later version of the program: not damaged, only not ours to change.
    void newerDatabaseIsLeftAlone()
    {
        QVERIFY(LearnedStore(m_path).learn(lessons(0, 2)).ok);
        {
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek(60)); // SQLite's user version, which holds the schema's
            QCOMPARE(f.write(QByteArray("\0\0\0\x02", 4)), 4);
        }
        const QByteArray before = readBytes(m_path);
        const LearnOutcome outcome = LearnedStore(m_path).learn(lessons(2, 1));
        QVERIFY(!outcome.ok);
        QVERIFY2(outcome.problem.contains(QStringLiteral("plus récente")), qPrintable(outcome.problem));
        QCOMPARE(readBytes(m_path), before);
        QVERIFY(!QFileInfo::exists(m_path + QStringLiteral(".endommagé")));
    }

    // The window and pelicorde-check, or two windows' background learning, writing at once.
    void twoProgramsWriteAtOnce()
    {
        QList<QProcess *> writers;
        for (const int first : {1000, 2000}) {
            auto *p = new QProcess(this);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QLatin1String(kWriterPath), m_path);
            env.insert(QLatin1String(kWriterFirst), QString::number(first));
            p->setProcessEnvironment(env);
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p->start(QCoreApplication::applicationFilePath(), {});
            writers << p;
        }
        // And a thread of this one, with a connection of its own.
        bool threadOk = true;
        std::thread other([&] {
            for (int n = 3000; n < 3000 + kPerWriter; n += 10)
                threadOk = threadOk && LearnedStore(m_path).learn(lessons(n, 10)).added == 10;
        });
        for (QProcess *p : writers) {
            QVERIFY(p->waitForFinished(120000));
            QCOMPARE(p->exitCode(), 0);
        }
        other.join();
        QVERIFY(threadOk);
        const LearnedTotals totals = totalsAt(m_path);
        QCOMPARE(totals.spam + totals.ham, 3 * kPerWriter);
        QCOMPARE(totals.messages, 3 * kPerWriter);
    }

    // Something other than a file where the database goes is left alone, and nothing is learned.
    void refusesWhatIsNotAFile_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("companion"); // the database, or a file SQLite keeps beside it
        for (const char *what : {"fifo", "link", "dangling link", "folder", "huge file"})
            QTest::newRow(what) << QString::fromLatin1(what) << QString();
        QTest::newRow("fifo as the log") << QStringLiteral("fifo") << QStringLiteral("-wal");
        QTest::newRow("link as the log index") << QStringLiteral("link") << QStringLiteral("-shm");
    }
    void refusesWhatIsNotAFile()
    {
        QFETCH(QString, what);
        QFETCH(QString, companion);
        const QString at = m_path + companion;
        const QString target = m_dir.filePath(QStringLiteral("ailleurs.txt"));
        writeBytes(target, "à garder");
        std::unique_ptr<FeedingFifo> fifo;
        if (what == QLatin1String("fifo")) {
            fifo = std::make_unique<FeedingFifo>(at, QByteArray(100, 'x'));
            QVERIFY(fifo->made());
        } else if (what == QLatin1String("link")) {
            QVERIFY(QFile::link(target, at));
        } else if (what == QLatin1String("dangling link")) {
            QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("absent")), at));
        } else if (what == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(at));
        } else {
            QFile big(at);
            QVERIFY(big.open(QIODevice::WriteOnly));
            QVERIFY(big.resize(300LL * 1024 * 1024)); // sparse: no disk taken
        }
        LearnedStore store(m_path);
        const LearnOutcome outcome = store.learn(lessons(0, 2));
        QVERIFY(!outcome.ok);
        QVERIFY2(outcome.problem.contains(at), qPrintable(outcome.problem));
        QVERIFY(store.scorer().spamLearned() == 0);
        QVERIFY(files::entryExists(at));
        QCOMPARE(readBytes(target), QByteArray("à garder"));
        QVERIFY(!QFileInfo::exists(m_path + QStringLiteral(".endommagé")));
        if (what == QLatin1String("huge file"))
            QCOMPARE(QFileInfo(at).size(), 300LL * 1024 * 1024);
    }

    void databaseIsPrivateAndBounded()
    {
        LearnedStore store(m_path, StoreLimits{300, 50});
        QVERIFY(store.learn(lessons(0, 120)).ok);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
        const LearnedTotals totals = *store.totals();
        QVERIFY2(totals.tokens <= 300, qPrintable(QString::number(totals.tokens)));
        QVERIFY(totals.messages <= 50);
        QCOMPARE(totals.spam + totals.ham, 120); // what was learned still counts
    }

    // Its name, and those of the files SQLite keeps beside it, are never an attachment's.
    void namesAreTheProgramsOwn()
    {
        for (const char *name : {"Apprentissage.sqlite", "Apprentissage.sqlite-wal", "Apprentissage.sqlite-shm",
                                 "Apprentissage.sqlite-journal"}) {
            QVERIFY(datafiles::isProgramFile(QLatin1String(name)));
            QVERIFY(!datafiles::isProgramFile(attachments::clearOfProgramFiles(QLatin1String(name))));
        }
        QCOMPARE(QFileInfo(LearnedStore::pathIn(QStringLiteral("/d"))).fileName(), QStringLiteral("Apprentissage.sqlite"));
    }

    void learnsOffTheCallingThread()
    {
        QObject receiver;
        LearnOutcome got;
        QThread *calledIn = nullptr;
        learnInBackground(m_path, lessons(0, 3), &receiver, [&](const LearnOutcome &o) {
            got = o;
            calledIn = QThread::currentThread();
        });
        QTRY_VERIFY(calledIn);
        QCOMPARE(calledIn, QThread::currentThread());
        QCOMPARE(got.added, 3);
        bool loaded = false;
        loadScorerInBackground(m_path, &receiver, [&](const SpamScorer &s, const QString &problem) {
            loaded = s.spamLearned() == 1 && problem.isEmpty();
        });
        QTRY_VERIFY(loaded);
        // A receiver gone before the end hears nothing, and nothing breaks.
        auto *gone = new QObject;
        bool called = false;
        learnInBackground(m_path, lessons(10, 3), gone, [&](const LearnOutcome &) { called = true; });
        delete gone;
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // Qt SQL loads its driver through the application
    if (qEnvironmentVariableIsSet(kWriterPath))
        return writeAsAnotherProgram();
    LearnedStoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_learnedstore.moc"
