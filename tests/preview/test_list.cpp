// SPDX-License-Identifier: GPL-3.0-or-later
// Mouse releases over the message list and the check boxes of its Supr column.
#include "support/WindowFixture.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QPaintEngine>
#include <QStyleOptionButton>
#include <QToolTip>

#include "mailbox/MessageList.h"
#include "preview/Preview.h"
#include "support/DovecotServer.h"
#include "support/RecordingPrompter.h"
#include "window/Controls.h"
#include "window/PelicordeFS1.h"

// A device that keeps the texts drawn on it, as its paint engine receives them.
struct DrawnTexts final : QPaintDevice, QPaintEngine
{
    explicit DrawnTexts(QSize size) : size(size) {}
    QStringList texts;
    QSize size;

    QPaintEngine *paintEngine() const override { return const_cast<DrawnTexts *>(this); }
    int metric(PaintDeviceMetric m) const override
    {
        return m == PdmWidth ? size.width() : m == PdmHeight ? size.height() : m == PdmDepth ? 32
             : m == PdmDevicePixelRatioScaled ? int(devicePixelRatioFScale()) : m == PdmDevicePixelRatio ? 1 : 96;
    }
    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &) override {}
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
    void drawPolygon(const QPointF *, int, PolygonDrawMode) override {}
    void drawTextItem(const QPointF &, const QTextItem &item) override { texts << item.text(); }
    Type type() const override { return User; }
};

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

    // A cell too narrow for its text ends it with "…", and its tooltip is the whole text.
    void cellsThatDoNotFitEndWithAnEllipsis()
    {
        const QString sender = QStringLiteral("jean-pierre.delafontaine@une-adresse-tres-longue.example.org");
        form().list->setCell(1, MessageList::From, sender);
        DrawnTexts drawn(form().SG1->size());
        form().SG1->render(&drawn);
        const QString shown = drawn.texts.filter(QStringLiteral("jean-pierre")).value(0);
        QVERIFY2(shown.endsWith(QChar(0x2026)) && sender.startsWith(shown.chopped(1)), qPrintable(shown));
        for (const char *whole : {"b@x.org", "Trois", "01/02/2026 10:02", "M/M", "Autre"})
            QVERIFY2(drawn.texts.contains(QLatin1String(whole)), whole);

        QWidget *vp = form().SG1->viewport();
        const auto tip = [&](int column, int row) {
            const QPoint at = vp->mapFrom(form().SG1, form().SG1->cellRect(column, row).center());
            QHelpEvent event(QEvent::ToolTip, at, vp->mapToGlobal(at));
            QApplication::sendEvent(vp, &event);
            return QToolTip::isVisible() ? QToolTip::text() : QString();
        };
        QCOMPARE(tip(MessageList::From, 2), QString());
        QCOMPARE(tip(MessageList::From, 1), sender);
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

    // The window and the blacklist editor from the keyboard alone, from the list's current row, the
    // editor holding "spam", or Edit3 with the pane closed or open: Supr cells, pane, editor, Tab stops.
    void keyPresses_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("after");
        const QString tabs13 = QStringList(13, QStringLiteral("Tab")).join(QStringLiteral(", "));
        QTest::newRow("Space ticks") << "row 1" << "Space" << "1,1,x,1 / closed / hidden / ";
        QTest::newRow("Space unticks") << "row 2" << "Space" << ",,x,1 / closed / hidden / ";
        QTest::newRow("Enter previews") << "row 2" << "Return" << ",1,x,1 / open / hidden / ";
        QTest::newRow("keypad Enter") << "row 1" << "Enter" << ",1,x,1 / open / hidden / ";
        // Escape closes the pane from wherever the focus is in it, the page included, and the focus
        // goes back to the list's current row (not to P.J., which the next Space would tick).
        QTest::newRow("Escape closes the pane") << "text" << "Esc" << ",1,x,1 / closed / hidden / SG1 row 2";
        const QString intoThePage = QStringLiteral("Tab, ").repeated(11) + QStringLiteral("Esc");
        const QString stopsToThePage = "Edit4 Edit11 Edit12 Edit13 Edit14 Edit15 Edit16 Edit17 BitBtn2 BitBtn1 WebView ";
        QTest::newRow("Escape from the page") << "HTML" << intoThePage
                                              << ",1,x,1 / closed / hidden / " + stopsToThePage + "SG1 row 2";
        QTest::newRow("Escape from the page in the program")
            << "HTML here" << intoThePage << ",1,x,1 / closed / hidden / " + stopsToThePage + "SG1 row 2";
        QTest::newRow("Escape closes the editor") << "editor" << "Esc" << ",1,x,1 / closed / hidden / ";
        QTest::newRow("Tab leaves the text") << "editor" << "Tab" << ",1,x,1 / closed / spam / BitBtn1";
        QTest::newRow("Ctrl+Tab types one") << "editor" << "Ctrl+Tab" << ",1,x,1 / closed / spam\t / ";
        // The message counter is an output: no Tab stop, so no password typed into it in clear.
        // The suggestions' switch and the friends list follow the status line's box.
        const QString tabs15 = tabs13 + QStringLiteral(", Tab, Tab");
        QTest::newRow("Tab walks") << "closed" << tabs15
                                   << ",1,x,1 / closed / hidden / Edit4 Edit15 Edit16 BitBtn2 BitBtn1 SG1 "
                                      "CheckBox1 BitBtn4 BitBtn6 ComboBox1 BitBtn7 CheckBox3 CheckBox4 BitBtn9 Edit3";
        const QString pane = ",1,x,1 / open / hidden / Edit4 Edit11 Edit12 Edit13 Edit14 Edit15 Edit16 Edit17 BitBtn2 "
                             "BitBtn1 ";
        QTest::newRow("Tab, text view") << "text" << tabs15 + QStringLiteral(", Tab").repeated(7)
                                        << pane + "Memo2 BitBtn3 CheckBox1 BitBtn4 BitBtn6 BitBtn8 ComboBox1 BitBtn7 CheckBox3 "
                                                  "CheckBox4 BitBtn9 Edit3";
        // Inside, Tab is the page's own, taken back when the page says so.
        QTest::newRow("Tab, HTML view") << "HTML" << tabs13.left(tabs13.size() - 10) << pane + "WebView";
    }

    void keyPresses()
    {
        QFETCH(QString, start);
        QFETCH(QString, keys);
        QFETCH(QString, after);
        TForm2 editor;
        QWidget *window = start == QLatin1String("editor") ? static_cast<QWidget *>(&editor) : &form();
        form().Edit3->setFocus();
        if (start.startsWith(QLatin1String("row "))) {
            form().SG1->setFocus();
            form().SG1->setCurrentIndex(form().list->index(start.mid(4).toInt() - 1, MessageList::From));
        } else if (window == &editor) {
            form().BitBtn7->click();
            editor.Memo1->setPlainText(QStringLiteral("spam"));
            editor.Memo1->moveCursor(QTextCursor::End);
        } else if (start != QLatin1String("closed")) {
            form().currentRow = 2; // the previewed row
            // The web view a first preview brings, in a helper or in the program.
            QVERIFY(ensurePreviewView(*form().pane, start == QLatin1String("HTML here") ? WebViewHost::InProcess
                                                                                         : defaultWebViewHost()));
            form().BitBtn8Click(); // the pane toggle opens on the HTML view, the other on the text
            form().SG1->setEnabled(false);
            if (start == QLatin1String("text"))
                form().BitBtn3Click();
        }
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QStringList stops;
        for (const QString &key : keys.split(QStringLiteral(", "))) {
            const QKeyCombination k = QKeySequence(key)[0];
            QTest::keyClick(window->focusWidget(), k.key(), k.keyboardModifiers());
            QTest::qWait(k.key() == Qt::Key_Escape ? 150 : 0); // a button's shortcut clicks after a flash
            QWidget *now = window->focusWidget();
            while (now->objectName().isEmpty()) // inside the web view
                now = now->parentWidget();
            if (key == QLatin1String("Tab"))
                stops << now->objectName();
            if (k.key() == Qt::Key_Escape && window == &form()) {
                QTRY_VERIFY(!previewPaneOpenNow() || !form().pane->view()); // a page's Escape closes it queued
                stops << window->focusWidget()->objectName()
                             + QStringLiteral(" row %1").arg(form().SG1->currentIndex().row() + 1);
            }
        }
        QCOMPARE(QStringList({QStringList({mark(1), mark(2), mark(3), mark(4)}).join(QLatin1Char(',')),
                              previewPaneOpenNow() ? "open" : "closed",
                              editor.isVisible() ? editor.Memo1->toPlainText() : "hidden", stops.join(QLatin1Char(' '))})
                     .join(QStringLiteral(" / ")),
                 after);
        QVERIFY(!QFile::exists(form().dataFolder + QStringLiteral("/Liste-noire.txt"))); // Escape saved nothing
    }

private:
    bool previewPaneOpenNow() { return !form().Label7->isHidden(); }
};

PELICORDE_TEST_MAIN(ListTest)
#include "test_list.moc"
