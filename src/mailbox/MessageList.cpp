// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/MessageList.h"

MessageList::MessageList(QObject *parent) : QAbstractTableModel(parent), m_rows(2) {}

void MessageList::setRows(int n)
{
    n = std::max(n, 2);
    const int old = rows();
    if (n == old)
        return;
    if (n < old) {
        beginRemoveRows({}, n - 1, old - 2);
        m_rows.resize(n);
        endRemoveRows();
    } else {
        beginInsertRows({}, old - 1, n - 2);
        m_rows.resize(n);
        endInsertRows();
    }
}

QString MessageList::cell(int row, int column) const
{
    if (row < 0 || row >= rows() || column < 0 || column >= ColumnCount)
        return {};
    return m_rows[row].cells[column];
}

QString MessageList::kept(const QString &text)
{
    if (text.size() <= MaxCellLength)
        return text;
    qsizetype cut = MaxCellLength - 1;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QChar(u'\u2026');
}

void MessageList::setCell(int row, int column, const QString &fullText)
{
    if (row < 0 || row >= rows() || column < 0 || column >= ColumnCount)
        return;
    const QString text = kept(fullText);
    QString &c = m_rows[row].cells[column];
    if (c == text)
        return;
    c = text;
    if (row == 0)
        emit headerDataChanged(Qt::Horizontal, column, column);
    else
        emit dataChanged(indexOf(row, column), indexOf(row, column));
}

void MessageList::setCells(int row, int firstColumn, std::initializer_list<QString> texts)
{
    if (row < 1 || row >= rows() || firstColumn < 0)
        return;
    int first = -1, last = -1;
    int column = firstColumn;
    for (const QString &fullText : texts) {
        if (column >= ColumnCount)
            break;
        const QString text = kept(fullText);
        QString &c = m_rows[row].cells[column];
        if (c != text) {
            c = text;
            first = first < 0 ? column : first;
            last = column;
        }
        ++column;
    }
    if (first >= 0)
        emit dataChanged(indexOf(row, first), indexOf(row, last));
}

QString MessageList::uid(int row) const
{
    return row >= 0 && row < rows() ? m_rows[row].uid : QString();
}

void MessageList::setUid(int row, const QString &uid)
{
    if (row >= 0 && row < rows())
        m_rows[row].uid = uid;
}

void MessageList::clearRow(int row)
{
    if (row < 1 || row >= rows())
        return;
    m_rows[row] = Row{};
    emit dataChanged(indexOf(row, 0), indexOf(row, ColumnCount - 1));
}

void MessageList::clearDataRows()
{
    for (int r = 1; r < rows(); ++r)
        m_rows[r] = Row{};
    if (rows() > 1)
        emit dataChanged(indexOf(1, 0), indexOf(rows() - 1, ColumnCount - 1));
}

int MessageList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows() - 1;
}

int MessageList::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MessageList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return cell(index.row() + 1, index.column());
}

QVariant MessageList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return cell(0, section);
    return section + 1;
}

Qt::ItemFlags MessageList::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
