// SPDX-License-Identifier: GPL-3.0-or-later
// The program's boxes as the user sees them, through the real message boxes: text from mail
// shows as written, never as markup, and no scan starts while a box waits for its answer.
#include <QtTest>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "core/Prompter.h"
#include "mailbox/MessageList.h"
#include "support/FakePop3Server.h"
#include "support/MailFactory.h"
#include "support/WindowFixture.h"
#include "window/PelicordeFP.h"

namespace {

const QString Hostile = QStringLiteral("<h1>Colis bloqué : appelez le 0899…</h1><a href=\"http://x.example\">ici</a>");

enum class Box { Information, Question, QuestionAnnuler, ErrorReport, AttachmentNames };

} // namespace

class BoxesTest : public QObject
{
    Q_OBJECT

    WindowFixture m_w;
    FakePop3Server m_server;
    TForm1 *m_form = nullptr;

private slots:
    void initTestCase()
    {
        m_server.mailbox = {mailfactory::build({})};
        QVERIFY(m_server.start());
        QVERIFY(m_w.start());
        m_form = m_w.form.get();
        m_w.pointAt(m_server.account());
    }

    void plainTextAndNoScanUnderneath_data()
    {
        QTest::addColumn<Box>("box");
        QTest::addColumn<QString>("shown");
        QTest::newRow("information") << Box::Information << Hostile;
        QTest::newRow("question") << Box::Question << Hostile;
        QTest::newRow("question, Annuler by default") << Box::QuestionAnnuler << Hostile;
        QTest::newRow("error report") << Box::ErrorReport << Hostile;
        QTest::newRow("attachment names") << Box::AttachmentNames << Hostile + QLatin1Char('\n');
    }
    void plainTextAndNoScanUnderneath()
    {
        QFETCH(Box, box);
        QFETCH(QString, shown);
        QString defaultButton; // the button Return presses
        const int connections = m_server.connections;
        bool seen = false;
        Qt::TextFormat format = Qt::AutoText;
        Qt::TextFormat labelFormat = Qt::AutoText;
        QString text;
        int connectionsInside = -1;
        // While the box is open: what it shows, then the sixth tick of the minute timer.
        QTimer finder;
        connect(&finder, &QTimer::timeout, this, [&] {
            auto *open = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!open)
                return;
            finder.stop();
            seen = true;
            format = open->textFormat();
            if (open->defaultButton())
                defaultButton = open->defaultButton()->text();
            if (const auto *label = open->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
                labelFormat = label->textFormat();
                text = label->text();
            }
            m_form->check.minuteCounter = 5;
            m_form->Timer2Timer();
            connectionsInside = m_server.connections;
            open->done(0);
        });
        finder.start(10);
        switch (box) {
        case Box::Information:
            prompter().information(Hostile);
            break;
        case Box::Question:
            QVERIFY(!prompter().question(Hostile));
            break;
        case Box::QuestionAnnuler:
            QVERIFY(!prompter().question(Hostile, Prompter::Default::Annuler));
            break;
        case Box::ErrorReport:
            reportError(Hostile);
            break;
        case Box::AttachmentNames:
            m_w.setRows({{QStringLiteral("x@spam.example"), QStringLiteral("Colis"), {}, {}, QStringLiteral("1"), {},
                          Hostile + QLatin1Char('|')}});
            m_w.clickCell(MessageList::Attachments, 1);
            break;
        }
        QVERIFY(seen);
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(labelFormat, Qt::PlainText);
        QCOMPARE(text, shown);
        if (box == Box::Question || box == Box::QuestionAnnuler)
            QCOMPARE(defaultButton, box == Box::Question ? QStringLiteral("Oui") : QStringLiteral("Annuler"));
        QCOMPARE(connectionsInside, connections);
        // The scan asked for under the box runs once it is answered.
        QTRY_COMPARE(m_server.connections, connections + 1);
    }
};

QTEST_MAIN(BoxesTest)
#include "test_boxes.moc"
