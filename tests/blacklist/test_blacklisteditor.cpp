// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

#include "core/BlacklistFile.h"
#include "support/FeedingFifo.h"
#include "support/RecordingPrompter.h"
#include "support/TestFiles.h"
#include "support/WindowFixture.h"
#include "window/PelicordeFP.h"
#include "window/PelicordeFS1.h"

#include <csignal>
#include <sys/resource.h>

// The blacklist editor through the real windows: BitBtn7 of the main window opens it, its
// BitBtn1 saves and hides, its BitBtn2 hides without saving.
class BlacklistEditorTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> m_w;
    TForm1 *m_form = nullptr;
    RecordingPrompter m_prompter;

    QString blacklistPath() const { return m_form->dataFolder + QStringLiteral("/Liste-noire.txt"); }

    void write(const QByteArray &bytes) const
    {
        QFile f(blacklistPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
    }

    QByteArray read() const
    {
        QFile f(blacklistPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    void open()
    {
        QTest::mouseClick(m_form->BitBtn7, Qt::LeftButton);
        QVERIFY(Form2->isVisible());
    }

private slots:
    void init()
    {
        m_w = std::make_unique<WindowFixture>();
        QVERIFY(m_w->prepareFolders());
        m_prompter.reset();
        QVERIFY(m_w->create());
        m_form = m_w->form.get();
        Form2 = new TForm2;
    }

    void cleanup()
    {
        delete Form2;
        Form2 = nullptr;
        m_form = nullptr;
        m_w.reset();
    }

    // Loaded through the real memo and saved back unchanged: the same bytes, dates written by
    // scans, accents, non-breaking spaces and empty patterns included.
    void openShowsTheFileAndSavesItBackByteForByte()
    {
        const QByteArray file = QByteArray("spam.example\t00/00/0000\r\n"
                                           "pr\xE9nom\xA0nom@x.fr\t12/03/2024\r\n"
                                           "\t00/00/0000\r\n"
                                           "propre\ttexte libre\r\n");
        write(file);
        QVERIFY(Form2->isHidden());
        open();
        QCOMPARE(Form2->Memo1->toPlainText().section(QLatin1Char('\n'), 1, 1).left(6), QStringLiteral("prénom"));
        QCOMPARE(Form2->Memo1->document()->blockCount(), 5); // four lines and the empty one after the last break
        QTest::mouseClick(Form2->BitBtn1, Qt::LeftButton);
        QVERIFY(Form2->isHidden());
        QCOMPARE(read(), file);
        QCOMPARE(m_prompter.beeps, 0);

        // Typed lines without a TAB get the placeholder date; a final line break adds no entry.
        open();
        Form2->Memo1->selectAll();
        Form2->Memo1->setFocus();
        QTest::keyClicks(Form2->Memo1, QStringLiteral("pub.fr"));
        QTest::keyClick(Form2->Memo1, Qt::Key_Return);
        QTest::keyClick(Form2->Memo1, Qt::Key_Return);
        QTest::keyClicks(Form2->Memo1, QStringLiteral("spam"));
        QTest::keyClick(Form2->Memo1, Qt::Key_Tab, Qt::ControlModifier);
        QTest::keyClicks(Form2->Memo1, QStringLiteral("01/02/2023"));
        QTest::keyClick(Form2->Memo1, Qt::Key_Return);
        QTest::mouseClick(Form2->BitBtn1, Qt::LeftButton);
        QVERIFY(Form2->isHidden());
        QCOMPARE(read(), QByteArray("pub.fr\t00/00/0000\r\n\t00/00/0000\r\nspam\t01/02/2023\r\n"));

        // Opening again reloads the file, discarding unsaved text.
        Form2->Memo1->setPlainText(QStringLiteral("non sauvegardé"));
        open();
        QCOMPARE(Form2->Memo1->toPlainText(),
                 QStringLiteral("pub.fr\t00/00/0000\n\t00/00/0000\nspam\t01/02/2023\n"));
    }

    // No file: the editor opens with the text it held, beeps, and saving creates the file.
    // BitBtn9 opens the friends list in the same editor, saved the same way beside the blacklist;
    // BitBtn7 then opens the blacklist again.
    void friendsListInTheSameEditor()
    {
        write("spam.example\t00/00/0000\r\n");
        const QString friendsPath = m_form->dataFolder + QStringLiteral("/Liste-amis.txt");
        QTest::mouseClick(m_form->BitBtn9, Qt::LeftButton);
        QVERIFY(Form2->isVisible());
        QCOMPARE(Form2->windowTitle(), QStringLiteral("Pelicorde : Liste des amis"));
        Form2->Memo1->setFocus();
        QTest::keyClicks(Form2->Memo1, QStringLiteral("ami@example.org"));
        QTest::keyClick(Form2->Memo1, Qt::Key_Return);
        QTest::mouseClick(Form2->BitBtn1, Qt::LeftButton);
        QFile f(friendsPath);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("ami@example.org\t00/00/0000\r\n")); // the same format
        QCOMPARE(f.permissions() & 0x0077, QFileDevice::Permissions());
        QCOMPARE(read(), QByteArray("spam.example\t00/00/0000\r\n"));
        open();
        QCOMPARE(Form2->windowTitle(), QStringLiteral("Pelicorde : Liste noire"));
        QVERIFY(Form2->Memo1->toPlainText().startsWith(QStringLiteral("spam.example")));
    }

    void missingFileBeepsAndKeepsTheText()
    {
        Form2->Memo1->setPlainText(QStringLiteral("précédent"));
        open();
        QCOMPARE(m_prompter.beeps, 1);
        QCOMPARE(Form2->Memo1->toPlainText(), QStringLiteral("précédent"));
        QTest::mouseClick(Form2->BitBtn1, Qt::LeftButton);
        QCOMPARE(read(), QByteArray("pr\xE9""c\xE9""dent\t00/00/0000\r\n"));
        QCOMPARE(m_prompter.beeps, 1);
    }

    // A blacklist the editor cannot show whole (a FIFO, a link, an oversized file) is never
    // saved over: the editor says why, shows nothing, takes no typing and cannot save. A file
    // that loads again makes it editable again.
    void unreadableFileIsNeverSavedOver()
    {
        const QString reason = QStringLiteral("La liste noire %1 n'a pas pu être lue : %2.\nElle ne peut pas être "
                                              "modifiée ici, et rien n'y sera écrit.");
        const QString notAFile =
            QStringLiteral("ce n'est pas un fichier ordinaire mais un lien, un périphérique, un tube ou un dossier");
        const auto refused = [&](const QString &cause) {
            QCOMPARE(m_prompter.infos.value(m_prompter.infos.size() - 1), reason.arg(blacklistPath(), cause));
            QVERIFY(Form2->Memo1->toPlainText().isEmpty());
            QVERIFY(Form2->Memo1->isReadOnly());
            QVERIFY(!Form2->BitBtn1->isEnabled());
            Form2->BitBtn1Click(); // even if it were pressed
        };
        Form2->Memo1->setPlainText(QStringLiteral("précédent"));
        {
            const FeedingFifo fifo(blacklistPath(), "fifo\t00/00/0000\r\n");
            QVERIFY(fifo.made());
            open();
            refused(notAFile);
        }
        const QString outside = m_w->path(QStringLiteral("ailleurs.txt"));
        writeBytes(outside, "a\t00/00/0000\r\n");
        QVERIFY(QFile::link(outside, blacklistPath()));
        open();
        refused(notAFile);
        QCOMPARE(readBytes(outside), QByteArray("a\t00/00/0000\r\n"));
        QVERIFY(QFile::remove(blacklistPath()));

        QByteArray many;
        for (int i = 0; i < 45001; ++i)
            many += "expediteur" + QByteArray::number(i) + "@spam.example\t00/00/0000\r\n";
        write(many);
        open();
        refused(QStringLiteral("elle dépasse 1 Mo"));
        QCOMPARE(read(), many);
        QCOMPARE(m_prompter.beeps, 0);

        write("a\t00/00/0000\r\n");
        open();
        QVERIFY(!Form2->Memo1->isReadOnly());
        QVERIFY(Form2->BitBtn1->isEnabled());
        QCOMPARE(Form2->Memo1->toPlainText(), QStringLiteral("a\t00/00/0000\n"));
    }

    // A "\u2400" the user types is written as the code page's '?'; the NULs the file showed
    // that way stay NULs on the lines left as loaded.
    void typedNulSymbolIsNoNulByte()
    {
        write(QByteArray("a\0b\t00/00/0000\r\nc\0d\t00/00/0000\r\n", 32));
        open();
        QPlainTextEdit *memo = Form2->Memo1;
        memo->setFocus();
        QTest::keyClick(memo, Qt::Key_End, Qt::ControlModifier); // on the empty line after the last break
        const auto typeNulSymbol = [memo] { QTest::sendKeyEvent(QTest::Click, memo, Qt::Key_unknown, QStringLiteral("\u2400"), {}); };
        QTest::keyClicks(memo, QStringLiteral("e"));
        typeNulSymbol();
        QTest::keyClicks(memo, QStringLiteral("f"));
        QTest::keyClick(memo, Qt::Key_Up);
        QTest::keyClick(memo, Qt::Key_End);
        QTest::keyClicks(memo, QStringLiteral("x")); // a loaded line edited: its NUL is the user's now
        QCOMPARE(memo->toPlainText(), QStringLiteral("a\u2400b\t00/00/0000\nc\u2400d\t00/00/0000x\ne\u2400f"));
        QTest::mouseClick(Form2->BitBtn1, Qt::LeftButton);
        QCOMPARE(read(), QByteArray("a\0b\t00/00/0000\r\nc?d\t00/00/0000x\r\ne?f\t00/00/0000\r\n", 49));
        QCOMPARE(m_prompter.beeps, 0);
    }

    void closeWithoutSavingLeavesTheFile()
    {
        write("a\t00/00/0000\r\n");
        open();
        Form2->Memo1->setPlainText(QStringLiteral("b"));
        QTest::mouseClick(Form2->BitBtn2, Qt::LeftButton);
        QVERIFY(Form2->isHidden());
        QCOMPARE(read(), QByteArray("a\t00/00/0000\r\n"));
        QCOMPARE(Form2->Memo1->toPlainText(), QStringLiteral("b"));
        QCOMPARE(m_prompter.beeps, 0);
    }

    // A save that cannot complete beeps, hides the editor and leaves the old file whole.
    void failedSaveBeepsHidesAndKeepsTheOldFile()
    {
        const QByteArray old = "ancien\t00/00/0000\r\n";
        write(old);
        open();
        Form2->Memo1->setPlainText(QString(200, QLatin1Char('x')));

        // The disk fills up in the middle of the write (a file size limit works as root too).
        {
            const FileSizeLimit fullDisk(64);
            QVERIFY(fullDisk.active());
            QTest::mouseClick(Form2->BitBtn1, Qt::LeftButton);
        }
        QCOMPARE(m_prompter.beeps, 1);
        QVERIFY(Form2->isHidden());
        QCOMPARE(read(), old);
        QCOMPARE(QDir(m_form->dataFolder).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Liste-noire.txt")});

        // The data folder has gone: same, and nothing is created.
        open();
        QVERIFY(QDir(m_form->dataFolder).removeRecursively());
        QTest::mouseClick(Form2->BitBtn1, Qt::LeftButton);
        QCOMPARE(m_prompter.beeps, 2);
        QVERIFY(Form2->isHidden());
        QVERIFY(!QFileInfo::exists(m_form->dataFolder));
    }
};

QTEST_MAIN(BlacklistEditorTest)
#include "test_blacklisteditor.moc"
