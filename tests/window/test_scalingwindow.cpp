// SPDX-License-Identifier: GPL-3.0-or-later
#include <QtTest>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStatusBar>
#include <memory>

#include "mailbox/MessageList.h"
#include "support/RecordingPrompter.h"
#include "support/WindowFixture.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"
#include "window/Scaling.h"

// The main window scaled by its creation step to work areas around the 1024 x 768 design.
class ScalingWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> m_w;
    RecordingPrompter m_prompter;

    // Size of the part of `image` that differs from `under`, or with no `under` that is opaque.
    static QSize extent(const QImage &image, const QImage &under = {})
    {
        QRect r;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                r |= (under.isNull() ? qAlpha(image.pixel(x, y)) : image.pixel(x, y) != under.pixel(x, y)) ? QRect(x, y, 1, 1) : QRect();
        return r.size();
    }

private slots:
    void init()
    {
        m_w = std::make_unique<WindowFixture>();
        QVERIFY(m_w->prepareFolders());
        m_prompter.reset();
    }

    void cleanup() { m_w.reset(); }

    void workAreas_data()
    {
        QTest::addColumn<QSize>("area");
        QTest::addColumn<QRect>("grid");
        QTest::addColumn<int>("points"); // 0: the small font of the shrink pass
        QTest::newRow("1024x768") << QSize(1024, 768) << QRect(4, 80, 1007, 636) << 8;
        QTest::newRow("1280x1024") << QSize(1280, 1024) << QRect(5, 100, 1258, 795) << 10;
        QTest::newRow("1920x1040") << QSize(1920, 1040) << QRect(5, 108, 1363, 861) << 10;
        QTest::newRow("1600x870") << QSize(1600, 870) << QRect(4, 90, 1140, 720) << 9;
        QTest::newRow("1024x738") << QSize(1024, 738) << QRect(4, 76, 1007, 611) << 0;
        QTest::newRow("1366x728") << QSize(1366, 728) << QRect(5, 75, 1343, 602) << 0;
        QTest::newRow("800x570") << QSize(800, 570) << QRect(3, 59, 786, 472) << 0;
        QTest::newRow("800x600") << QSize(800, 600) << QRect(3, 62, 786, 496) << 0;
        QTest::newRow("1920x1080") << QSize(1920, 1080) << QRect(5, 112, 1416, 894) << 11;
        // 1920 x 1080 and 1024 x 768 at a scale factor of 2, in logical pixels.
        QTest::newRow("960x540") << QSize(960, 540) << QRect(3, 56, 944, 447) << 0;
        QTest::newRow("512x384") << QSize(512, 384) << QRect(2, 40, 503, 318) << 0;
        // s = 1.1003: the bounds grow by a tenth, trunc(8.8) keeps 8 points.
        QTest::newRow("1127x845") << QSize(1127, 845) << QRect(4, 88, 1107, 699) << 8;
    }

    void workAreas()
    {
        QFETCH(QSize, area);
        QFETCH(QRect, grid);
        QFETCH(int, points);
        TForm1 form(area);
        QVERIFY(m_prompter.errors.isEmpty());
        QCOMPARE(form.SG1->geometry(), grid);

        for (QWidget *w : {static_cast<QWidget *>(form.Label5), static_cast<QWidget *>(form.Edit3),
                           static_cast<QWidget *>(form.ComboBox1), static_cast<QWidget *>(form.Label7),
                           static_cast<QWidget *>(form.Edit17)}) {
            if (points) {
                QCOMPARE(w->font().family(), QStringLiteral("Tahoma"));
                QCOMPARE(w->font().pointSize(), points);
            } else {
                QCOMPARE(w->font().family(), scaling::smallFont().family());
                QCOMPARE(w->font().pointSize(), 7);
            }
        }
        // Picture buttons, check boxes, the list and the memo keep the design font.
        for (QWidget *w : {static_cast<QWidget *>(form.BitBtn2), static_cast<QWidget *>(form.BitBtn6),
                           static_cast<QWidget *>(form.CheckBox1), static_cast<QWidget *>(form.SG1),
                           static_cast<QWidget *>(form.Memo2)}) {
            QCOMPARE(w->font().family(), QStringLiteral("Tahoma"));
            QCOMPARE(w->font().pointSize(), 8);
        }
        // The count field keeps its bold face through the font rule.
        QVERIFY(form.Edit10->font().bold());
        // Column widths and the row height are not scaled.
        QCOMPARE(form.SG1->columnWidth(0), 153);
        QCOMPARE(form.SG1->verticalHeader()->defaultSectionSize(), MessageGrid::RowHeight);
        for (QCheckBox *box : {form.CheckBox1, form.CheckBox2}) { // with the whole of their indicator
            QStyleOptionButton o;
            o.initFrom(box);
            QVERIFY(box->rect().contains(box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &o, box)));
        }
        // Scaled, the clipboard shows whole: the button draws all of its picture's opaque part.
        if (area != QSize(1024, 768)) { // at the design size its ends meet the frame, as designed
            const QImage shown = form.BitBtn7->grab().toImage();
            const QSize whole = extent(form.BitBtn7->icon().pixmap(form.BitBtn7->iconSize()).toImage());
            form.BitBtn7->setIcon(QIcon());
            QCOMPARE(extent(shown, form.BitBtn7->grab().toImage()), whole);
            QVERIFY(whole.height() * 3 >= form.BitBtn7->height() * 2);
        }

        // The status bar goes back under the list at the show.
        form.show();
        QTRY_VERIFY(!form.firstShow);
        QTRY_COMPARE(form.StatusBar1->geometry(),
                     QRect(grid.x(), grid.y() + grid.height() + 5, grid.width(), 19));
        QCOMPARE(form.normalGridHeight, grid.height());

        // The subject column gives up (down to 100) or takes what the grid lost or gained, so that
        // Date/heure, Type, PJ and Supr show whole, beside a scroll bar too.
        QCOMPARE(form.SG1->columnWidth(1), std::max(100, 634 + grid.width() - 1007));
        form.list->setRows(100);
        QTRY_VERIFY(form.SG1->verticalScrollBar()->isVisible());
        for (int c = 2; c <= 5; ++c)
            QVERIFY(form.SG1->viewport()->geometry().contains(form.SG1->cellRect(c, 1)));
    }

    // The memo is placed inside Panel1: its bounds scale relative to the panel.
    void childOfThePanelScalesInThePanel()
    {
        TForm1 form(QSize(800, 570));
        QCOMPARE(form.Panel1->geometry(), QRect(3, 227, 786, 303));
        QCOMPARE(form.Memo2->geometry(), QRect(0, 0, 786, 303));
        QCOMPARE(form.BitBtn2->geometry(), QRect(242, 32, 142, 21));
    }

    void failedCreationScalesNothing()
    {
        QFile blocker(m_w->path(QStringLiteral("appdata/Pelicorde")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        TForm1 form(QSize(800, 570));
        QCOMPARE(m_prompter.errors, QStringList{QStringLiteral("Impossible de créer le répertoire Roaming.")});
        QCOMPARE(form.SG1->geometry(), QRect(4, 80, 1007, 636));
        QCOMPARE(form.BitBtn2->geometry(), QRect(311, 44, 183, 29));
        QCOMPARE(form.Label5->font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(form.Label5->font().pointSize(), 8);
        QCOMPARE(form.Edit3->font().pointSize(), 8);
    }
};

QTEST_MAIN(ScalingWindowTest)
#include "test_scalingwindow.moc"
