// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <initializer_list>
#include <memory>
#include <vector>

#include "mailbox/Removal.h"

// The message list behind SG1, in the program's own numbering: row 0 holds the captions,
// row r (1..N) the message that had number r on the server at the last scan. Seven text
// columns, the last one hidden in the view. Each row also keeps the message's unique id
// (UIDL, IMAP's UID) when the server gave one; it is never shown.
//
// As a Qt model it shows rows 1..N as model rows 0..N-1 and row 0 as the horizontal header.
class MessageList : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { From = 0, Subject = 1, DateTime = 2, Type = 3, Attachments = 4, Mark = 5, AttachmentNames = 6 };
    static constexpr int ColumnCount = 7;

    explicit MessageList(QObject *parent = nullptr);
    ~MessageList() override;

    // A cell keeps at most this many characters of a text, the last one "…" when it is cut:
    // far more than a row can show, while a field of hundreds of kilobytes (spam stretching
    // its Subject) made each repaint of the grid take seconds. The preview shows the message's
    // own fields, whole.
    static constexpr qsizetype MaxCellLength = 2000;
    // What a cell keeps of text; compare a message's field with a cell through it.
    static QString kept(const QString &text);

    // Rows including the caption row: N + 1, at least 2 (one empty data row).
    int rows() const { return int(m_rows.size()); }
    // Drops the rows beyond n; added rows are empty. n is at least 2.
    void setRows(int n);

    QString cell(int row, int column) const;
    // The same text into into, whose storage is reused: a pass over many rows allocates nothing.
    void readCell(int row, int column, QString &into) const;
    void setCell(int row, int column, const QString &text);
    // Writes texts into columns firstColumn.. of a data row at once: one change for the views,
    // not one per cell, so a scan of many rows costs the views little.
    void setCells(int row, int firstColumn, std::initializer_list<QString> texts);
    // While a batch is open, the data rows written are told to the views as one change over
    // the rows from the first to the last written, when the batch closes or at announce():
    // a scan writes tens of thousands of rows, and a change costs a view more than a row does.
    // Batches nest; the outermost one's end announces.
    class Batch
    {
    public:
        explicit Batch(MessageList &list) : m_list(list) { ++m_list.m_batches; }
        ~Batch()
        {
            if (--m_list.m_batches == 0)
                m_list.announce();
        }
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        MessageList &m_list;
    };
    // The change of the rows written in the open batch so far, if any.
    void announce();
    QString uid(int row) const;
    void setUid(int row, const QString &uid);
    // The mailbox the rows were read from, as the last scan found it: the account (protocol,
    // server, port and user: sessionAccountKey; empty when no scan wrote the rows), what the ids
    // hold under (IMAP's UIDVALIDITY; empty for POP3) and what a deletion would do.
    QString account() const { return m_account; }
    QString idScope() const { return m_idScope; }
    const Removal &removal() const { return m_removal; }
    void setMailbox(const QString &account, const QString &idScope, const Removal &removal)
    {
        m_account = account;
        m_idScope = idScope;
        m_removal = removal;
    }
    // Empties all seven columns (and the unique id) of a data row.
    void clearRow(int row);
    // Empties every data row.
    void clearDataRows();
    bool isMarked(int row) const { return cellIs(row, Mark, u"1"); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Model index of a cell in list numbering (row >= 1).
    QModelIndex indexOf(int row, int column) const { return index(row - 1, column); }

private:
    static constexpr int TextCount = ColumnCount;
    // A list of a hundred thousand rows stays small: each row's seven texts live in one block
    // (see MessageList.cpp), none for an empty row.
    struct Block;
    struct BlockDeleter
    {
        void operator()(Block *block) const;
    };
    using Row = std::unique_ptr<Block, BlockDeleter>;

    bool cellIs(int row, int index, QStringView text) const;
    QString text(int row, int index) const;
    // Replaces texts first..first + count - 1 of a row; the bit of each text that changed is set
    // in the result.
    unsigned write(int row, int first, const QStringView *texts, int count);
    // Columns first..last of a data row changed: told now, or noted for the open batch.
    void changed(int row, int first, int last);

    std::vector<Row> m_rows;
    // The unique ids, apart from the blocks: they come after the cells, for every row at once,
    // and are shared with the listing that gave them rather than copied into each block.
    std::vector<QString> m_uids;
    QString m_account;
    QString m_idScope;
    Removal m_removal;
    int m_batches = 0;
    int m_batchFirst = 0; // rows written in the open batch, 0 when none
    int m_batchLast = 0;
};
