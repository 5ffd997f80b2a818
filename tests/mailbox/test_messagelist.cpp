// SPDX-License-Identifier: GPL-3.0-or-later
// The list's cells as the scan, the marking and the views write and read them: every text
// comes back as written, in any column, beside any other, and only a change is signalled.
#include <QtTest>

#include "mailbox/MessageList.h"

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
};

QTEST_GUILESS_MAIN(MessageListTest)
#include "test_messagelist.moc"
