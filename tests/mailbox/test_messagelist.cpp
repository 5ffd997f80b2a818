// SPDX-License-Identifier: GPL-3.0-or-later
// The list's cells as the scan, the marking and the views write and read them: every text
// comes back as written, in any column, beside any other, and only a change is signalled.
#include <QtTest>
#include <algorithm>

#include "learning/LearnedStore.h"
#include "mailbox/MessageList.h"
#include "support/LearningMail.h"

using learning::Verdict;
using TickedBy = MessageList::TickedBy;

class MessageListTest : public QObject
{
    Q_OBJECT
private slots:
    void cells_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("ASCII") << QStringLiteral("alice@example.org");
        QTest::newRow("Latin-1") << QStringLiteral("Relevé de compte \u00ff");
        QTest::newRow("beyond Latin-1") << QStringLiteral("\u4e2d\u6587 \U0001F600 \u2026");
        QTest::newRow("long") << QStringLiteral("\u00e9").repeated(300) + QStringLiteral("\u20ac").repeated(20000);
    }
    void cells()
    {
        QFETCH(QString, text);
        MessageList list;
        list.setRows(3);
        QSignalSpy changes(&list, &MessageList::dataChanged);
        const QStringList others{QStringLiteral("x@y.z"), QStringLiteral("\u4e2d"), QString(), QStringLiteral("Autre")};
        for (int column = 0; column < MessageList::ColumnCount; ++column) {
            list.setCells(2, 0, {others[0], others[1], others[2], others[3]});
            list.setUid(2, QStringLiteral("uid-%1").arg(column));
            list.setCell(2, column, text);
            for (int c = 0; c < MessageList::ColumnCount; ++c)
                QCOMPARE(list.cell(2, c), c == column ? MessageList::kept(text) : c < 4 ? others[c] : QString());
            QCOMPARE(list.uid(2), QStringLiteral("uid-%1").arg(column));
            QCOMPARE(list.cell(1, column), QString());
            changes.clear();
            list.setCell(2, column, text); // the same again: nothing to redraw
            list.setCells(2, 0, {list.cell(2, 0), list.cell(2, 1)});
            QCOMPARE(changes.size(), 0);
            list.clearRow(2);
        }
        list.setUid(1, text);
        QCOMPARE(list.uid(1), text);
        QCOMPARE(list.isMarked(1), false);
        list.setCell(1, MessageList::Mark, QStringLiteral("1"));
        QCOMPARE(list.isMarked(1), true);
    }

    // A listing's ids go to the rows written; rows past them, row 0 and rows cleared have none,
    // and one row's id set again leaves the others'.
    void listedIds()
    {
        MessageList list;
        list.setRows(5);
        MessageIds listed;
        for (int n = 0; n <= 6; ++n)
            listed.set(n, "id" + QByteArray::number(n));
        list.setUids(listed, 3);
        QCOMPARE(listed.at(5), QStringLiteral("id5")); // the listing itself unchanged
        const QStringList expected{QString(), QStringLiteral("id1"), QStringLiteral("id2"), QStringLiteral("id3"), QString()};
        for (int r = 0; r < 5; ++r)
            QCOMPARE(list.uid(r), expected[r]);
        list.setUid(2, QStringLiteral("été"));
        list.clearRow(1);
        list.setRows(3);
        list.setRows(5);
        QCOMPARE((QStringList{list.uid(1), list.uid(2), list.uid(3), list.uid(5)}),
                 (QStringList{QString(), QStringLiteral("été"), QString(), QString()}));
    }

    // Rows written in a batch reach the views as one change over them, at announce() or at
    // the batch's end, whichever comes first.
    void batchedRowsOneChange()
    {
        MessageList list;
        list.setRows(6);
        QSignalSpy changes(&list, &MessageList::dataChanged);
        {
            const MessageList::Batch batch(list);
            list.setCells(4, 0, {QStringLiteral("a@b.c"), QStringLiteral("Sujet")});
            list.setCell(2, MessageList::Mark, QStringLiteral("1"));
            QCOMPARE(changes.size(), 0);
            list.announce();
            list.setCell(5, MessageList::Mark, QStringLiteral("1"));
        }
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes[0][0].value<QModelIndex>(), list.indexOf(2, 0));
        QCOMPARE(changes[0][1].value<QModelIndex>(), list.indexOf(4, MessageList::ColumnCount - 1));
        QCOMPARE(changes[1][0].value<QModelIndex>(), list.indexOf(5, 0));
        QCOMPARE(list.cell(4, MessageList::Subject), QStringLiteral("Sujet"));
    }

    // Who ticked a row, as the Supr cell, the view's roles and the count of suggestions tell it:
    // a suggestion stays one until the user clicks it or the row goes.
    void whoTicked_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("mark");
        QTest::addColumn<TickedBy>("by");
        QTest::addColumn<int>("suggestions");
        QTest::newRow("suggested") << QStringList{"score"} << "1" << TickedBy::Score << 1;
        QTest::newRow("suggestion unticked") << QStringList{"score", "user "} << "" << TickedBy::User << 0;
        QTest::newRow("suggestion ticked by the user") << QStringList{"score", "user 1"} << "1" << TickedBy::User << 0;
        QTest::newRow("blacklist over a suggestion") << QStringList{"score", "blacklist"} << "1" << TickedBy::Blacklist << 0;
        QTest::newRow("unticked by the marking") << QStringList{"score", "nobody"} << "" << TickedBy::Nobody << 0;
        QTest::newRow("row emptied") << QStringList{"score", "clear"} << "" << TickedBy::Nobody << 0;
        QTest::newRow("row dropped") << QStringList{"score", "drop"} << "" << TickedBy::Nobody << 0;
    }
    void whoTicked()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, mark);
        QFETCH(TickedBy, by);
        QFETCH(int, suggestions);
        MessageList list;
        list.setRows(4);
        QSignalSpy changes(&list, &MessageList::dataChanged);
        for (const QString &step : steps) {
            changes.clear();
            if (step == u"score")
                list.setTick(2, TickedBy::Score);
            else if (step == u"blacklist")
                list.setTick(2, TickedBy::Blacklist);
            else if (step == u"nobody")
                list.setTick(2, TickedBy::Nobody);
            else if (step.startsWith(u"user"))
                list.setCell(2, MessageList::Mark, step.mid(5));
            else if (step == u"clear")
                list.clearRow(2);
            else
                list.setRows(2), list.setRows(4);
            QVERIFY2(changes.size() == 1 || step == u"drop", qPrintable(step)); // the view redraws the mark
        }
        QCOMPARE(list.cell(2, MessageList::Mark), mark);
        QCOMPARE(list.tickedBy(2), by);
        QCOMPARE(list.suggestionCount(), suggestions);
        QCOMPARE(list.data(list.indexOf(2, MessageList::Mark), MessageList::SuggestionRole).toBool(), suggestions == 1);
        QCOMPARE(list.isMarked(2), mark == u"1");
    }

    // Each row keeps its score and its tip; a deletion that went through gives the lessons: the
    // rows removed as spam, the others left unticked as legitimate, each only when the store did
    // not hold it that way, with the row's own tokens. Through the store they move a message
    // learned the other way rather than count it twice.
    void scoresAndLessons()
    {
        const learning::SpamScorer scorer = learningmail::trainedScorer();
        // New spam removed; spam ticked that the deletion left; a new legitimate message; one
        // learned already as legitimate and left; one learned as legitimate, now removed; a
        // learned spam removed again.
        const QList<QByteArray> headers{learningmail::spam(100), learningmail::spam(101), learningmail::ham(100),
                                        learningmail::ham(3), learningmail::ham(4), learningmail::spam(5)};
        MessageList list;
        list.setRows(int(headers.size()) + 2); // the last row unread
        learningmail::scoreRows(list, scorer, headers);
        for (const int r : {1, 2, 5, 6})
            list.setCell(r, MessageList::Mark, QStringLiteral("1"));
        QVERIFY(list.scoreSuggests(1));
        QVERIFY(!list.scoreSuggests(3));
        for (int r = 1; r <= int(headers.size()); ++r) {
            const learning::SpamScore direct = scorer.score(headers[r - 1]);
            QVERIFY(std::abs(list.score(r)->value - direct.value) < 1e-6);
            QCOMPARE(list.scoreTip(r), learning::explanation(*list.score(r), 20, 20));
            QCOMPARE(list.data(list.indexOf(r, MessageList::Mark), Qt::ToolTipRole).toString(), list.scoreTip(r));
        }
        QVERIFY(list.scoreTip(1).startsWith(QStringLiteral("Spam probable (score ")));
        QVERIFY(list.scoreTip(3).startsWith(QStringLiteral("Pas de spam probable (score 0,")));
        QVERIFY(!list.isScored(7));
        QCOMPARE(list.scoreTip(7), QString());

        const QList<learning::Lesson> lessons = list.lessonsAfterDeletion({2});
        QStringList taught;
        for (const learning::Lesson &l : lessons) {
            int r = 1;
            while (r <= headers.size() && learning::headerId(headers[r - 1]) != l.id)
                ++r;
            taught << QStringLiteral("%1%2").arg(r).arg(QChar(l.verdict == Verdict::Spam ? u's' : u'h'));
            std::vector<learning::Token> tokens = l.tokens, expected = learning::headerTokenList(headers.value(r - 1));
            std::sort(tokens.begin(), tokens.end());
            std::sort(expected.begin(), expected.end());
            QVERIFY(tokens == expected);
            QVERIFY(l.header.isEmpty());
        }
        QCOMPARE(taught, (QStringList{"5s", "3h", "1s"}));

        QTemporaryDir dir;
        learning::LearnedStore store(learning::LearnedStore::pathIn(dir.path()));
        QList<learning::Lesson> before;
        for (const int n : {3, 4})
            before << learning::Lesson{learning::headerId(learningmail::ham(n)), learningmail::ham(n), Verdict::Ham};
        QVERIFY(store.learn(before).ok);
        const learning::LearnOutcome outcome = store.learn(lessons);
        QCOMPARE(outcome.added, 2);
        QCOMPARE(outcome.moved, 1);
        QCOMPARE(store.totals()->spam, 2);

        list.clearDataRows();
        QVERIFY(list.lessonsAfterDeletion().isEmpty());
    }

    // Each row keeps its own tokens and id, however many rows and distinct tokens came before
    // it, however long or short its header, in whatever group of rows it was scored, and when
    // the reader had to wait for the scorer (headers of megabytes).
    void rowsKeepTheirTokensAndIds()
    {
        QList<QByteArray> headers{QByteArray(), "A: b\r\n", learningmail::ham(1)};
        for (int n = 0; n < 3; ++n)
            headers << learningmail::spam(400 + n) + "X-Long: " + QByteArray(3 << 20, char('a' + n)) + "\r\n";
        for (int n = 0; n < 301; ++n) {
            QByteArray h = learningmail::spam(n);
            for (int f = 0; f < 40; ++f) // half of them the row before's, half new
                h += "X-F" + QByteArray::number(n * 20 + f) + ": " + QByteArray(n % 30, 'v') + "\r\n";
            headers << h;
        }
        RowScoring scoring(learningmail::trainedScorer(), int(headers.size()) + 1);
        for (qsizetype i = 0; i < headers.size(); ++i)
            scoring.add(int(i) + 1, headers[i]);
        const std::unique_ptr<RowScores> rows = scoring.finish();
        for (qsizetype i = 0; i < headers.size(); ++i) {
            std::vector<learning::Token> kept = rows->tokensOf(int(i) + 1), read = learning::headerTokenList(headers[i]);
            std::sort(kept.begin(), kept.end());
            std::sort(read.begin(), read.end());
            QVERIFY(kept == read);
            QCOMPARE(rows->row(int(i) + 1)->id, learning::headerIdValue(headers[i]));
        }
    }

    // However many legitimate rows a first deletion leaves, it teaches the newest few thousand;
    // every removed row is taught.
    void legitimateLessonsBounded()
    {
        QList<QByteArray> headers;
        for (int n = 0; n < MessageList::kMaxLegitimateLessons + 10; ++n)
            headers << learningmail::ham(1000 + n);
        headers << learningmail::spam(1000);
        MessageList list;
        list.setRows(int(headers.size()) + 1);
        learningmail::scoreRows(list, learningmail::trainedScorer(), headers);
        list.setCell(1, MessageList::Mark, QStringLiteral("1"));
        list.setCell(int(headers.size()), MessageList::Mark, QStringLiteral("1"));
        const QList<learning::Lesson> lessons = list.lessonsAfterDeletion();
        QCOMPARE(lessons.size(), MessageList::kMaxLegitimateLessons + 2);
        QCOMPARE(lessons.front().id, learning::headerId(headers.last()));
        QCOMPARE(lessons.back().id, learning::headerId(headers.first()));
        QCOMPARE(lessons.back().verdict, Verdict::Spam);
        QCOMPARE(lessons[MessageList::kMaxLegitimateLessons].id, learning::headerId(headers[10]));
    }
};

QTEST_GUILESS_MAIN(MessageListTest)
#include "test_messagelist.moc"
