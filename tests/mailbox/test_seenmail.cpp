// SPDX-License-Identifier: GPL-3.0-or-later
// New mail as a check tells it from what the checks before it saw: by POP3 ids, by IMAP UIDs
// under their UIDVALIDITY, or by the count when neither can be trusted.
#include <QtTest>

#include "mailbox/MessageList.h"
#include "mailbox/SeenMail.h"

namespace {

// A list as a scan leaves it: one row per id ("" for a row read without its id), the ids
// under scope (IMAP's UIDVALIDITY; empty for POP3).
void fill(MessageList &list, const QStringList &ids, const QString &scope = {})
{
    list.clearDataRows();
    list.setRows(int(ids.size()) + 1);
    list.setMailbox(QStringLiteral("compte"), scope, {});
    MessageIds listed;
    for (qsizetype r = 0; r < ids.size(); ++r)
        listed.set(r + 1, ids[r].toUtf8());
    list.setUids(listed, int(ids.size()));
}

} // namespace

class SeenMailTest : public QObject
{
    Q_OBJECT
private slots:
    void newRows_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("scopeBefore");
        QTest::addColumn<int>("countBefore"); // -1: all the rows
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("scopeAfter");
        QTest::addColumn<QList<int>>("fresh");
        const QString v1 = QStringLiteral("17"), v2 = QStringLiteral("18");
        QTest::newRow("POP3: one arrives") << QStringList{"a", "b"} << QString() << -1 << QStringList{"a", "b", "c"}
                                           << QString() << QList<int>{3};
        QTest::newRow("POP3: one leaves as one arrives") << QStringList{"a", "b", "c"} << QString() << -1
                                                         << QStringList{"b", "c", "d"} << QString() << QList<int>{3};
        QTest::newRow("POP3: ids beyond the count were not seen") << QStringList{"a", "b", "c"} << QString() << 2
                                                                  << QStringList{"a", "b", "c"} << QString() << QList<int>{3};
        QTest::newRow("POP3: a row without its id, the count decides")
            << QStringList{"a", "b"} << QString() << -1 << QStringList{"x", "", "y"} << QString() << QList<int>{3};
        QTest::newRow("IMAP: UIDs past the highest seen") << QStringList{"5", "7"} << v1 << -1
                                                         << QStringList{"7", "9", "12"} << v1 << QList<int>{2, 3};
        QTest::newRow("IMAP: another UIDVALIDITY, the count decides")
            << QStringList{"5", "7"} << v1 << -1 << QStringList{"1", "2", "3"} << v2 << QList<int>{3};
    }
    void newRows()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, scopeBefore);
        QFETCH(int, countBefore);
        QFETCH(QStringList, after);
        QFETCH(QString, scopeAfter);
        QFETCH(QList<int>, fresh);
        MessageList list;
        fill(list, before, scopeBefore);
        const SeenMail seen = SeenMail::of(list, countBefore < 0 ? int(before.size()) : countBefore);
        fill(list, after, scopeAfter);
        QCOMPARE(seen.newRows(list, int(after.size())), fresh);
    }

    // A check that stopped part way adds what it read to what was seen before: neither the
    // messages seen before nor those it read are new to the next one.
    void partialCheckAddsToTheSeen()
    {
        MessageList list;
        fill(list, {"a", "b"});
        const SeenMail first = SeenMail::of(list, 2);
        fill(list, {"b", "c", "d"});
        list.setUids(list.uids(), 2); // the pass stopped before d's id
        const SeenMail both = first.with(SeenMail::of(list, 2));
        fill(list, {"a", "b", "c", "d", "e"});
        QCOMPARE(both.newRows(list, 5), (QList<int>{4, 5}));
    }
};

QTEST_GUILESS_MAIN(SeenMailTest)
#include "test_seenmail.moc"
