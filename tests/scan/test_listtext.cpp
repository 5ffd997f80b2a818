// SPDX-License-Identifier: GPL-3.0-or-later
// Text from mail as the message list shows it after a real scan with "P.J." ticked and a
// blacklist: one small message per row of the table, and the cells its row shows.
#include <QtTest>

#include <QCheckBox>
#include <QTimer>

#include "deletion/Deletion.h"
#include "mailbox/MessageList.h"
#include "support/DovecotServer.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

namespace {

struct Case
{
    const char *name;
    QByteArray mail;
    QString from, subject, date, type, pj, names, mark; // names: the box a click on PJ shows
};

const QByteArray Date = "Date: Mon, 07 Dec 2026 10:15:00 +0100\r\n";

const QList<Case> &cases()
{
    static const QList<Case> table = {
        // ESC in a quoted address and an encoded name; ESC, DEL, C1 and a fold in the subject.
        {"control characters",
         "From: =?UTF-8?Q?N=1Bom?= <\"a\x1b" "b\"@example.org>\r\n"
         "Subject: A\x1b[2J B\x7f" "C =?UTF-8?Q?D=C2=85E=C2=9DF=0AG?=\r\n\tsuite\r\n" + Date + "\r\nCorps.\r\n",
         QStringLiteral("\"a\uFFFDb\"@example.org"), QStringLiteral("A\uFFFD[2J B\uFFFDC D\u2026E\uFFFDF\uFFFDG suite"),
         "07/12/2026  09:15:00", "Autre", "_", "", ""},
        // A forwarded mail without a name of its own: named after its subject.
        {"forwarded mail",
         "From: <f@example.org>\r\nSubject: Fwd\r\n" + Date + "Content-Type: multipart/mixed; boundary=f\r\n\r\n"
         "--f\r\nContent-Type: text/plain\r\n\r\nvoir ci-joint\r\n"
         "--f\r\nContent-Type: message/rfc822\r\n\r\n"
         "From: <spam@example.com>\r\nSubject: Offre\x7f" "du =?UTF-8?Q?jour=C2=81=1B?=\r\n\r\ncorps\r\n--f--\r\n",
         "f@example.org", "Fwd", "07/12/2026  09:15:00", "M/M", "1", "Offre_du jour__.eml\n", ""},
        {"NUL in the sender and the subject",
         QByteArrayLiteral("From: \"Sp\0am\" <spam@evil.example>\r\nSubject: a\0b\r\n") + Date + "\r\nx\r\n",
         "spam@evil.example", QStringLiteral("a\uFFFDb"), "07/12/2026  09:15:00", "Autre", "_", "", "1"},
        {"padded encoded-words, trailing blanks",
         "From: <p@example.org>\r\nSubject: =?UTF-8?B?5Lit5g==?=\r\n =?UTF-8?B?lofkuLvpopg=?= =?UTF-8?B?IQ==?=   \r\n" + Date
             + "\r\nx\r\n",
         "p@example.org", QStringLiteral("\u4e2d\u6587\u4e3b\u9898!   "), "07/12/2026  09:15:00", "Autre", "_", "", ""},
        // Names in padded words, and through Content-Type whatever the type.
        {"attachment names",
         "From: <n@example.org>\r\nSubject: Noms\r\n" + Date + "Content-Type: multipart/mixed; boundary=n\r\n\r\n"
         "--n\r\nContent-Type: text/plain\r\n\r\nx\r\n"
         "--n\r\nContent-Type: application/pdf; name=\"=?UTF-8?B?YQ==?= =?UTF-8?B?Yi5wZGY=?=\"\r\n\r\n%PDF\r\n"
         "--n\r\nContent-Type: BINARY; name=\"Alices_PDP-10\"\r\n\r\n\x01\x02\r\n--n--\r\n",
         "n@example.org", "Noms", "07/12/2026  09:15:00", "M/M", "2", "ab.pdf\nAlices_PDP-10\n", ""},
        // A header injection's fields come second: each field is read at its first occurrence.
        {"repeated fields",
         "From: <vrai@example.org>\r\nSubject: Vrai\r\n" + Date + "Content-Type: text/html\r\n"
         "From: <faux@evil.example>\r\nSubject: Faux\r\nDate: Tue, 08 Dec 2026 10:15:00 +0100\r\n"
         "Content-Type: multipart/mixed; boundary=z\r\n\r\n<p>x</p>\r\n--z\r\nContent-Type: application/pdf\r\n\r\n%PDF\r\n--z--\r\n",
         "vrai@example.org", "Vrai", "07/12/2026  09:15:00", "T/H", "_", "", ""},
        {"sender without angle brackets", "From: Jeanne Martin jeanne.martin@fai.example\r\nSubject: Bonjour\r\n" + Date + "\r\nx\r\n",
         "jeanne.martin@fai.example", "Bonjour", "07/12/2026  09:15:00", "Autre", "_", "", "1"},
        {"sender without an address", "From: =?UTF-8?Q?Service_cli=C3=A9nts?= <>\r\nSubject: Bonjour\r\n" + Date + "\r\nx\r\n",
         QStringLiteral("Service cli\u00e9nts <>"), "Bonjour", "07/12/2026  09:15:00", "Autre", "_", "", ""},
        {"raw 8-bit subject in the text's charset",
         "From: <zh@example.cn>\r\nSubject: \xC8\xAB\xD0\xC2\xD4\xAD\xD7\xB0\r\n" + Date
             + "Content-Type: text/plain; charset=gb2312\r\n\r\n\xD6\xD0\xCE\xC4\r\n",
         "zh@example.cn", QStringLiteral("\u5168\u65b0\u539f\u88c5"), "07/12/2026  09:15:00", "Autre", "_", "", ""},
        {"unreadable content type", "From: <t@example.org>\r\nSubject: Texte\r\n" + Date + "Content-Type: text plain\r\n\r\nBonjour\r\n",
         "t@example.org", "Texte", "07/12/2026  09:15:00", "Autre", "_", "", ""},
    };
    return table;
}

} // namespace

class ListTextTest : public QObject
{
    Q_OBJECT

    DovecotServer dovecot;
    RecordingPrompter prompter;
    std::unique_ptr<WindowFixture> w;

    QString shown(int row, int column)
    {
        return w->form->SG1->model()->data(w->form->list->indexOf(row, column), Qt::DisplayRole).toString();
    }

private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText()));
        QList<QByteArray> mails;
        for (const Case &c : cases())
            mails << c.mail;
        dovecot.setMessages(mails);
        w = std::make_unique<WindowFixture>();
        QVERIFY(w->start());
        TForm1 &form = *w->form;
        QTRY_VERIFY(form.Timer2->isActive());
        form.Timer2->stop();
        QFile blacklist(form.dataFolder + QStringLiteral("/Liste-noire.txt"));
        QVERIFY(blacklist.open(QIODevice::WriteOnly));
        blacklist.write("evil.example\t00/00/0000\r\nfai.example\t00/00/0000\r\n");
        blacklist.close();
        prompter.reset();

        w->pointAt(dovecot.account());
        form.CheckBox1->setChecked(true);
        form.BitBtn2Click();
        QVERIFY(prompter.infos.isEmpty());
        QCOMPARE(form.list->rows(), cases().size() + 1);
    }
    void cleanupTestCase()
    {
        w.reset();
        dovecot.stop();
    }

    void cells_data()
    {
        QTest::addColumn<int>("row");
        for (int r = 1; r <= cases().size(); ++r)
            QTest::newRow(cases()[r - 1].name) << r;
    }
    void cells()
    {
        QFETCH(int, row);
        const Case &c = cases()[row - 1];
        QCOMPARE(shown(row, MessageList::From), c.from);
        QCOMPARE(shown(row, MessageList::Subject), c.subject);
        QCOMPARE(shown(row, MessageList::DateTime), c.date);
        QCOMPARE(shown(row, MessageList::Type), c.type);
        QCOMPARE(shown(row, MessageList::Attachments), c.pj);
        QCOMPARE(shown(row, MessageList::Mark), c.mark);
        prompter.reset();
        w->clickCell(MessageList::Attachments, row);
        QCOMPARE(prompter.infos, c.names.isEmpty() ? QStringList() : QStringList{c.names});
    }

    // A subject of 100,000 characters: the list keeps its first ones (each repaint of the
    // grid would take seconds), and the message can still be deleted, the cell standing for it.
    void hugeFieldCappedInTheList()
    {
        const QStringList words(15000, QStringLiteral("Gagnez"));
        dovecot.setMessages({"From: <promo@spam.example>\r\nSubject: " + words.join(QStringLiteral("\r\n ")).toLatin1()
                             + "\r\nDate: Mon, 07 Dec 2026 10:15:00 +0100\r\n\r\nCorps.\r\n"});
        WindowFixture w;
        QVERIFY(w.start());
        TForm1 &form = *w.form;
        w.pointAt(dovecot.account());
        form.BitBtn2Click();
        const QString cell = form.SG1->model()->data(form.list->indexOf(1, MessageList::Subject)).toString();
        QCOMPARE(cell.size(), MessageList::MaxCellLength);
        QCOMPARE(cell, words.join(u' ').left(MessageList::MaxCellLength - 1) + QChar(u'\u2026'));

        prompter.reset();
        form.list->setCell(1, MessageList::Mark, QStringLiteral("1"));
        deleteMarked(form);
        QCOMPARE(prompter.infos, QStringList());
        QCOMPARE(dovecot.storedMessages().size(), 0);
    }
};

QTEST_MAIN(ListTextTest)
#include "test_listtext.moc"
