// SPDX-License-Identifier: GPL-3.0-or-later
// A user's session from start to finish: the real windows on the offscreen platform, a real
// Dovecot holding the demo mailbox, a favourite account and a blacklist in the data folder,
// mouse clicks on the buttons and on the list's cells, and the message boxes answered here.
#include <QtTest>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>

#include "app/Startup.h"
#include "preview/EngineArguments.h"
#include "core/AccountFile.h"
#include "core/Ansi.h"
#include "message/MailMessage.h"
#include "mailbox/MessageList.h"
#include "mailbox/ScanPasses.h"
#include "preview/Preview.h"
#include "support/DemoMailbox.h"
#include "support/DovecotServer.h"
#include "support/RecordingPrompter.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"
#include "window/PelicordeFS1.h"

namespace {

const QString DeletionWarning = QStringLiteral(
    "Attention :\n\nCette suppression des messages sur le serveur est irréversible.\n\nVoulez-vous continuer ?");
const QString Checked = QStringLiteral("Courrier vérifié il y a moins d'une minute");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The blacklist as "pattern TAB date CR LF" entries.
QByteArray blacklistOf(const QList<std::pair<QByteArray, QByteArray>> &entries)
{
    QByteArray out;
    for (const auto &[pattern, date] : entries)
        out += pattern + '\t' + date + "\r\n";
    return out;
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    DovecotServer m_dovecot;
    RecordingPrompter m_prompter;
    QList<QByteArray> m_box; // what the server holds, as the test expects it
    QString m_data;

    TForm1 &form() { return *Form1; }
    MessageList &list() { return *Form1->list; }

    // Scrolls the row into view, as the user would, then presses and releases on its cell.
    void clickCell(int column, int row)
    {
        MessageGrid *grid = form().SG1;
        grid->scrollTo(list().indexOf(row, column));
        const QRect cell = grid->cellRect(column, row);
        QVERIFY(grid->viewport()->rect().contains(grid->viewport()->mapFrom(grid, cell.center())));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->viewport()->mapFrom(grid, cell.center()));
    }

    QList<int> markedRows()
    {
        QList<int> out;
        for (int r = 1; r < list().rows(); ++r)
            if (list().isMarked(r))
                out << r;
        return out;
    }

    // The list must show exactly these messages, in this order, with their senders, subjects,
    // dates and type codes.
    void compareListWith(const QList<QByteArray> &messages)
    {
        QCOMPARE(list().rows(), int(messages.size()) + 1);
        for (int r = 1; r <= messages.size(); ++r) {
            const MailMessage m = MailMessage::parse(messages[r - 1]);
            QCOMPARE(list().cell(r, MessageList::From), m.senderAddress());
            QCOMPARE(list().cell(r, MessageList::Subject), m.subject());
            QCOMPARE(list().cell(r, MessageList::DateTime),
                     scan::shortDate(m.date()) + QStringLiteral("  ") + scan::longTime(m.date()));
            QCOMPARE(list().cell(r, MessageList::Type), scan::typeCode(m.contentType()));
        }
        QCOMPARE(form().Edit10->text(), QString::number(messages.size()));
        QCOMPARE(form().StatusBar1->currentMessage(), Checked);
    }

    // The short date of the newest message: what the scan writes into the entries that caught.
    QByteArray lastHeaderDate(const QList<QByteArray> &messages)
    {
        return scan::shortDate(MailMessage::parse(messages.last()).date()).toLatin1();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QVERIFY2(m_dovecot.start(), qPrintable(m_dovecot.errorText()));
        m_box = demo::messages();
        m_dovecot.setMessages(m_box);

        // A data folder as a user leaves it: a favourite account and a blacklist.
        const QString appData = m_root.filePath(QStringLiteral("appdata"));
        m_data = appData + QStringLiteral("/Pelicorde");
        QVERIFY(QDir().mkpath(m_data));
        QVERIFY(QDir().mkpath(m_root.filePath(QStringLiteral("temp"))));
        accounts::Account account;
        account.server = m_dovecot.host();
        account.port = QString::number(m_dovecot.tlsPort());
        account.password = m_dovecot.password();
        account.address = m_dovecot.user();
        QVERIFY(accounts::writePrivateFile(accounts::favouriteFilePath(m_data), accounts::encodeAccount(account)));
        QFile blacklist(m_data + QStringLiteral("/Liste-noire.txt"));
        QVERIFY(blacklist.open(QIODevice::WriteOnly));
        QCOMPARE(blacklist.write(demo::blacklist()), demo::blacklist().size());
        blacklist.close();
        qputenv("APPDATA", QFile::encodeName(appData));
        qputenv("TEMP", QFile::encodeName(m_root.filePath(QStringLiteral("temp"))));
    }

    void cleanupTestCase()
    {
        destroyWindows();
        m_dovecot.stop();
    }

    // Start-up on the favourite, the first scan, marking, a preview, a blacklist edit and the
    // deletion of the marked messages, checked in the window and on the server.
    void aSessionFromStartToDeletion()
    {
        const QString blacklistPath = m_data + QStringLiteral("/Liste-noire.txt");
        const QList<int> spams = demo::spamNumbers();
        QCOMPARE(m_box.size(), 21);
        QCOMPARE(spams, (QList<int>{3, 5, 8, 10, 13, 16, 19}));

        // 1. The program starts on the favourite. Its port is above 900, so TLS is ticked and
        //    nothing is scanned until the user asks.
        createWindows(QSize(1024, 768));
        QVERIFY(Form1 && Form2);
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
        QTRY_VERIFY(!form().firstShow && form().Timer2->isActive());
        QCOMPARE(form().Edit3->text(), m_dovecot.host());
        QCOMPARE(form().Edit4->text(), QString::number(m_dovecot.tlsPort()));
        QCOMPARE(form().Edit15->text(), m_dovecot.user());
        QCOMPARE(form().Edit16->text(), m_dovecot.password());
        QVERIFY(form().CheckBox2->isChecked());
        QCOMPARE(list().rows(), 2);
        QVERIFY(list().cell(1, MessageList::From).isEmpty());
        QVERIFY(form().StatusBar1->currentMessage().isEmpty());
        QCOMPARE(readAll(blacklistPath), demo::blacklist());
        QVERIFY(m_prompter.errors.isEmpty() && m_prompter.infos.isEmpty());

        // 2. "Réception des messages": every message is listed, the blacklisted senders are
        //    ticked, and the entries that caught them carry the newest message's date.
        m_prompter.reset();
        QTest::mouseClick(form().BitBtn2, Qt::LeftButton);
        QTRY_COMPARE(form().StatusBar1->currentMessage(), Checked);
        compareListWith(m_box);
        QCOMPARE(markedRows(), spams);
        const QByteArray date = lastHeaderDate(m_box);
        QCOMPARE(date, QByteArray("07/12/2026"));
        QCOMPARE(readAll(blacklistPath), blacklistOf({{"@promo-eclair.example", date},
                                                      {"gains-garantis.example", date},
                                                      {"pharma-remise", date},
                                                      {"casino-en-ligne.example", "00/00/0000"}}));
        QVERIFY(m_prompter.errors.isEmpty() && m_prompter.infos.isEmpty());
        QCOMPARE(m_prompter.beeps, 1); // new mail

        // 3. The user spares one spam (10) and picks a message of their own to delete (9).
        clickCell(MessageList::Mark, 10);
        clickCell(MessageList::Mark, 9);
        QCOMPARE(form().currentRow, 9);
        QList<int> toDelete = spams;
        toDelete.removeOne(10);
        toDelete << 9;
        std::sort(toDelete.begin(), toDelete.end());
        QCOMPARE(markedRows(), toDelete);

        // 4. A look at message 2 (plain text): the pane opens over a greyed, disabled list,
        //    then its close button gives the list back, marks untouched.
        m_prompter.reset();
        const int normalHeight = form().SG1->height();
        clickCell(MessageList::Subject, 2);
        QTRY_COMPARE(m_prompter.beeps, 1); // the end of the preview
        QVERIFY(m_prompter.infos.isEmpty() && m_prompter.errors.isEmpty());
        const MailMessage claire = MailMessage::parse(m_box[1]);
        QCOMPARE(form().currentRow, 2);
        QCOMPARE(form().Edit11->text(), QStringLiteral("Claire Moreau <claire.moreau@example.org>"));
        QCOMPARE(form().Edit12->text(), QStringLiteral("camille.durand@demo.example"));
        QCOMPARE(form().Edit13->text(), scan::shortDate(claire.date()));
        QCOMPARE(form().Edit14->text(), scan::longTime(claire.date()));
        QCOMPARE(form().Edit17->text(), QStringLiteral("Covoiturage pour samedi ?"));
        QVERIFY(claire.body().contains(QStringLiteral("Je passerai vers 13 h 30 devant la boulangerie")));
        QCOMPARE(form().Memo2->toPlainText(), claire.body() + QLatin1Char('\n'));
        QVERIFY(!form().Panel1->isHidden()); // plain text: the text view in front
        QVERIFY(form().BitBtn5->isHidden());
        QCOMPARE(readAll(form().pane->filePath()), ansi::fromUnicode(claire.body()));
        QVERIFY(!form().SG1->isEnabled());
        QCOMPARE(form().SG1->height(), OpenPaneGridHeight);
        QCOMPARE(form().gridColour(), QColor(192, 192, 192));

        QTest::mouseClick(form().BitBtn8, Qt::LeftButton);
        QVERIFY(form().Label7->isHidden() && form().Memo2->isHidden() && form().BitBtn8->isHidden());
        QVERIFY(form().SG1->isEnabled());
        QCOMPARE(form().SG1->height(), normalHeight);
        QCOMPARE(form().gridColour(), TForm1::GridRestColour);
        QCOMPARE(markedRows(), toDelete);

        // 5. The blacklist editor shows the file as it stands; the user adds the garden
        //    newsletter's address on a line of its own and saves.
        QTest::mouseClick(form().BitBtn7, Qt::LeftButton);
        QTRY_VERIFY(Form2->isVisible());
        const QByteArray before = readAll(blacklistPath);
        QCOMPARE(Form2->Memo1->toPlainText(), ansi::toUnicode(before).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
        QTest::keyClick(Form2->Memo1, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(Form2->Memo1, QStringLiteral("lettre@potager-facile.example"));
        QTest::mouseClick(Form2->BitBtn1, Qt::LeftButton);
        QTRY_VERIFY(!Form2->isVisible());
        QCOMPARE(readAll(blacklistPath), before + "lettre@potager-facile.example\t00/00/0000\r\n");
        QCOMPARE(markedRows(), toDelete); // the list waits for the next scan

        // 6. Deletion of the ticked messages, answered Oui; the list is scanned again.
        m_prompter.reset();
        QTest::mouseClick(form().BitBtn4, Qt::LeftButton);
        QTRY_COMPARE(m_prompter.questions, QStringList{DeletionWarning});
        QList<QByteArray> left;
        for (int n = 1; n <= m_box.size(); ++n)
            if (!toDelete.contains(n))
                left << m_box[n - 1];
        QTRY_COMPARE(list().rows(), int(left.size()) + 1);
        QTRY_COMPARE(form().StatusBar1->currentMessage(), Checked);
        QVERIFY(m_prompter.errors.isEmpty() && m_prompter.infos.isEmpty());

        // The server holds exactly the others, byte for byte, in their order.
        const QList<QByteArray> stored = m_dovecot.storedMessages();
        QCOMPARE(stored.size(), left.size());
        for (int i = 0; i < left.size(); ++i)
            QVERIFY2(stored[i] == left[i], qPrintable(QStringLiteral("message %1 of those left").arg(i + 1)));

        // The list shows them; the spared spam is ticked again by the blacklist, the garden
        // newsletters by the new entry, and the new entry records the date.
        compareListWith(left);
        QList<int> expectedMarks;
        for (int r = 1; r <= left.size(); ++r) {
            const QString from = MailMessage::parse(left[r - 1]).senderAddress();
            if (from.contains(QStringLiteral("pharma-remise")) || from == QStringLiteral("lettre@potager-facile.example"))
                expectedMarks << r;
        }
        QCOMPARE(expectedMarks, (QList<int>{1, 6, 12}));
        QCOMPARE(list().cell(6, MessageList::Subject), MailMessage::parse(m_box[9]).subject());
        QCOMPARE(markedRows(), expectedMarks);
        QCOMPARE(readAll(blacklistPath), blacklistOf({{"@promo-eclair.example", date},
                                                      {"gains-garantis.example", date},
                                                      {"pharma-remise", lastHeaderDate(left)},
                                                      {"casino-en-ligne.example", "00/00/0000"},
                                                      {"lettre@potager-facile.example", lastHeaderDate(left)}}));
    }
};

int main(int argc, char **argv)
{
    EngineArguments &engine = prepareApplication(argc, argv);
    QApplication app(engine.argc(), engine.argv());
    QApplication::setApplicationName(QStringLiteral("Pelicorde"));
    EndToEndTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_endtoend.moc"
