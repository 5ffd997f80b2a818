// SPDX-License-Identifier: GPL-3.0-or-later
// The reply framing alone: the same replies and the same problem whatever the chunking.
#include <QtTest>

#include <QRandomGenerator>

#include "protocol/pop3/Pop3ReplyParser.h"

using Problem = Pop3ReplyParser::Problem;
using Owed = QList<QPair<bool, qsizetype>>; // multi-line, cap

namespace {

// Every reply as "+status|body" or "-status", then the problem met, if any. A body's header
// block when it ends before the body does, and status lines in it, are noted in brackets.
QStringList run(const Owed &owed, const QByteArray &bytes, const QList<qsizetype> &cuts)
{
    Pop3ReplyParser parser;
    for (const auto &[multiLine, cap] : owed)
        parser.expect(multiLine, cap);
    QStringList out;
    const auto drain = [&] {
        Pop3ReplyParser::Reply r;
        while (parser.next(r)) {
            const bool body = r.ok && owed.at(out.size()).first;
            QByteArray notes = r.headerEnd < r.body.size() ? " header " + QByteArray::number(r.headerEnd) : "";
            notes += QByteArray(r.statusFirst ? " status first" : "") + (r.statusAfterHeader ? " status after" : "");
            out << QString::fromLatin1((r.ok ? "+" : "-") + r.status + (body ? "|" + r.body : "")
                                       + (notes.isEmpty() ? "" : " [" + notes.trimmed() + "]"));
        }
    };
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        parser.feed(QByteArrayView(bytes).sliced(from, cut - from));
        drain();
        from = cut;
    }
    parser.feed(QByteArrayView(bytes).sliced(from));
    drain();
    if (parser.problem() != Problem::None)
        out << QStringLiteral("problem %1 %2").arg(int(parser.problem())).arg(QString::fromLatin1(parser.problemLine()));
    out << QStringLiteral("owed %1").arg(parser.owed());
    return out;
}

} // namespace

class Pop3ReplyParserTest : public QObject
{
    Q_OBJECT

private slots:
    void chunking_data()
    {
        QTest::addColumn<Owed>("owed");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        const QByteArray longStatus = "+OK " + QByteArray(Pop3ReplyParser::MaxStatusLine, 'a') + "\r\n";

        QTest::newRow("pipelined replies")
            << Owed{{false, 0}, {true, 100}, {true, 100}, {true, 100}}
            << QByteArray("+OK 2 30\r\n+OK\r\nA: b\r\n..x\r\n.\r\n-ERR no such message\r\n+OK\nlf\n.\n")
            << QStringList{"+2 30", "+|A: b\r\n.x\r\n", "-no such message", "+|lf\n", "owed 0"};
        QTest::newRow("not complete") << Owed{{true, 100}} << QByteArray("+OK\r\nA: b\r\n.")
                                      << QStringList{"owed 1"};
        QTest::newRow("one reply too many") << Owed{{true, 100}} << QByteArray("+OK\r\n.\r\n+OK\r\n.\r\n")
                                            << QStringList{"+|", "problem 4 ", "owed 0"};
        QTest::newRow("not POP3") << Owed{{false, 0}, {false, 0}} << QByteArray("+OK\r\n* OK IMAP\r\n")
                                  << QStringList{"+", "problem 1 * OK IMAP", "owed 1"};
        QTest::newRow("status line without end") << Owed{{false, 0}} << longStatus
                                                 << QStringList{"problem 2 ", "owed 1"};
        // The cap counts the body as received: 10 bytes pass, 11 do not.
        QTest::newRow("body at its cap") << Owed{{true, 10}} << QByteArray("+OK\r\n..xxxxxx\r\n.\r\n")
                                         << QStringList{"+|.xxxxxx\r\n", "owed 0"};
        // Where the header block ends, as "\r\n\r\n" or "\n\n" mark it, and status lines in it.
        QTest::newRow("header block and a stray status")
            << Owed{{true, 100}} << QByteArray("+OK\r\nA: b\r\n\r\n+OK 2\r\n..+OK\r\n.\r\n")
            << QStringList{"+|A: b\r\n\r\n+OK 2\r\n.+OK\r\n [header 8 status after]", "owed 0"};
        QTest::newRow("blank lines ended differently")
            << Owed{{true, 100}, {true, 100}} << QByteArray("+OK\r\nA\n\r\nB\r\n\r\nC\r\n.\r\n+OK\r\nA\r\n\nB\n.\r\n")
            << QStringList{"+|A\n\r\nB\r\n\r\nC\r\n [header 9]", "+|A\r\n\nB\n [header 4]", "owed 0"};
        QTest::newRow("status first, empty header")
            << Owed{{true, 100}, {true, 100}} << QByteArray("+OK\r\n-ERR x\r\n.\r\n+OK\r\n\r\n+OK\r\n.\r\n")
            << QStringList{"+|-ERR x\r\n [status first]", "+|\r\n+OK\r\n [header 2 status after]", "owed 0"};
        QTest::newRow("body past its cap") << Owed{{true, 10}} << QByteArray("+OK\r\n..xxxxxxx\r\n.\r\n")
                                           << QStringList{"problem 3 ", "owed 1"};
    }
    void chunking()
    {
        QFETCH(Owed, owed);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QCOMPARE(run(owed, bytes, {}), expected);
        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < bytes.size(); ++i)
            everyByte << i;
        QCOMPARE(run(owed, bytes, everyByte), expected);
        for (int trial = 0; trial < 20; ++trial) {
            QList<qsizetype> cuts;
            for (qsizetype i = 1; i < bytes.size(); ++i)
                if (QRandomGenerator::global()->bounded(4) == 0)
                    cuts << i;
            QCOMPARE(run(owed, bytes, cuts), expected);
        }
    }
};

QTEST_GUILESS_MAIN(Pop3ReplyParserTest)
#include "test_pop3replyparser.moc"
