// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <thread>

#include "core/Ansi.h"
#include "core/BlacklistFile.h"
#include "mailbox/MessageList.h"
#include "mailbox/SpamMarking.h"
#include "support/FeedingFifo.h"
#include "support/LearningMail.h"
#include "support/TestFiles.h"

namespace {
// senders[i] is row i+1; a sender starting with '*' is a row already marked.
void fill(MessageList &list, const QStringList &senders)
{
    list.setRows(int(senders.size()) + 1);
    list.clearDataRows();
    for (int i = 0; i < senders.size(); ++i) {
        QString s = senders[i];
        if (s.startsWith(u'*')) {
            list.setCell(i + 1, MessageList::Mark, QStringLiteral("1"));
            s.remove(0, 1);
        }
        list.setCell(i + 1, MessageList::From, s);
    }
}

QString marks(const MessageList &list)
{
    QString out;
    for (int r = 1; r < list.rows(); ++r)
        out += list.isMarked(r) ? u'1' : u'.';
    return out;
}

// Who ticked each row: b the blacklist, s the score, u the user ('x' unticked by the user), . nobody.
QString who(const MessageList &list)
{
    QString out;
    for (int r = 1; r < list.rows(); ++r) {
        switch (list.tickedBy(r)) {
        case MessageList::TickedBy::Blacklist: out += u'b'; break;
        case MessageList::TickedBy::Score: out += u's'; break;
        case MessageList::TickedBy::User: out += list.isMarked(r) ? u'u' : u'x'; break;
        default: out += list.isMarked(r) ? u'?' : u'.';
        }
    }
    return out;
}

// Senders as fill() takes them, their rows scored from kinds: 's' a spam header, 'h' a legitimate one.
void fillScored(MessageList &list, const QStringList &senders, const QString &kinds)
{
    fill(list, senders);
    QList<QByteArray> headers;
    for (int i = 0; i < kinds.size(); ++i)
        headers << (kinds[i] == u's' ? learningmail::spam(200 + i) : learningmail::ham(200 + i));
    static const learning::SpamScorer scorer = learningmail::trainedScorer();
    learningmail::scoreRows(list, scorer, headers);
}

const QStringList kSenders{QStringLiteral("ann@spam.example"), QStringLiteral("bob@spam.example"),
                           QStringLiteral("promo@offres.example"), QStringLiteral("marie@atelier.example")};

bool sep(char b) { return b == '\t' || b == '\r' || b == '\n'; }

// The pass read the slow way, one byte after another, every token against every row.
void referencePass(QByteArray &bytes, std::vector<QString> &from, std::vector<QString> &mark,
                   const QString &lastHeaderDate)
{
    const QByteArray date = ansi::fromUnicode(lastHeaderDate);
    QByteArray token;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char b = bytes[i];
        if (!sep(b)) {
            token.append(b);
            continue;
        }
        const QString text = ansi::toUnicode(token);
        bool caught = false;
        for (std::size_t r = 0; r < from.size(); ++r) {
            if (mark[r].isEmpty() && !text.isEmpty() && from[r].contains(text)) {
                mark[r] = QStringLiteral("1");
                caught = true;
            }
        }
        bool wellFormed = b == '\t' && i + 12 < bytes.size() && bytes[i + 11] == '\r' && bytes[i + 12] == '\n';
        for (qsizetype j = i + 1; wellFormed && j <= i + 10; ++j)
            wellFormed = !sep(bytes[j]);
        if (caught && wellFormed) {
            if (date.size() == 10)
                bytes.replace(i + 1, 10, date);
            i += 10;
        }
        token.clear();
    }
}
} // namespace

class SpamMarkingTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_path;
    MessageList m_list;

    QByteArray passOn(const QByteArray &file, const QStringList &senders, const QString &date)
    {
        writeBytes(m_path, file);
        fill(m_list, senders);
        blacklistPass(m_path, m_list, date);
        return readBytes(m_path);
    }

private slots:
    void init()
    {
        m_path = m_dir.filePath(QStringLiteral("Liste-noire.txt"));
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner);
        QFile::remove(m_path);
        QFile::remove(m_dir.filePath(QStringLiteral("Liste-amis.txt")));
        QDir(m_dir.filePath(QStringLiteral("Liste-amis.txt"))).removeRecursively();
    }

    void marksAndDatesInFileOrder()
    {
        const QByteArray file("@spam.example\t00/00/0000\r\n"   // catches rows 1 and 2
                              "bob@\t05/05/2005\r\n"            // only row 2, already caught
                              "@spam.net\t00/00/0000\r\n"       // row 4 differs in case
                              "\t00/00/0000\r\n"                // empty pattern
                              "Soci\xE9t\xE9\t00/00/0000\r\n"); // Windows-1252 pattern
        const QStringList senders{QStringLiteral("ann@spam.example"), QStringLiteral("bob@spam.example"),
                                  QStringLiteral("carol@example.org"), QStringLiteral("dave@SPAM.net"),
                                  QString::fromUtf8("info@Société.fr")};
        QByteArray expected = file;
        expected.replace(14, 10, "21/06/2024");
        expected.replace(expected.indexOf("\xE9\t") + 2, 10, "21/06/2024");
        QCOMPARE(passOn(file, senders, QStringLiteral("21/06/2024")), expected);
        QCOMPARE(marks(m_list), QStringLiteral("11..1"));

        // The same rows again, one of them unmarked by the user: only the entry that catches it
        // again has its date moved.
        m_list.setCell(1, MessageList::Mark, QString());
        m_list.setCell(3, MessageList::Mark, QStringLiteral("1")); // the user's own mark stays
        blacklistPass(m_path, m_list, QStringLiteral("22/06/2024"));
        expected.replace(14, 10, "22/06/2024");
        QCOMPARE(readBytes(m_path), expected);
        QCOMPARE(marks(m_list), QStringLiteral("111.1"));
    }

    // A byte order mark left by another editor: the first entry still catches, and is dated in place.
    void byteOrderMarkBeforeTheFirstEntry()
    {
        const QByteArray file("\xEF\xBB\xBF" "first@spam\t00/00/0000\r\n");
        QCOMPARE(passOn(file, {QStringLiteral("first@spam.example")}, QStringLiteral("01/01/2024")),
                 QByteArray("\xEF\xBB\xBF" "first@spam\t01/01/2024\r\n"));
        QCOMPARE(marks(m_list), QStringLiteral("1"));
    }

    void markedRowsAreNotTested()
    {
        const QByteArray file("spam\t00/00/0000\r\n");
        QCOMPARE(passOn(file, {QStringLiteral("*spam@x"), QStringLiteral("ok@x")}, QStringLiteral("01/01/2024")), file);
        QCOMPARE(marks(m_list), QStringLiteral("1."));
    }

    void dateFieldsAsPatterns()
    {
        // An entry that catches nothing has its date read as a pattern of its own (ended by
        // CR); a date behind a catching entry is skipped, so a sender holding that date is
        // caught by a later entry, which then records it.
        const QByteArray file("nothing\t00/00/0000\r\n"
                              "a@b\t15/03/2024\r\n"
                              "15/03\t00/00/0000\r\n");
        const QStringList senders{QStringLiteral("x00/00/0000@y"), QStringLiteral("a@b"),
                                  QStringLiteral("15/03/2024@z")};
        QByteArray expected = file;
        expected.replace(file.indexOf("a@b") + 4, 10, "30/04/2024");
        expected.replace(file.indexOf("15/03\t") + 6, 10, "30/04/2024");
        QCOMPARE(passOn(file, senders, QStringLiteral("30/04/2024")), expected);
        QCOMPARE(marks(m_list), QStringLiteral("111"));
    }

    void noDateWithoutHeaderDateOrWellFormedEntry()
    {
        const QStringList senders{QStringLiteral("one@spam"), QStringLiteral("two@junk"),
                                  QStringLiteral("three@trash"), QStringLiteral("four@waste"),
                                  QStringLiteral("five@end")};
        const QByteArray file("@spam\t00/00/0000\r\n"
                              "@junk\r\n"                     // no TAB
                              "@trash\t1/1/2020\r\n"          // short date
                              "@waste\t00/00\t0000\r\n"       // TAB inside the 10 bytes
                              "@end\t00/00/0000");            // no CR LF at the end of the file
        // Empty last header date: every row marked, not a byte changed.
        QCOMPARE(passOn(file, senders, QString()), file);
        QCOMPARE(marks(m_list), QStringLiteral("11111"));
        // With a date, only the well-formed entry gets it.
        QByteArray expected = file;
        expected.replace(6, 10, "09/09/2024");
        QCOMPARE(passOn(file, senders, QStringLiteral("09/09/2024")), expected);
        QCOMPARE(marks(m_list), QStringLiteral("11111"));
        // Not a 10-byte date: nothing written either.
        QCOMPARE(passOn(file, senders, QStringLiteral("9/9/2024")), file);
        // A last token that no separator ends is not tested.
        QCOMPARE(passOn("@never", {QStringLiteral("six@never")}, QStringLiteral("09/09/2024")), QByteArray("@never"));
        QCOMPARE(marks(m_list), QStringLiteral("."));
    }

    void nulBytesDoNotStopThePass()
    {
        const QByteArray file = QByteArray("a\0b\t00/00/0000\r\n@spam\t", 22) + QByteArray(10, '\0')
                                + "\r\n@junk\t00/00/0000\r\n";
        QCOMPARE(file.size(), 52);
        QByteArray expected = file;
        expected.replace(22, 10, "01/02/2024"); // the NUL date is mended
        expected.replace(40, 10, "01/02/2024");
        QCOMPARE(passOn(file, {QStringLiteral("x@spam"), QStringLiteral("y@junk")}, QStringLiteral("01/02/2024")), expected);
        QCOMPARE(marks(m_list), QStringLiteral("11"));
    }

    void missingOrReadOnlyFileMarksNothing()
    {
        fill(m_list, {QStringLiteral("x@spam")});
        blacklistPass(m_path, m_list, QStringLiteral("01/01/2024"));
        QCOMPARE(marks(m_list), QStringLiteral("."));
        QVERIFY(!QFile::exists(m_path));

        const QByteArray file("@spam\t00/00/0000\r\n");
        writeBytes(m_path, file);
        QVERIFY(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        blacklistPass(m_path, m_list, QStringLiteral("01/01/2024"));
        QCOMPARE(marks(m_list), QStringLiteral("."));
        QCOMPARE(readBytes(m_path), file);
    }

    // A FIFO in place of the blacklist, or a file beyond the size cap, counts as one that
    // cannot be opened: nothing is marked, nothing written.
    void specialOrOversizedFileMarksNothing()
    {
        const QByteArray entry("@spam\t00/00/0000\r\n");
        {
            const FeedingFifo fifo(m_path, entry);
            QVERIFY(fifo.made());
            // Opened for writing too, a FIFO never ends: a pass that reads it would wait for
            // good, so it runs aside and the test fails rather than hangs.
            auto list = std::make_shared<MessageList>();
            fill(*list, {QStringLiteral("x@spam")});
            auto done = std::make_shared<std::atomic<bool>>(false);
            std::thread([list, done, path = m_path] {
                blacklistPass(path, *list, QStringLiteral("01/01/2024"));
                *done = true;
            }).detach();
            QTRY_VERIFY_WITH_TIMEOUT(*done, 10000);
            QCOMPARE(marks(*list), QStringLiteral("."));
        }
        // At the cap the file is read (and dated); one byte more and it is left alone.
        for (const qint64 size : {blacklist::kMaxFileSize, blacklist::kMaxFileSize + 1}) {
            writeBytes(m_path, entry);
            QVERIFY(QFile::resize(m_path, size));
            fill(m_list, {QStringLiteral("x@spam")});
            blacklistPass(m_path, m_list, QStringLiteral("01/01/2024"));
            const bool read = size == blacklist::kMaxFileSize;
            QCOMPARE(marks(m_list), read ? QStringLiteral("1") : QStringLiteral("."));
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.read(entry.size()), read ? QByteArray("@spam\t01/01/2024\r\n") : entry);
            QCOMPARE(f.size(), size);
        }
    }

    // Friends first, then the blacklist, then the score's suggestions: a friend's row is never
    // ticked, nor dated in the blacklist; the user's own tick stays.
    void friendsBlacklistAndScore_data()
    {
        QTest::addColumn<QStringList>("senders");
        QTest::addColumn<QByteArray>("friends"); // "-": none, "folder": one in the way
        QTest::addColumn<bool>("suggestions");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("dated");
        QTest::newRow("blacklist, then the score") << kSenders << QByteArray("-") << true << "bbs." << true;
        QTest::newRow("suggestions off") << kSenders << QByteArray("-") << false << "bb.." << true;
        QTest::newRow("friends are never ticked")
            << kSenders << QByteArray("ann@\t00/00/0000\r\npromo@offres\t00/00/0000\r\n") << true << ".b.." << true;
        QTest::newRow("a friend's date is no pattern") << kSenders << QByteArray("nobody\tspam.examp\r\n") << true
                                                       << "bbs." << true;
        QTest::newRow("all the blacklist's rows friends") << kSenders << QByteArray("@spam.example\t00/00/0000\r\n")
                                                          << true << "..s." << false;
        QStringList ticked = kSenders;
        ticked[3].prepend(u'*');
        QTest::newRow("the user's tick") << ticked << QByteArray("-") << true << "bbsu" << true;
        QTest::newRow("friends list unreadable") << kSenders << QByteArray("folder") << true << "...." << false;
    }
    void friendsBlacklistAndScore()
    {
        QFETCH(QStringList, senders);
        QFETCH(QByteArray, friends);
        QFETCH(bool, suggestions);
        QFETCH(QString, expected);
        QFETCH(bool, dated);
        const QByteArray blacklist("@spam.example\t00/00/0000\r\n");
        writeBytes(m_path, blacklist);
        const QString friendsPath = m_dir.filePath(QStringLiteral("Liste-amis.txt"));
        if (friends == "folder")
            QVERIFY(QDir().mkdir(friendsPath));
        else if (friends != "-")
            writeBytes(friendsPath, friends);
        fillScored(m_list, senders, QStringLiteral("shsh"));
        const MarkingOutcome outcome =
            markingPasses(m_list, {m_path, friendsPath}, QStringLiteral("03/03/2025"), BlacklistDates::Write, suggestions);
        QCOMPARE(who(m_list), expected);
        QCOMPARE(outcome.friendsRead, friends != "folder");
        QVERIFY(outcome.blacklistRead);
        QCOMPARE(readBytes(m_path), dated ? QByteArray("@spam.example\t03/03/2025\r\n") : blacklist);
        if (friends != "-" && friends != "folder")
            QCOMPARE(readBytes(friendsPath), friends);
        QCOMPARE(m_list.suggestionCount(), int(expected.count(u's')));
    }

    // Marks from the list itself: a sender put in a list is marked at once on all its rows,
    // whatever the user did to them; the user's other rows stay as he left them; switching
    // the suggestions off unticks them.
    void remarkFromTheList()
    {
        const QString friendsPath = m_dir.filePath(QStringLiteral("Liste-amis.txt"));
        const QByteArray blacklist("@spam.example\t00/00/0000\r\n");
        writeBytes(m_path, blacklist);
        const SenderLists lists{m_path, friendsPath};
        QStringList senders = kSenders;
        senders << QStringLiteral("promo@offres.example") << QStringLiteral("z@autre.example") << QString();
        fillScored(m_list, senders, QStringLiteral("shshsss"));
        markingPasses(m_list, lists, QString(), BlacklistDates::Leave, true);
        QCOMPARE(who(m_list), QStringLiteral("bbs.sss"));
        m_list.setCell(3, MessageList::Mark, QString());
        m_list.setCell(5, MessageList::Mark, QString());
        m_list.setCell(4, MessageList::Mark, QStringLiteral("1"));
        QCOMPARE(who(m_list), QStringLiteral("bbxuxss"));

        QVERIFY(addSenderToList(m_list, 3, blacklist::SenderList::Blacklist, lists, true));
        QCOMPARE(who(m_list), QStringLiteral("bbbubss"));
        QCOMPARE(readBytes(m_path), blacklist + "promo@offres.example\t00/00/0000\r\n");
        QVERIFY(addSenderToList(m_list, 2, blacklist::SenderList::Friends, lists, true));
        QCOMPARE(who(m_list), QStringLiteral("b.bubss"));
        QCOMPARE(readBytes(friendsPath), QByteArray("bob@spam.example\t00/00/0000\r\n"));
        QString why;
        QVERIFY(!addSenderToList(m_list, 7, blacklist::SenderList::Blacklist, lists, true, &why));
        QVERIFY(why.contains(QStringLiteral("ne peut pas être ajouté à la liste noire")));
        QCOMPARE(who(m_list), QStringLiteral("b.bubss"));

        remark(m_list, lists, false);
        QCOMPARE(who(m_list), QStringLiteral("b.bub.."));
        remark(m_list, lists, true);
        QCOMPARE(who(m_list), QStringLiteral("b.bubss"));
        QCOMPARE(readBytes(m_path), blacklist + "promo@offres.example\t00/00/0000\r\n"); // no date written
    }

    // The fast pass against the byte-by-byte reading on random files and senders drawn from
    // a small alphabet, so that patterns, dates and separators collide often.
    void agreesWithPlainReading()
    {
        QRandomGenerator rng(20240621);
        const char alphabet[] = {'a', 'b', 'c', '/', '0', '1', '\xE9', '\0'};
        auto word = [&](int maxLength) {
            QByteArray w;
            for (int n = int(rng.bounded(maxLength + 1)); n > 0; --n)
                w.append(alphabet[rng.bounded(int(sizeof alphabet))]);
            return w;
        };
        for (int round = 0; round < 3000; ++round) {
            QByteArray file;
            for (int e = int(rng.bounded(12)); e > 0; --e) {
                switch (rng.bounded(6)) {
                case 0: file += word(3) + '\t' + "00/00/0000\r\n"; break;
                case 1: file += word(4) + '\t' + word(12) + "\r\n"; break;
                case 2: file += word(3) + '\t' + QByteArray(10, 'a' + char(rng.bounded(3))) + "\r\n"; break;
                case 3: file += word(3) + "\r\n"; break;
                case 4: file += word(5) + char("\t\r\n"[rng.bounded(3)]); break;
                default: file += word(2) + "\t01/01/2001\r\n"; break;
                }
            }
            if (rng.bounded(4) == 0)
                file += word(3); // unended last token

            QStringList senders;
            std::vector<QString> from, mark;
            for (int r = int(rng.bounded(8)) + 1; r > 0; --r) {
                const bool marked = rng.bounded(5) == 0;
                // Senders repeat, as in a real mailbox.
                const QString s = !from.empty() && rng.bounded(3) == 0 ? from[rng.bounded(int(from.size()))]
                                                                       : ansi::toUnicode(word(12));
                senders << (marked ? u'*' + s : s);
                from.push_back(s);
                mark.push_back(marked ? QStringLiteral("1") : QString());
            }
            const QString date = rng.bounded(4) == 0 ? QString() : QStringLiteral("aa/bb/cccc");

            QByteArray expected = file;
            referencePass(expected, from, mark, date);
            const QByteArray got = passOn(file, senders, date);
            QString expectedMarks;
            for (const QString &m : mark)
                expectedMarks += m.isEmpty() ? u'.' : u'1';
            if (got != expected || marks(m_list) != expectedMarks) {
                qWarning() << "file" << file << "senders" << senders << "date" << date;
                QCOMPARE(got, expected);
                QCOMPARE(marks(m_list), expectedMarks);
            }
        }
    }
};

QTEST_GUILESS_MAIN(SpamMarkingTest)
#include "test_spammarking.moc"
