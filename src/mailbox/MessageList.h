// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

#include "learning/LearnedStore.h"
#include "mailbox/Removal.h"
#include "protocol/MessageIds.h"
#include "mailbox/RowScores.h"

// The message list behind SG1, in the program's own numbering: row 0 holds the captions,
// row r (1..N) the message that had number r on the server at the last scan. Seven text
// columns, the last one hidden in the view. Each row also keeps the message's unique id
// (UIDL, IMAP's UID) when the server gave one; it is never shown.
//
// As a Qt model it shows rows 1..N as model rows 0..N-1 and row 0 as the horizontal header.
//
// A tick is the Mark cell "1", whoever set it: what a deletion deletes. The list also knows who
// ticked each row: the marking (the blacklist, or the learned score's suggestion) through
// setTick(), the user through setCell() on the Mark column (a click, Space), which makes the
// row the user's own, ticked or not. When the scan scored its rows, each row keeps its score
// and what a later deletion teaches the score from it (see RowScores.h).
class MessageList : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { From = 0, Subject = 1, DateTime = 2, Type = 3, Attachments = 4, Mark = 5, AttachmentNames = 6 };
    static constexpr int ColumnCount = 7;
    // data() on the Mark column: whether the row's tick is a suggestion of the score (bool).
    // Qt::ToolTipRole there gives the score's tip of a scored row.
    static constexpr int SuggestionRole = Qt::UserRole + 1;
    // Who set the Mark cell last: nobody (a row as the scan wrote it, or unticked by the
    // marking), the blacklist, the score's suggestion, or the user.
    enum class TickedBy : quint8 { Nobody, Blacklist, Score, User };

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
    // The ids of rows 1..last, taken from a session's listing; later rows have none.
    void setUids(MessageIds ids, int last);
    // Every row's id, by row number.
    const MessageIds &uids() const { return m_uids; }
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
    bool markIsEmpty(int row) const { return cellIs(row, Mark, u""); }

    TickedBy tickedBy(int row) const
    {
        return row >= 1 && std::size_t(row) < m_tickedBy.size() ? m_tickedBy[std::size_t(row)] : TickedBy::Nobody;
    }
    // The marking's own ticks: Blacklist and Score tick the row, Nobody unticks it.
    void setTick(int row, TickedBy by);
    // A tick that the score suggested, and that nobody has changed since.
    bool isSuggestion(int row) const { return tickedBy(row) == TickedBy::Score && isMarked(row); }
    int suggestionCount() const;

    // The scores the scan gave its rows (none when it scored nothing); the rows written by
    // another scan, or emptied, lose theirs.
    void setScores(std::unique_ptr<RowScores> scores);
    bool isScored(int row) const { return scoreRow(row) != nullptr; }
    std::optional<learning::SpamScore> score(int row) const;
    // Whether the score suggests the row, once it has learned enough (learning::isSuggested).
    bool scoreSuggests(int row) const;
    // Why the row is suggested or not ("Spam probable (score 0,98), appris de vos
    // suppressions"); empty for a row without a score.
    QString scoreTip(int row) const;

    // What a deletion that went through teaches the score: the rows it removed as spam, every
    // other row with a score left unticked as legitimate (the ticked rows the deletion had to
    // leave, notRemoved, teach nothing). A row the store had already learned that way when the
    // scan loaded the score gives no lesson, and at most kMaxLegitimateLessons legitimate ones
    // are given, the newest rows first: the others come at the next deletions. Take them
    // before the rows are read again.
    static constexpr int kMaxLegitimateLessons = 5000;
    QList<learning::Lesson> lessonsAfterDeletion(const QList<int> &notRemoved = {}) const;
    // One row's lesson, such as "not spam" said of it from the list; nullopt without a score.
    std::optional<learning::Lesson> lesson(int row, learning::Verdict verdict) const;

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
    const RowScores::Row *scoreRow(int row) const
    {
        return m_scores && row >= 1 && row < rows() ? m_scores->row(row) : nullptr;
    }
    // The row's tick and score go with its cells.
    void forgetRow(int row);
    QString text(int row, int index) const;
    // Replaces texts first..first + count - 1 of a row; the bit of each text that changed is set
    // in the result.
    unsigned write(int row, int first, const QStringView *texts, int count);
    // Columns first..last of a data row changed: told now, or noted for the open batch.
    void changed(int row, int first, int last);

    std::vector<Row> m_rows;
    // The unique ids, apart from the blocks: they come after the cells, for every row at once,
    // and are shared with the listing that gave them rather than copied into each block.
    MessageIds m_uids;
    std::vector<TickedBy> m_tickedBy; // as m_rows
    std::unique_ptr<RowScores> m_scores;
    QString m_account;
    QString m_idScope;
    Removal m_removal;
    int m_batches = 0;
    int m_batchFirst = 0; // rows written in the open batch, 0 when none
    int m_batchLast = 0;
};
