// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

#include "core/BlacklistFile.h"
#include "core/FriendsFile.h"
#include "core/Options.h"
#include "support/TestFiles.h"

using namespace blacklist;

namespace {
// What the editor window does: show the text in its memo and take it back on save.
QString throughMemo(const QString &text)
{
    QPlainTextEdit memo;
    memo.setPlainText(text);
    return memo.document()->toRawText();
}
} // namespace

class BlacklistFileTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void init() { m_path = filePath(m_dir.path()); QFile::remove(m_path); }

    void wellFormedFileRoundTripsByteForByte()
    {
        // Accents, the euro sign, a non-breaking space, dates written by scans, an entry with
        // an empty pattern, a C1 byte the code page leaves undefined.
        const QByteArray file("@spam.example\t00/00/0000\r\n"
                              "Soci\xE9t\xE9 \x80 promo\xA0x\t14/07/2023\r\n"
                              "\t00/00/0000\r\n"
                              "odd\x81" "byte\t01/01/2024\r\n");
        writeBytes(m_path, file);
        const auto text = loadEditorText(m_path);
        QVERIFY(text);
        QCOMPARE(*text, QString::fromUtf8("@spam.example\t00/00/0000\n"
                                          "Société € promo\u00A0x\t14/07/2023\n"
                                          "\t00/00/0000\n"
                                          "odd\u0081byte\t01/01/2024\n"));
        QVERIFY(saveEditorText(m_path, *text));
        QCOMPARE(readBytes(m_path), file);
        // And through a real memo as the editor shows it.
        QVERIFY(saveEditorText(m_path, throughMemo(*loadEditorText(m_path))));
        QCOMPARE(readBytes(m_path), file);
    }

    void saveAddsPlaceholderAndLineEnds()
    {
        QCOMPARE(bytesFromText(QStringLiteral("spammer")), QByteArray("spammer\t00/00/0000\r\n"));
        // An empty line is an entry with an empty pattern; a final line break adds nothing.
        QCOMPARE(bytesFromText(QStringLiteral("a\n\nb\n")),
                 QByteArray("a\t00/00/0000\r\n\t00/00/0000\r\nb\t00/00/0000\r\n"));
        QCOMPARE(bytesFromText(QStringLiteral("\n")), QByteArray("\t00/00/0000\r\n"));
        QCOMPARE(bytesFromText(QString()), QByteArray());
        // A line typed with a TAB of its own is stored as typed, however short its date.
        QCOMPARE(bytesFromText(QStringLiteral("x\tfoo\r\ny")),
                 QByteArray("x\tfoo\r\ny\t00/00/0000\r\n"));
        // Outside the code page: '?'.
        QCOMPARE(bytesFromText(QString::fromUtf8("a\u4E2D\u2029b")),
                 QByteArray("a?\t00/00/0000\r\nb\t00/00/0000\r\n"));

        QVERIFY(saveEditorText(m_path, QString()));
        QCOMPARE(readBytes(m_path), QByteArray());
        QVERIFY(saveEditorText(m_path, QStringLiteral("only")));
        QCOMPARE(readBytes(m_path), QByteArray("only\t00/00/0000\r\n"));
    }

    void loneLineEndsBecomeEntries()
    {
        writeBytes(m_path, QByteArray("a\nb\rc\t00/00/0000\r\n"));
        const auto text = loadEditorText(m_path);
        QVERIFY(text);
        QCOMPARE(*text, QStringLiteral("a\nb\nc\t00/00/0000\n"));
        QVERIFY(saveEditorText(m_path, throughMemo(*text)));
        QCOMPARE(readBytes(m_path), QByteArray("a\t00/00/0000\r\nb\t00/00/0000\r\nc\t00/00/0000\r\n"));
    }

    void nulByteKeepsLaterEntries()
    {
        // Ten NUL bytes in a date field, and one inside a pattern.
        const QByteArray file = QByteArray("first\t00/00/0000\r\nzero\t") + QByteArray(10, '\0')
                                + QByteArray("\r\na\0b\t00/00/0000\r\n", 18)
                                + "last@spam.example\t02/03/2024\r\n";
        QCOMPARE(file.size(), 81);
        writeBytes(m_path, file);
        const auto text = loadEditorText(m_path);
        QVERIFY(text);
        QVERIFY(text->contains(QStringLiteral("last@spam.example")));
        QCOMPARE(text->count(QChar(kNulSymbol)), 11);
        QVERIFY(!text->contains(QChar(u'\0')));
        QVERIFY(saveEditorText(m_path, throughMemo(*text), *text));
        QCOMPARE(readBytes(m_path), file);
        // Not loaded from the file: every "\u2400" is one the user typed.
        QCOMPARE(bytesFromText(QStringLiteral("a\u2400b\n\u2400")),
                 QByteArray("a?b\t00/00/0000\r\n?\t00/00/0000\r\n"));
    }

    // Another editor's UTF-8 byte order mark: not part of the first entry, not written back.
    void byteOrderMarkLeftOut()
    {
        writeBytes(m_path, "\xEF\xBB\xBF" "first@spam\t00/00/0000\r\n");
        const auto text = loadEditorText(m_path);
        QVERIFY(text);
        QCOMPARE(*text, QStringLiteral("first@spam\t00/00/0000\n"));
        QVERIFY(saveEditorText(m_path, throughMemo(*text)));
        QCOMPARE(readBytes(m_path), QByteArray("first@spam\t00/00/0000\r\n"));
        // A first entry that begins with those very bytes keeps them through a save and a load.
        const QString marked = textFromBytes("\xEF\xBB\xBF" "\xEF\xBB\xBF" "am\t00/00/0000\r\n");
        QCOMPARE(marked, QStringLiteral("\u00EF\u00BB\u00BFam\t00/00/0000\n"));
        QCOMPARE(textFromBytes(bytesFromText(marked, marked)), marked);
    }

    void missingFileLoadsNothing()
    {
        QVERIFY(!loadEditorText(m_path));
        QVERIFY(!loadEditorText(m_dir.path())); // a folder in the way
        QVERIFY(!QFile::exists(m_path));
    }

    // Up to the size cap a blacklist loads; one byte more and it is refused.
    void sizeCap()
    {
        writeBytes(m_path, "cap\t00/00/0000\r\n");
        QVERIFY(QFile::resize(m_path, kMaxFileSize));
        const auto text = loadEditorText(m_path);
        QVERIFY(text);
        QVERIFY(text->startsWith(QStringLiteral("cap\t00/00/0000\n\u2400")));
        QCOMPARE(text->size(), kMaxFileSize - 1);
        QVERIFY(QFile::resize(m_path, kMaxFileSize + 1));
        QVERIFY(!loadEditorText(m_path));
    }

    // A sender put in a list from the message list: the file as the editor saves it with that
    // line typed at the end; nothing written when an entry holds it already or it has no place.
    void addPattern_data()
    {
        QTest::addColumn<QByteArray>("before"); // "-": no file
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("added");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("why");
        const QByteArray two("a@x.example\t14/07/2023\r\n@spam.example\t00/00/0000\r\n");
        QTest::newRow("no file") << QByteArray("-") << QStringLiteral("ann@promo.example") << true
                                 << QByteArray("ann@promo.example\t00/00/0000\r\n") << QString();
        QTest::newRow("at the end") << two << QStringLiteral("Soci\u00e9t\u00e9@x.fr") << true
                                    << two + "Soci\xE9t\xE9@x.fr\t00/00/0000\r\n" << QString();
        QTest::newRow("last line unended, lone LF, byte order mark")
            << QByteArray("\xEF\xBB\xBF" "a\nb\t01/01/2024") << QStringLiteral("c") << true
            << QByteArray("a\t00/00/0000\r\nb\t01/01/2024\r\nc\t00/00/0000\r\n") << QString();
        QTest::newRow("there already") << two << QStringLiteral("@spam.example") << true << two << QString();
        QTest::newRow("part of an entry only") << two << QStringLiteral("spam.example") << true
                                               << two + "spam.example\t00/00/0000\r\n" << QString();
        const QString noPlace = QStringLiteral("« %1 » ne peut pas être ajouté à la liste noire : un motif ne peut être "
                                               "vide ni contenir de tabulation, de saut de ligne ou de caractère hors "
                                               "de Windows-1252.");
        QTest::newRow("empty") << two << QString() << false << two << noPlace.arg(QString());
        QTest::newRow("TAB") << two << QStringLiteral("a\tb") << false << two << noPlace.arg(QStringLiteral("a\tb"));
        QTest::newRow("outside the code page") << two << QStringLiteral("\u4e2d@x.cn") << false << two
                                               << noPlace.arg(QStringLiteral("\u4e2d@x.cn"));
        QTest::newRow("too large") << QByteArray("big") << QStringLiteral("a") << false << QByteArray("big")
                                   << QStringLiteral("La liste d'amis <path> n'a pas pu être lue : elle dépasse 1 Mo.\n"
                                                     "Elle ne peut pas être modifiée ici, et rien n'y sera écrit.");
    }
    void addPattern()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, pattern);
        QFETCH(bool, added);
        QFETCH(QByteArray, after);
        QFETCH(QString, why);
        const bool friendsList = before == "big";
        const QString path = friendsList ? friends::filePath(m_dir.path()) : m_path;
        const auto cleanup = qScopeGuard([&] { QFile::remove(path); });
        QFile::remove(path);
        if (before != "-")
            writeBytes(path, before);
        if (friendsList)
            QVERIFY(QFile::resize(path, kMaxFileSize + 1));
        QString said;
        QCOMPARE(friendsList ? friends::addPattern(path, pattern, &said) : blacklist::addPattern(path, pattern, SenderList::Blacklist, &said),
                 added);
        QCOMPARE(said, QString(why).replace(QLatin1String("<path>"), path));
        if (!friendsList)
            QCOMPARE(readBytes(path), after);
        else
            QCOMPARE(QFileInfo(path).size(), kMaxFileSize + 1);
        if (after != before)
            QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    }

    // The friends list beside the blacklist: no saved attachment takes its name.
    void friendsListIsTheProgramsOwn()
    {
        QCOMPARE(QFileInfo(friends::filePath(m_dir.path())).fileName(), QStringLiteral("Liste-amis.txt"));
        QVERIFY(datafiles::isProgramFile(QStringLiteral("Liste-amis.txt")));
    }

    // The window's options beside the lists: suggestions on unless the file says "=0"; a save
    // keeps the lines it does not know, and is the program's own file.
    void optionsKeepOtherLines()
    {
        const QString path = options::filePath(m_dir.path());
        QVERIFY(datafiles::isProgramFile(QFileInfo(path).fileName()));
        QVERIFY(options::suggestions(m_dir.path()));
        writeBytes(path, "plus-tard=1\n");
        QVERIFY(options::setSuggestions(m_dir.path(), false));
        QCOMPARE(readBytes(path), QByteArray("plus-tard=1\nsuggestions=0\n"));
        QVERIFY(!options::suggestions(m_dir.path()));
        QVERIFY(options::setSuggestions(m_dir.path(), true));
        QCOMPARE(readBytes(path), QByteArray("plus-tard=1\n"));
        QVERIFY(options::suggestions(m_dir.path()));
        QFile::remove(path);
    }

    void failedSaveLeavesOldFileWhole()
    {
        const QByteArray old("keep@me\t11/11/2011\r\nand@me\t00/00/0000\r\n");
        writeBytes(m_path, old);

        // A folder that does not exist.
        QVERIFY(!saveEditorText(m_dir.filePath(QStringLiteral("missing/Liste-noire.txt")),
                                QStringLiteral("x")));

        // A write that fails half way (the file-size limit applies to root too).
        const QString big = QStringLiteral("new.entry@example.org\n").repeated(5000);
        bool saved_ok = true;
        {
            const FileSizeLimit fullDisk(4096);
            QVERIFY(fullDisk.active());
            saved_ok = saveEditorText(m_path, big);
        }

        QVERIFY(!saved_ok);
        QCOMPARE(readBytes(m_path), old);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QString::fromLatin1(kFileName)});
        // Once the cause is gone the same save goes through.
        QVERIFY(saveEditorText(m_path, big));
        QCOMPARE(readBytes(m_path).size(), qsizetype(5000) * 34);
    }
};

QTEST_MAIN(BlacklistFileTest)
#include "test_blacklistfile.moc"
