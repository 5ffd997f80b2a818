// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QComboBox>
#include <QPainter>
#include <QListWidget>
#include <QTableView>

class MessageList;

// A drop-down list that tells when its list is about to open (each time, before the items
// are shown). A choice is reported by activated() only: a wheel turn over the closed list
// does not choose, since choosing an account starts a scan.
class ComboBox : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;
signals:
    void dropDown();
protected:
    void wheelEvent(QWheelEvent *event) override;
};

// A list box that reports mouse releases over its items area.
class ListBox : public QListWidget
{
    Q_OBJECT
public:
    using QListWidget::QListWidget;
signals:
    void mouseReleased(Qt::MouseButton button, QPoint pos);
protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// The message list grid. Its caption row is the horizontal header; everything it reports is
// in the list's numbering (row 0 = captions, row r = message r) and in the grid's own pixels,
// the caption row included.
class MessageGrid : public QTableView
{
    Q_OBJECT
public:
    static constexpr int RowHeight = 18;

    explicit MessageGrid(QWidget *parent = nullptr);

    void setList(MessageList *list);
    MessageList *list() const { return m_list; }

    // The cell under a point in grid pixels, as (column, row); (-1, -1) over no cell.
    QPoint mouseCoord(QPoint pos) const;
    // Rectangle of a cell in grid pixels (row 0 = caption row); empty when not shown.
    QRect cellRect(int column, int row) const;

    // Background of the body cells.
    void setColour(const QColor &colour);
    QColor colour() const;

    // From now on `column` gains or gives up whatever width the grid has above or below
    // designGridWidth (never under minimum), so that the columns right of it stay in view on a
    // narrow screen and the grid's spare width goes to it on a wide one.
    void setElasticColumn(int column, int designGridWidth, int minimum);

signals:
    // Any mouse button released over the grid, captions included, at pos in grid pixels.
    void mouseReleased(Qt::MouseButton button, QPoint pos);
    // A body cell was painted (its text is drawn already); row in list numbering.
    void cellPainted(QPainter *painter, QRect rect, int column, int row);
    // Space, Enter or Return was pressed (not held) in the list; Key_Menu for the Menu key and
    // Shift+F10.
    void keyDown(int key);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fitElasticColumn();

    MessageList *m_list = nullptr;
    int m_elasticColumn = -1;
    int m_elasticWidth = 0; // its width at the design width
    int m_designWidth = 0;
    int m_elasticMinimum = 0;
};

// The box of a tick the learned score suggested (a blacklist's or the user's is the style's).
inline const QColor SuggestionColour(255, 191, 64);
// Paints a tick box over a Supr cell of grid once its text is drawn, ticked when the row is
// marked; row in list numbering (0 = captions). Rows without a sender, and other cells, keep
// their text.
void drawMarkCell(const MessageGrid &grid, QPainter &painter, const QRect &rect, int column, int row);
