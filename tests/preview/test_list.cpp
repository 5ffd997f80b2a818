// SPDX-License-Identifier: GPL-3.0-or-later
// Mouse releases over the message list and the check boxes of its Supr column.
#include "support/WindowFixture.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionButton>

#include "mailbox/MessageList.h"
#include "support/DovecotServer.h"
#include "support/RecordingPrompter.h"
#include "window/Controls.h"

class ListTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<WindowFixture> w;
    RecordingPrompter prompter;

    TForm1 &form() { return *w->form; }
    QString mark(int row) { return form().list->cell(row, MessageList::Mark); }

    // Rendering of the grid's check box alone, as it should appear over a cell.
    QImage indicator(QSize size, bool checked, QImage::Format format)
    {
        QImage image(size, format);
        image.fill(form().gridColour());
        QPainter painter(&image);
        QStyleOptionButton option;
        option.initFrom(form().SG1);
        option.rect = QRect(QPoint(0, 0), size);
        option.state = QStyle::State_Enabled | (checked ? QStyle::State_On : QStyle::State_Off);
        form().SG1->style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, form().SG1);
        return image;
    }

    // The part of a cell inside the grid lines, where the grid paints the cell.
    QRect paintedRect(int column, int row) { return form().SG1->cellRect(column, row).adjusted(0, 0, -1, -1); }

    QImage cellImage(const QImage &grid, int column, int row)
    {
        return grid.copy(paintedRect(column, row));
    }

private slots:
    void init()
    {
        w = std::make_unique<WindowFixture>();
        QVERIFY(w->start());
        // A closed port: a preview started by a release fails at once with its box. The port is
        // above 900, so TLS is ticked as the port rule would.
        w->pointAt({QStringLiteral("127.0.0.1"), freeLoopbackPort(), QStringLiteral("u"), QStringLiteral("p"), true});
        w->setRows({
            {"a@x.org", "Un", "01/02/2026 10:00", "T/H", "2", "", "a.pdf|b.txt|"},
            {"b@x.org", "Deux", "01/02/2026 10:01", "M/M", "_", "1", ""},
            {"c@x.org", "Trois", "01/02/2026 10:02", "Autre", "1", "x", QStringLiteral("r\u00e9sum\u00e9 \u540d.doc|")},
            {"", "", "", "", "", "1", ""},
        });
        prompter.reset();
    }

    void cleanup() { w.reset(); }

    void releasesOnTheFirstFourColumnsPreview()
    {
        for (int column = 0; column < 4; ++column) {
            prompter.reset();
            w->clickCell(column, 2);
            QCOMPARE(form().currentRow, 2);
            QVERIFY(previewPaneOpenNow());
            QVERIFY(!form().SG1->isEnabled());
            QCOMPARE(prompter.infos, QStringList{QStringLiteral("Erreur durant la reception de ce message\n\n"
                                                                "Connexion refusée par le serveur")});
            QCOMPARE(prompter.beeps, 1);
            form().BitBtn8->click();
            QVERIFY(form().SG1->isEnabled());
        }
    }

    void releaseOnPjListsTheNames()
    {
        form().BitBtn5->show();
        w->clickCell(MessageList::Attachments, 1);
        QVERIFY(form().BitBtn5->isHidden());
        QCOMPARE(form().currentRow, 1);
        QCOMPARE(prompter.infos, QStringList{QStringLiteral("a.pdf\nb.txt\n")});

        // Seen through Windows-1252: what it lacks becomes '?'.
        w->clickCell(MessageList::Attachments, 3, Qt::RightButton);
        QCOMPARE(prompter.infos.last(), QStringLiteral("r\u00e9sum\u00e9 ?.doc\n"));

        prompter.reset();
        w->clickCell(MessageList::Attachments, 2);
        QVERIFY(prompter.infos.isEmpty());
        QCOMPARE(prompter.beeps, 0);
        QVERIFY(!previewPaneOpenNow());
    }

    void releasesOnSuprToggleWithAnyButton()
    {
        w->clickCell(MessageList::Mark, 1);
        QCOMPARE(mark(1), QStringLiteral("1"));
        w->clickCell(MessageList::Mark, 1, Qt::RightButton);
        QCOMPARE(mark(1), QString());
        w->clickCell(MessageList::Mark, 2, Qt::MiddleButton);
        QCOMPARE(mark(2), QString());
        QCOMPARE(form().currentRow, 2);
        // Any other value counts as set: the next release empties it.
        w->clickCell(MessageList::Mark, 3);
        QCOMPARE(mark(3), QString());
        // A row without a sender toggles as well.
        w->clickCell(MessageList::Mark, 4);
        QCOMPARE(mark(4), QString());
        QVERIFY(prompter.infos.isEmpty());
        QCOMPARE(prompter.beeps, 0);
    }

    void captionsAndOffCellReleasesOnlySetTheRow()
    {
        const auto before = [this] {
            QStringList cells;
            for (int r = 0; r < form().list->rows(); ++r)
                for (int c = 0; c < MessageList::ColumnCount; ++c)
                    cells << form().list->cell(r, c);
            return cells;
        }();
        for (int column : {1, 4, 5}) {
            form().BitBtn5->show();
            form().currentRow = 7;
            w->clickCell(column, 0, Qt::RightButton);
            QCOMPARE(form().currentRow, 0);
            QVERIFY(form().BitBtn5->isHidden());
        }
        QWidget *vp = form().SG1->viewport();
        const QRect last = form().SG1->cellRect(MessageList::Mark, 4);
        const QPoint below = vp->mapFrom(form().SG1, QPoint(last.center().x(), last.bottom() + 30));
        const QPoint right = vp->mapFrom(form().SG1, QPoint(last.right() + 10, last.center().y()));
        QVERIFY(vp->rect().contains(below) && vp->rect().contains(right));
        for (QPoint pos : {below, right}) {
            for (Qt::MouseButton button : {Qt::LeftButton, Qt::MiddleButton}) {
                form().BitBtn5->show();
                form().currentRow = 7;
                QTest::mouseClick(vp, button, {}, pos);
                QCOMPARE(form().currentRow, -1);
                QVERIFY(form().BitBtn5->isHidden());
            }
        }
        QVERIFY(prompter.infos.isEmpty());
        QVERIFY(!previewPaneOpenNow());
        const auto after = [this] {
            QStringList cells;
            for (int r = 0; r < form().list->rows(); ++r)
                for (int c = 0; c < MessageList::ColumnCount; ++c)
                    cells << form().list->cell(r, c);
            return cells;
        }();
        QCOMPARE(after, before);
    }

    void suprCellsShowCheckBoxes()
    {
        QImage grid = form().SG1->grab().toImage();
        const QSize size = paintedRect(MessageList::Mark, 1).size();
        const QImage unchecked = indicator(size, false, grid.format());
        const QImage checked = indicator(size, true, grid.format());
        QVERIFY(checked != unchecked);
        QCOMPARE(cellImage(grid, MessageList::Mark, 1), unchecked); // ""
        QCOMPARE(cellImage(grid, MessageList::Mark, 2), checked);   // "1"
        QCOMPARE(cellImage(grid, MessageList::Mark, 3), unchecked); // "x"

        // No sender: the cell keeps its text "1", drawn as text (dark pixels, no box).
        const QImage text = cellImage(grid, MessageList::Mark, 4);
        QVERIFY(text != checked && text != unchecked);
        bool dark = false;
        for (int y = 0; y < text.height(); ++y)
            for (int x = 0; x < text.width(); ++x)
                dark = dark || qGray(text.pixel(x, y)) < 100;
        QVERIFY(dark);

        // The box follows a toggle at once.
        w->clickCell(MessageList::Mark, 1);
        form().SG1->clearSelection();
        grid = form().SG1->grab().toImage();
        QCOMPARE(cellImage(grid, MessageList::Mark, 1), checked);
    }

    // The pane shrinks, greys and disables the list; the strip left above it must still read.
    void stripAboveThePaneStaysReadable()
    {
        w->clickCell(MessageList::Subject, 2);
        QVERIFY(previewPaneOpenNow());
        QVERIFY(!form().SG1->isEnabled());
        QCOMPARE(form().gridColour(), QColor(192, 192, 192));
        const QImage grid = form().SG1->grab().toImage();
        // Rows 1 and 3 are not the selected one, which the highlight keeps readable anyway.
        for (int row : {1, 3}) {
            for (int column : {int(MessageList::From), int(MessageList::Subject)}) {
                const QImage cell = cellImage(grid, column, row);
                int darkest = 255;
                for (int y = 0; y < cell.height(); ++y)
                    for (int x = 0; x < cell.width(); ++x)
                        darkest = std::min(darkest, qGray(cell.pixel(x, y)));
                QVERIFY2(darkest < 100, qPrintable(QStringLiteral("row %1 column %2: darkest grey %3 on 192")
                                                       .arg(row).arg(column).arg(darkest)));
            }
        }
    }

private:
    bool previewPaneOpenNow() { return !form().Label7->isHidden(); }
};

PELICORDE_TEST_MAIN(ListTest)
#include "test_list.moc"
