// SPDX-License-Identifier: GPL-3.0-or-later
// The response parser alone: the same responses and the same problem whatever the chunking.
#include <QtTest>

#include <QRandomGenerator>

#include "protocol/imap/ImapResponseParser.h"

using Problem = ImapResponseParser::Problem;
using Limits = ImapResponseParser::Limits;
Q_DECLARE_METATYPE(ImapResponseParser::Limits)

namespace {

QByteArray literal(const QByteArray &bytes)
{
    return "{" + QByteArray::number(bytes.size()) + "}\r\n" + bytes;
}

// Every response dumped, then the problem met, if any, and "…" for a response left incomplete.
QStringList run(const Limits &limits, const QByteArray &bytes, const QList<qsizetype> &cuts)
{
    ImapResponseParser parser(limits);
    QStringList out;
    const auto drain = [&] {
        ImapResponse r;
        while (parser.next(r))
            out << QString::fromLatin1(r.dump());
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
    if (parser.inResponse())
        out << QStringLiteral("…");
    return out;
}

QList<ImapResponse> parse(const QByteArray &bytes)
{
    ImapResponseParser parser;
    parser.feed(bytes);
    QList<ImapResponse> out;
    for (ImapResponse r; parser.next(r);)
        out << r;
    return out;
}

} // namespace

class ImapResponseParserTest : public QObject
{
    Q_OBJECT

private slots:
    void chunking_data()
    {
        QTest::addColumn<Limits>("limits");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        const Limits normal;
        const QByteArray header = "From: a@b.example\r\nSubject: Re: [liste] \"x\"\r\n\r\n";
        QByteArray bodystructure = "((\"TEXT\" \"PLAIN\" (\"CHARSET\" \"UTF-8\") NIL NIL \"7BIT\" 12 1)(\"APPLICATION\" "
                                         "\"PDF\" NIL NIL NIL \"BASE64\" 400 NIL (\"ATTACHMENT\" (\"FILENAME\" \"a.pdf\")) NIL) \"MIXED\")";

        QTest::newRow("greeting, capabilities, tagged ends")
            << normal
            << QByteArray("* OK [CAPABILITY IMAP4rev1 LITERAL+ IDLE] Dovecot ready.\r\n* CAPABILITY IMAP4rev1 MOVE\r\n"
                          "A1 OK [COPYUID 38505 304,319:320 3956:3958] Done\r\nA2 no [ALERT] Quota\r\nA3 BAD\r\n* BYE bye\r\n")
            << QStringList{"* OK [CAPABILITY IMAP4rev1 LITERAL+ IDLE] |Dovecot ready.", "* CAPABILITY IMAP4rev1 MOVE",
                           "A1 OK [COPYUID 38505 304,319:320 3956:3958] |Done", "A2 no [ALERT] |Quota", "A3 BAD |",
                           "* BYE |bye"};
        QTest::newRow("select")
            << normal
            << QByteArray("* 172 EXISTS\r\n* OK [UIDVALIDITY 3857529045] UIDs valid\r\n"
                          "* FLAGS (\\Answered \\Seen $Junk)\r\n* OK [PERMANENTFLAGS (\\Deleted \\*)] Limited\r\n")
            << QStringList{"* 172 EXISTS", "* OK [UIDVALIDITY 3857529045] |UIDs valid", "* FLAGS (\\Answered \\Seen $Junk)",
                           "* OK [PERMANENTFLAGS (\\Deleted \\*)] |Limited"};
        QTest::newRow("list with special use, quoted escapes, NIL")
            << normal << QByteArray("* LIST (\\HasNoChildren \\Junk) \"/\" Junk\r\n* LIST () NIL \"a \\\"b\\\" \\\\c\"\r\n")
            << QStringList{"* LIST (\\HasNoChildren \\Junk) \"/\" Junk", "* LIST () NIL \"a \\\"b\\\" \\\\c\""};
        QTest::newRow("fetch: sections kept in the atom, literals, non-synchronizing, empty")
            << normal
            << "* 12 FETCH (UID 4827 RFC822.SIZE 2345 BODY[HEADER.FIELDS (FROM SUBJECT)] " + literal(header)
                   + " BODY[]<0> {3+}\r\n(\") FLAGS (\\Seen))\r\n* 13 FETCH (BODY[TEXT] {0}\r\n)\r\n"
            << QStringList{"* 12 FETCH (UID 4827 RFC822.SIZE 2345 BODY[HEADER.FIELDS (FROM SUBJECT)] "
                           "\"From: a@b.example\\r\\nSubject: Re: [liste] \\\"x\\\"\\r\\n\\r\\n\" BODY[]<0> \"(\\\")\" FLAGS (\\Seen))",
                           "* 13 FETCH (BODY[TEXT] \"\")"};
        const QByteArray spaced = QByteArray(bodystructure).replace(")(", ") (");
        QTest::newRow("body structure: nested lists, parts unspaced")
            << normal << "* 3 FETCH (UID 9 BODYSTRUCTURE " + bodystructure + ")\r\n"
            << QStringList{"* 3 FETCH (UID 9 BODYSTRUCTURE " + spaced + ")"};
        QTest::newRow("values read in runs: empty and 8-bit strings, escapes, atoms like NIL, lists after lists")
            << normal << QByteArray("* 4 FETCH (X (\"\" \"\xc3\xa9t\xc3\xa9\" \"a\\\\b\" NILS nil NIL)((a)(b)) Y)\r\n")
            << QStringList{"* 4 FETCH (X (\"\" \"\\xc3\\xa9t\\xc3\\xa9\" \"a\\\\b\" NILS NIL NIL) ((a) (b)) Y)"};
        QTest::newRow("idle, search, esearch, LF line ends")
            << normal
            << QByteArray("+ idling\r\n* 173 EXISTS\n* 3 EXPUNGE\r\n+\r\n* SEARCH 2 84\r\n* SEARCH\r\n"
                          "* ESEARCH (TAG \"A9\") UID MIN 2 COUNT 3\r\n")
            << QStringList{"+ |idling", "* 173 EXISTS", "* 3 EXPUNGE", "+ |", "* SEARCH 2 84", "* SEARCH",
                           "* ESEARCH (TAG \"A9\") UID MIN 2 COUNT 3"};
        QTest::newRow("incomplete") << normal << QByteArray("* 1 FETCH (BODY[] {10}\r\nabc") << QStringList{"…"};

        QTest::newRow("responses before the problem come first")
            << normal << QByteArray("* 1 EXISTS\r\nA1 MAYBE so\r\n* 2 EXISTS\r\n")
            << QStringList{"* 1 EXISTS", "problem 1 A1 MAYBE so"};
        QTest::newRow("POP3 greeting") << normal << QByteArray("+OK Dovecot ready.\r\n")
                                       << QStringList{"problem 1 +OK Dovecot ready."};
        QTest::newRow("list left open") << normal << QByteArray("* FLAGS (\\Seen\r\n")
                                        << QStringList{"problem 1 * FLAGS (\\Seen"};
        QTest::newRow("unknown escape") << normal << QByteArray("* LIST () \"/\" \"a\\b\"\r\n")
                                        << QStringList{"problem 1 * LIST () \"/\" \"a\\b\""};
        QTest::newRow("values glued") << normal << QByteArray("* X a(b)\r\n") << QStringList{"problem 1 * X a(b)"};
        QTest::newRow("code left open") << normal << QByteArray("A1 OK [ALERT x\r\n")
                                        << QStringList{"problem 1 A1 OK [ALERT x"};
        QTest::newRow("message number at the limit") << normal << QByteArray("* 1000000 EXISTS\r\n")
                                                     << QStringList{"* 1000000 EXISTS"};
        QTest::newRow("hostile message number") << normal << QByteArray("* 4294967295 EXISTS\r\n")
                                                << QStringList{"problem 6 * 4294967295 EXISTS"};
        QTest::newRow("literal past int range") << normal << QByteArray("* 1 FETCH (BODY[] {99999999999999999999}\r\n")
                                                << QStringList{"problem 3 "};

        Limits capped;
        capped.responseBytes = 40; // "* 1 FETCH (BODY[] {nn}\r\n" is 24 bytes, ")\r\n" 3 more
        QTest::newRow("response at its cap") << capped << "* 1 FETCH (BODY[] " + literal(QByteArray(13, 'x')) + ")\r\n"
                                             << QStringList{"* 1 FETCH (BODY[] \"xxxxxxxxxxxxx\")"};
        QTest::newRow("response past its cap at its end")
            << capped << "* 1 FETCH (BODY[] " + literal(QByteArray(14, 'x')) + ")\r\n" << QStringList{"problem 3 "};
        QTest::newRow("literal announcing more than the cap") << capped << QByteArray("* 1 FETCH (BODY[] {20}\r\n")
                                                              << QStringList{"problem 3 "};
        Limits narrow;
        narrow.lineBytes = 20; // line ends included
        QTest::newRow("line limit restarts after a literal")
            << narrow << "* 1 FETCH (A " + literal("y") + " " + QByteArray(15, 'B') + ")\r\n"
            << QStringList{"* 1 FETCH (A \"y\" " + QString(15, 'B') + ")"};
        QTest::newRow("endless line") << narrow << "* 1 FETCH (A " + QByteArray(8, 'B') << QStringList{"problem 2 "};
        QTest::newRow("line limit inside a quoted string") << narrow << QByteArray("* 1 FETCH (A \"bcdefgh\")\r\n")
                                                          << QStringList{"problem 2 "};
        QTest::newRow("line limit at a quoted string's end") << narrow << QByteArray("* 1 X (A \"bcdefg\")\r\n")
                                                            << QStringList{"* 1 X (A \"bcdefg\")"};
        Limits shallow;
        shallow.depth = 2;
        QTest::newRow("nested at the limit") << shallow << QByteArray("* X ((a))\r\nA OK [B (c)] d\r\n")
                                             << QStringList{"* X ((a))", "A OK [B (c)] |d"};
        QTest::newRow("nested too deep") << shallow << QByteArray("* X (((a)))\r\n") << QStringList{"problem 4 "};
        QTest::newRow("code counts as a level") << shallow << QByteArray("A OK [B ((c))] d\r\n")
                                                << QStringList{"problem 4 "};
        Limits few;
        few.values = 4;
        QTest::newRow("values at the limit") << few << QByteArray("* SEARCH 1 2 (3)\r\n")
                                             << QStringList{"* SEARCH 1 2 (3)"};
        QTest::newRow("too many values") << few << QByteArray("* SEARCH 1 2 3 4 5\r\n") << QStringList{"problem 5 "};
        QTest::newRow("too many values: a string") << few << QByteArray("* X (1 \"2\") \"3\" \"4\"\r\n")
                                                  << QStringList{"problem 5 "};
        QTest::newRow("too many values: a list") << few << QByteArray("* X 1 2 (3) ()\r\n") << QStringList{"problem 5 "};

        // Passed over: one data response past a limit, framed to its end by its literals (lines
        // inside them included), whatever byte went past; the next responses read as usual.
        Limits skipping;
        skipping.depth = 2;
        skipping.lineBytes = 24;
        skipping.responseBytes = 60;
        skipping.values = 8;
        skipping.skipBytes = 120;
        const QByteArray next = "* 2 FETCH (UID 2)\r\n";
        const QByteArray inner = literal("x)\r\n* 9 FETCH (UID 9)\r\n");
        const std::tuple<const char *, QByteArray, Problem> passedOver[] = {
            {"too deep", "* 1 FETCH (B (((\"{3}\" " + inner + "))))\r\n", Problem::TooDeep},
            {"endless line", "* 1 FETCH (A " + QByteArray(20, 'B') + " " + inner + ")\r\n", Problem::EndlessLine},
            {"past the cap in a literal", "* 1 FETCH (A " + literal(QByteArray(50, '\n')) + ")\r\n", Problem::TooLong},
            {"literal announcing more than the cap", "* 1 FETCH (A {70+}\r\n" + QByteArray(70, ')') + ")\r\n", Problem::TooLong},
            {"too many values", "* 1 FETCH (A " + inner + " 1 2 3 4 5 6 7 8)\r\n", Problem::TooMany},
        };
        for (const auto &[name, response, problem] : passedOver)
            QTest::newRow(QByteArray("passed over: ") + name)
                << skipping << "* 1 EXISTS\r\n" + response + next
                << QStringList{"* 1 EXISTS", QStringLiteral("* 1 FETCH <skipped %1>").arg(int(problem)), "* 2 FETCH (UID 2)"};
        QTest::newRow("passed over at most skipBytes")
            << skipping << "* 1 FETCH (A " + literal(QByteArray(100, 'x')) + ")\r\n" + next << QStringList{"problem 3 "};
        QTest::newRow("status responses are not passed over")
            << skipping << QByteArray("A1 OK [B ((c))] d\r\n") + next << QStringList{"problem 4 "};
    }
    void chunking()
    {
        QFETCH(Limits, limits);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        QCOMPARE(run(limits, bytes, {}), expected);
        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < bytes.size(); ++i)
            everyByte << i;
        QCOMPARE(run(limits, bytes, everyByte), expected);
        for (int trial = 0; trial < 20; ++trial) {
            QList<qsizetype> cuts;
            for (qsizetype i = 1; i < bytes.size(); ++i)
                if (QRandomGenerator::global()->bounded(4) == 0)
                    cuts << i;
            QCOMPARE(run(limits, bytes, cuts), expected);
        }
    }

    // What the client reads out of a response, after the parser is gone.
    void values()
    {
        const QList<ImapResponse> rs = parse(
            "* 3 FETCH (UID 9 RFC822.SIZE 4294967296 BODY[HEADER.FIELDS (FROM)] {9}\r\nFrom: a\r\n BODYSTRUCTURE "
            "((\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 12 1)(\"APPLICATION\" \"PDF\" NIL NIL NIL \"BASE64\" 400 NIL "
            "(\"ATTACHMENT\" (\"FILENAME\" \"a.pdf\")) NIL) \"MIXED\"))\r\nA1 OK [COPYUID 38505 304 3956] Done\r\n");
        QCOMPARE(rs.size(), 2);
        const ImapResponse &fetch = rs[0];
        QVERIFY(fetch.is("fetch"));
        QCOMPARE(fetch.number().value_or(0), 3u);
        QCOMPARE(fetch.fetchItem("uid").toNumber().value_or(0), 9u);
        QVERIFY(fetch.fetchItem("RFC822.SIZE").isAtom());
        QVERIFY(!fetch.fetchItem("RFC822.SIZE").toNumber()); // past 32 bits
        QCOMPARE(fetch.fetchItem("body[header.fields (from)]").toByteArray(), QByteArray("From: a\r\n"));
        QVERIFY(!fetch.fetchItem("FLAGS").isValid());
        const ImapValue structure = fetch.fetchItem("BODYSTRUCTURE");
        QCOMPARE(structure.count(), qsizetype(3));
        QVERIFY(structure.at(0).at(2).isNil());
        QCOMPARE(structure.at(1).at(8).at(1).find("filename").toByteArray(), QByteArray("a.pdf"));
        QCOMPARE(structure.at(2).toByteArray(), QByteArray("MIXED"));
        QVERIFY(!structure.at(3).isValid());

        const ImapResponse &done = rs[1];
        QCOMPARE(done.kind(), ImapResponse::Kind::Tagged);
        QCOMPARE(done.tag().toByteArray(), QByteArray("A1"));
        QCOMPARE(done.status(), ImapResponse::Status::Ok);
        QVERIFY(done.code().at(0).is("CopyUid"));
        QCOMPARE(done.code().at(3).toNumber().value_or(0), 3956u);
        QCOMPARE(done.text().toByteArray(), QByteArray("Done"));
        QCOMPARE(done.values().count(), qsizetype(0));
    }

    // The client raises the cap for a whole-message fetch and lowers it after; the cap applies
    // to the response in progress from the next byte.
    void capFollowsTheCommand()
    {
        const QByteArray message = "* 1 FETCH (BODY[] " + literal(QByteArray(200, 'm')) + ")\r\n";
        ImapResponseParser parser;
        parser.setResponseCap(100);
        parser.feed(QByteArrayView(message).first(10));
        parser.setResponseCap(message.size());
        parser.feed(QByteArrayView(message).sliced(10));
        ImapResponse r;
        QVERIFY(parser.next(r));
        parser.setResponseCap(100);
        parser.feed(message);
        QVERIFY(!parser.next(r));
        QCOMPARE(parser.problem(), Problem::TooLong);
    }

    void astring_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("nonSynchronizing");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("atom") << QByteArray("bob@example.net") << false << QByteArray("bob@example.net");
        QTest::newRow("brackets") << QByteArray("a]b[") << false << QByteArray("\"a]b[\"");
        QTest::newRow("empty") << QByteArray() << false << QByteArray("\"\"");
        QTest::newRow("space and wildcard") << QByteArray("mot de passe*") << false << QByteArray("\"mot de passe*\"");
        QTest::newRow("quote") << QByteArray("a\"b") << false << QByteArray("{3}\r\na\"b");
        QTest::newRow("backslash") << QByteArray("a\\b") << true << QByteArray("{3+}\r\na\\b");
        QTest::newRow("8-bit") << QByteArray("été") << false << QByteArray("{5}\r\nété");
        QTest::newRow("line end") << QByteArray("a\r\nb") << false << QByteArray("{4}\r\na\r\nb");
    }
    void astring()
    {
        QFETCH(QByteArray, value);
        QFETCH(bool, nonSynchronizing);
        QFETCH(QByteArray, encoded);
        QCOMPARE(ImapResponseParser::astring(value, nonSynchronizing), encoded);
        // What a server reads back is the value.
        const QList<ImapResponse> rs = parse("* X " + encoded + "\r\n");
        QCOMPARE(rs.size(), 1);
        QCOMPARE(rs[0].values().at(0).toByteArray(), value);
    }

    void mailboxName_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ASCII") << QByteArray("Junk") << QStringLiteral("Junk");
        QTest::newRow("accent") << QByteArray("Ind&AOk-sirables") << QStringLiteral("Indésirables");
        QTest::newRow("ampersand") << QByteArray("R&-D") << QStringLiteral("R&D");
        QTest::newRow("beyond 16 bits") << QByteArray("&2D3eAA- &ZeVnLA-") << QStringLiteral("😀 日本");
        QTest::newRow("no end") << QByteArray("Ind&AOk") << QStringLiteral("Ind&AOk");
        QTest::newRow("bits left over") << QByteArray("&AOl-") << QStringLiteral("&AOl-");
        QTest::newRow("half a pair") << QByteArray("&2D0-") << QStringLiteral("&2D0-");
        QTest::newRow("UTF-8") << QByteArray("Indésirables") << QStringLiteral("Indésirables");
    }
    void mailboxName()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);
        QCOMPARE(ImapResponseParser::mailboxName(name), shown);
    }
};

QTEST_GUILESS_MAIN(ImapResponseParserTest)
#include "test_imapresponseparser.moc"
