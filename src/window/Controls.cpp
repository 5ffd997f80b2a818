// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/Controls.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <QWheelEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QKeyEvent>
#include <QStyledItemDelegate>

#include "mailbox/MessageList.h"

void ComboBox::showPopup()
{
    emit dropDown();
    QComboBox::showPopup();
}

void ComboBox::wheelEvent(QWheelEvent *event) { event->ignore(); }

void ListBox::mouseReleaseEvent(QMouseEvent *event)
{
    QListWidget::mouseReleaseEvent(event);
    emit mouseReleased(event->button(), event->position().toPoint());
}

namespace {

// Draws the cell as usual (a text that does not fit ends with "…"), then lets the grid's
// owner paint over it. The tooltip of a cell whose text does not fit is the whole text.
class CellDelegate final : public QStyledItemDelegate
{
    // Where a cell's text goes: 2 px in from the left, as a classic grid draws it, rather than
    // the style's wider margins, so that the narrow columns' codes ("Autre") fit whole.
    static QRect textRoom(const QRect &cell) { return cell.adjusted(2, 0, -1, 0); }

public:
    explicit CellDelegate(MessageGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (event->type() != QEvent::ToolTip)
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        if (item.fontMetrics.horizontalAdvance(item.text) > textRoom(option.rect).width())
            QToolTip::showText(event->globalPos(), item.text, view, item.rect);
        else
            QToolTip::hideText();
        return true;
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QString text = item.text;
        item.text.clear();
        const QStyle *style = item.widget ? item.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, item.widget);
        const QPalette::ColorGroup group = !(item.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (item.state & QStyle::State_Active) ? QPalette::Active
                                                                                 : QPalette::Inactive;
        const QRect room = textRoom(option.rect);
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color(
            group, item.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                          item.fontMetrics.elidedText(text, Qt::ElideRight, room.width()));
        painter->restore();
        painter->save();
        emit m_grid->cellPainted(painter, option.rect, index.column(), index.row() + 1);
        painter->restore();
    }

private:
    MessageGrid *m_grid;
};

} // namespace

MessageGrid::MessageGrid(QWidget *parent) : QTableView(parent)
{
    setItemDelegate(new CellDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // The preview disables the list, greys it and leaves a strip of it above the pane: that
    // strip must stay readable, so disabled text keeps the normal text colour.
    QPalette p = palette();
    p.setColor(QPalette::Disabled, QPalette::Text, p.color(QPalette::Active, QPalette::Text));
    setPalette(p);

    QHeaderView *v = verticalHeader();
    v->hide();
    v->setMinimumSectionSize(1);
    v->setDefaultSectionSize(RowHeight);
    v->setSectionResizeMode(QHeaderView::Fixed);

    QHeaderView *h = horizontalHeader();
    h->setMinimumSectionSize(0);
    h->setSectionResizeMode(QHeaderView::Fixed);
    h->setSectionsClickable(false);
    h->setSectionsMovable(false);
    h->setHighlightSections(false);
    h->setStretchLastSection(false);
    h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    h->setFixedHeight(RowHeight);
    h->setStyleSheet(QStringLiteral("QHeaderView::section { background-color: rgb(0, 255, 255); color: black;"
                                    " border: none; border-right: 1px solid gray;"
                                    " border-bottom: 1px solid gray; padding-left: 2px; }"));
    h->installEventFilter(this);
}

void MessageGrid::setList(MessageList *list)
{
    m_list = list;
    setModel(list);
}

QPoint MessageGrid::mouseCoord(QPoint pos) const
{
    const QPoint vp = viewport()->mapFrom(this, pos);
    if (vp.x() < 0 || vp.x() >= viewport()->width())
        return {-1, -1};
    const int column = columnAt(vp.x());
    int row = -1;
    const QHeaderView *h = horizontalHeader();
    if (h->isVisible() && h->geometry().contains(pos))
        row = 0;
    else if (vp.y() >= 0 && vp.y() < viewport()->height()) {
        const int r = rowAt(vp.y());
        row = r < 0 ? -1 : r + 1;
    }
    if (column < 0 || row < 0)
        return {-1, -1};
    return {column, row};
}

QRect MessageGrid::cellRect(int column, int row) const
{
    if (!model() || column < 0 || column >= model()->columnCount() || isColumnHidden(column))
        return {};
    if (row == 0) {
        const QHeaderView *h = horizontalHeader();
        const int x = h->sectionViewportPosition(column);
        return QRect(h->mapTo(this, QPoint(x, 0)), QSize(h->sectionSize(column), h->height()));
    }
    if (row < 0 || row > model()->rowCount())
        return {};
    const QPoint topLeft(columnViewportPosition(column), rowViewportPosition(row - 1));
    return QRect(viewport()->mapTo(this, topLeft), QSize(columnWidth(column), rowHeight(row - 1)));
}

void MessageGrid::setColour(const QColor &colour)
{
    QPalette p = palette();
    p.setColor(QPalette::Base, colour);
    setPalette(p);
}

QColor MessageGrid::colour() const { return palette().color(QPalette::Base); }

void MessageGrid::setElasticColumn(int column, int designGridWidth, int minimum)
{
    m_elasticColumn = column;
    m_elasticWidth = columnWidth(column);
    m_designWidth = designGridWidth;
    m_elasticMinimum = minimum;
    fitElasticColumn();
}

void MessageGrid::fitElasticColumn()
{
    if (m_elasticColumn >= 0)
        setColumnWidth(m_elasticColumn, std::max(m_elasticMinimum, m_elasticWidth + width() - m_designWidth));
}

void MessageGrid::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    fitElasticColumn();
}

void MessageGrid::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A held key would flip the mark back and forth.
        if (!event->isAutoRepeat())
            emit keyDown(event->key());
        event->accept();
        return;
    case Qt::Key_Menu:
        emit keyDown(Qt::Key_Menu);
        event->accept();
        return;
    case Qt::Key_F10:
        // Shift+F10: the row menu, as the Menu key.
        if (event->modifiers() == Qt::ShiftModifier) {
            emit keyDown(Qt::Key_Menu);
            event->accept();
            return;
        }
        QTableView::keyPressEvent(event);
        return;
    default:
        QTableView::keyPressEvent(event);
    }
}

void MessageGrid::mouseReleaseEvent(QMouseEvent *event)
{
    QTableView::mouseReleaseEvent(event);
    emit mouseReleased(event->button(), viewport()->mapTo(this, event->position().toPoint()));
}

bool MessageGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == horizontalHeader() && event->type() == QEvent::MouseButtonRelease) {
        auto *me = static_cast<QMouseEvent *>(event);
        emit mouseReleased(me->button(), horizontalHeader()->mapTo(this, me->position().toPoint()));
    }
    return QTableView::eventFilter(watched, event);
}

void drawMarkCell(const MessageGrid &grid, QPainter &painter, const QRect &rect, int column, int row)
{
    const MessageList *list = grid.list();
    if (!list || column != MessageList::Mark || row < 1 || list->cell(row, MessageList::From).isEmpty())
        return;
    // The box covers the whole cell and hides the text under it.
    painter.fillRect(rect, grid.colour());
    QStyleOptionButton option;
    option.initFrom(&grid);
    option.rect = rect;
    option.state = QStyle::State_Enabled | (list->isMarked(row) ? QStyle::State_On : QStyle::State_Off);
    // A tick the learned score suggested is an amber box, told from the blacklist's at a glance.
    if (list->isSuggestion(row)) {
        option.palette.setColor(QPalette::Base, SuggestionColour);
        option.palette.setColor(QPalette::Window, SuggestionColour);
    }
    grid.style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, &grid);
}
