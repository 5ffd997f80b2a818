// SPDX-License-Identifier: GPL-3.0-or-later
// Text from mail as the message list shows it after a real scan: control characters in a
// sender, a subject or a forwarded mail's derived name show as a visible replacement.
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

class ListTextTest : public QObject
{
    Q_OBJECT

    DovecotServer dovecot;
    RecordingPrompter prompter;

    static QString shown(TForm1 &form, int row, int column)
    {
        return form.SG1->model()->data(form.list->indexOf(row, column), Qt::DisplayRole).toString();
    }

private slots:
    void initTestCase() { QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText())); }
    void cleanupTestCase() { dovecot.stop(); }

    void controlCharactersShowAsReplacement()
    {
        dovecot.setMessages({
            // ESC in a quoted address and an encoded name; ESC, DEL, C1 and a fold in the subject.
            QByteArray("From: =?UTF-8?Q?N=1Bom?= <\"a\x1b" "b\"@example.org>\r\n"
                       "Subject: A\x1b[2J B\x7f" "C =?UTF-8?Q?D=C2=85E=C2=9DF=0AG?=\r\n\tsuite\r\n"
                       "Date: Mon, 07 Dec 2026 10:15:00 +0100\r\n\r\nCorps.\r\n"),
            // A forwarded mail without a name of its own: named after its subject.
            QByteArray("From: <f@example.org>\r\nSubject: Fwd\r\nDate: Mon, 07 Dec 2026 10:15:00 +0100\r\n"
                       "Content-Type: multipart/mixed; boundary=f\r\n\r\n"
                       "--f\r\nContent-Type: text/plain\r\n\r\nvoir ci-joint\r\n"
                       "--f\r\nContent-Type: message/rfc822\r\n\r\n"
                       "From: <spam@example.com>\r\nSubject: Offre\x7f" "du =?UTF-8?Q?jour=C2=81=1B?=\r\n\r\ncorps\r\n"
                       "--f--\r\n"),
        });
        WindowFixture w;
        QVERIFY(w.start());
        TForm1 &form = *w.form;
        QTRY_VERIFY(form.Timer2->isActive());
        form.Timer2->stop();
        prompter.reset();

        w.pointAt(dovecot.account());
        form.CheckBox1->setChecked(true);
        form.BitBtn2Click();
        QVERIFY(prompter.infos.isEmpty());
        QCOMPARE(form.list->rows(), 3);
        QCOMPARE(shown(form, 1, MessageList::From), QStringLiteral("\"a\uFFFDb\"@example.org"));
        QCOMPARE(shown(form, 1, MessageList::Subject), QStringLiteral("A\uFFFD[2J B\uFFFDC D\u2026E\uFFFDF\uFFFDG suite"));
        QCOMPARE(shown(form, 2, MessageList::Attachments), QStringLiteral("1"));

        // The names box that a click on the PJ cell opens.
        w.clickCell(MessageList::Attachments, 2);
        QCOMPARE(prompter.infos, QStringList{QStringLiteral("Offre_du jour__.eml\n")});
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
        const QString cell = shown(form, 1, MessageList::Subject);
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
