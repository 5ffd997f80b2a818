// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/MessageList.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <cstring>

// A row's block: a byte whose bit i says that text i is stored in UTF-16 (else in Latin-1, one
// byte a character: most mail text fits), the seven lengths in characters (7 bits a byte, the
// high bit set on all but a length's last byte), then the seven texts one after the other. A
// QString per cell would cost some 50 bytes of bookkeeping each beside its text.
struct MessageList::Block
{
    unsigned char wide;
};

void MessageList::BlockDeleter::operator()(Block *block) const
{
    std::free(block);
}

namespace {

struct Layout
{
    unsigned wide = 0;
    qsizetype length[9] = {}; // characters
    const unsigned char *text[9] = {};
};

template <typename Block>
Layout layoutOf(const Block *block, int count)
{
    Layout layout;
    if (!block)
        return layout;
    const auto *p = reinterpret_cast<const unsigned char *>(block);
    layout.wide = *p++;
    for (int i = 0; i < count; ++i) {
        qsizetype length = 0;
        for (int shift = 0;; shift += 7) {
            const unsigned char b = *p++;
            length |= qsizetype(b & 0x7F) << shift;
            if (!(b & 0x80))
                break;
        }
        layout.length[i] = length;
    }
    for (int i = 0; i < count; ++i) {
        layout.text[i] = p;
        p += layout.length[i] * ((layout.wide >> i & 1) ? 2 : 1);
    }
    return layout;
}

bool fitsLatin1(QStringView text)
{
    for (const QChar c : text)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

bool same(const Layout &layout, int i, QStringView text)
{
    if (layout.length[i] != text.size())
        return false;
    const unsigned char *stored = layout.text[i];
    if (layout.wide >> i & 1)
        return std::memcmp(stored, text.data(), size_t(text.size()) * 2) == 0;
    for (qsizetype k = 0; k < text.size(); ++k)
        if (text[k].unicode() != stored[k])
            return false;
    return true;
}

unsigned char *putLength(unsigned char *p, qsizetype length)
{
    while (length >= 0x80) {
        *p++ = (unsigned char)(length | 0x80);
        length >>= 7;
    }
    *p++ = (unsigned char)length;
    return p;
}

} // namespace

MessageList::MessageList(QObject *parent) : QAbstractTableModel(parent), m_rows(2), m_tickedBy(2) {}

MessageList::~MessageList() = default;

void MessageList::setRows(int n)
{
    n = std::max(n, 2);
    const int old = rows();
    if (n == old)
        return;
    if (n < old) {
        beginRemoveRows({}, n - 1, old - 2);
        for (int r = n; r < old; ++r)
            forgetRow(r);
        m_rows.resize(n);
        m_tickedBy.resize(n);
        m_uids.truncate(n);
        endRemoveRows();
    } else {
        beginInsertRows({}, old - 1, n - 2);
        m_rows.resize(n);
        m_tickedBy.resize(n);
        endInsertRows();
    }
}

QString MessageList::text(int row, int index) const
{
    const Layout layout = layoutOf(m_rows[row].get(), TextCount);
    const qsizetype length = layout.length[index];
    if (length == 0)
        return {};
    if (!(layout.wide >> index & 1))
        return QString::fromLatin1(reinterpret_cast<const char *>(layout.text[index]), length);
    QString text(length, Qt::Uninitialized);
    std::memcpy(text.data(), layout.text[index], size_t(length) * 2);
    return text;
}

bool MessageList::cellIs(int row, int index, QStringView text) const
{
    return row >= 0 && row < rows() && same(layoutOf(m_rows[row].get(), TextCount), index, text);
}

unsigned MessageList::write(int row, int first, const QStringView *texts, int count)
{
    const Layout old = layoutOf(m_rows[row].get(), TextCount);
    unsigned changed = 0;
    for (int i = 0; i < count; ++i)
        if (!same(old, first + i, texts[i]))
            changed |= 1u << (first + i);
    if (!changed)
        return 0;
    unsigned wide = 0;
    qsizetype length[TextCount];
    qsizetype size = 1, characters = 0;
    for (int i = 0; i < TextCount; ++i) {
        const bool given = changed >> i & 1;
        length[i] = given ? texts[i - first].size() : old.length[i];
        if (given ? !fitsLatin1(texts[i - first]) : (old.wide >> i & 1))
            wide |= 1u << i;
        for (qsizetype rest = length[i]; rest >= 0x80; rest >>= 7)
            ++size;
        size += 1 + length[i] * ((wide >> i & 1) ? 2 : 1);
        characters += length[i];
    }
    if (characters == 0) {
        m_rows[row].reset();
        return changed;
    }
    auto *block = static_cast<unsigned char *>(std::malloc(size_t(size)));
    if (!block)
        throw std::bad_alloc();
    unsigned char *p = block;
    *p++ = (unsigned char)wide;
    for (int i = 0; i < TextCount; ++i)
        p = putLength(p, length[i]);
    for (int i = 0; i < TextCount; ++i) {
        const qsizetype bytes = length[i] * ((wide >> i & 1) ? 2 : 1);
        if (bytes == 0) {
            // An empty text may have no storage at all: nothing to copy from.
        } else if (!(changed >> i & 1)) {
            std::memcpy(p, old.text[i], size_t(bytes));
        } else if (wide >> i & 1) {
            std::memcpy(p, texts[i - first].data(), size_t(bytes));
        } else {
            const QStringView text = texts[i - first];
            for (qsizetype k = 0; k < length[i]; ++k)
                p[k] = (unsigned char)text[k].unicode();
        }
        p += bytes;
    }
    m_rows[row].reset(reinterpret_cast<Block *>(block));
    return changed;
}

QString MessageList::cell(int row, int column) const
{
    if (row < 0 || row >= rows() || column < 0 || column >= ColumnCount)
        return {};
    return text(row, column);
}

void MessageList::readCell(int row, int column, QString &into) const
{
    if (row < 0 || row >= rows() || column < 0 || column >= ColumnCount) {
        into.clear();
        return;
    }
    const Layout layout = layoutOf(m_rows[row].get(), TextCount);
    const qsizetype length = layout.length[column];
    into.resize(length);
    if (length == 0)
        return;
    QChar *out = into.data();
    if (layout.wide >> column & 1) {
        std::memcpy(out, layout.text[column], size_t(length) * 2);
    } else {
        for (qsizetype k = 0; k < length; ++k)
            out[k] = QChar(char16_t(layout.text[column][k]));
    }
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
    // Only the marking ticks through setTick(): this is the user's tick or untick.
    if (column == Mark && row >= 1 && m_tickedBy[row] != TickedBy::User) {
        m_tickedBy[row] = TickedBy::User;
        if (cellIs(row, Mark, fullText))
            changed(row, Mark, Mark);
    }
    // A text within the cap is read in place: no copy of it.
    const QString cut = fullText.size() > MaxCellLength ? kept(fullText) : QString();
    const QStringView view = fullText.size() > MaxCellLength ? QStringView(cut) : QStringView(fullText);
    if (!write(row, column, &view, 1))
        return;
    if (row == 0)
        emit headerDataChanged(Qt::Horizontal, column, column);
    else
        changed(row, column, column);
}

void MessageList::setCells(int row, int firstColumn, std::initializer_list<QString> texts)
{
    if (row < 1 || row >= rows() || firstColumn < 0 || firstColumn >= ColumnCount)
        return;
    QString cuts[ColumnCount];
    QStringView views[ColumnCount];
    int count = 0;
    for (const QString &text : texts)
        if (firstColumn + count < ColumnCount) {
            if (text.size() > MaxCellLength) {
                cuts[count] = kept(text);
                views[count] = cuts[count];
            } else {
                views[count] = text;
            }
            ++count;
        }
    if (firstColumn <= Mark && firstColumn + count > Mark)
        m_tickedBy[row] = TickedBy::User;
    const unsigned changed = write(row, firstColumn, views, count);
    if (!changed)
        return;
    int first = 0, last = ColumnCount - 1;
    while (!(changed >> first & 1))
        ++first;
    while (!(changed >> last & 1))
        --last;
    this->changed(row, first, last);
}

void MessageList::changed(int row, int first, int last)
{
    if (m_batches == 0) {
        emit dataChanged(indexOf(row, first), indexOf(row, last));
        return;
    }
    m_batchFirst = m_batchFirst == 0 ? row : std::min(m_batchFirst, row);
    m_batchLast = std::max(m_batchLast, row);
}

void MessageList::announce()
{
    if (m_batchFirst == 0)
        return;
    // Rows dropped meanwhile are not told of.
    const int last = std::min(m_batchLast, rows() - 1);
    if (m_batchFirst <= last)
        emit dataChanged(indexOf(m_batchFirst, 0), indexOf(last, ColumnCount - 1));
    m_batchFirst = m_batchLast = 0;
}

QString MessageList::uid(int row) const
{
    return row >= 0 && row < rows() ? m_uids.at(row) : QString();
}

void MessageList::setUid(int row, const QString &uid)
{
    if (row >= 0 && row < rows())
        m_uids.set(row, uid.toUtf8());
}

void MessageList::setUids(MessageIds ids, int last)
{
    ids.truncate(std::min(last, rows() - 1) + 1);
    ids.set(0, QByteArrayView());
    m_uids = std::move(ids);
}

void MessageList::forgetRow(int row)
{
    m_tickedBy[row] = TickedBy::Nobody;
    if (m_scores)
        m_scores->forget(row);
}

void MessageList::clearRow(int row)
{
    if (row < 1 || row >= rows())
        return;
    m_rows[row].reset();
    forgetRow(row);
    m_uids.set(row, QByteArrayView());
    emit dataChanged(indexOf(row, 0), indexOf(row, ColumnCount - 1));
}

void MessageList::clearDataRows()
{
    for (int r = 1; r < rows(); ++r)
        m_rows[r].reset();
    std::fill(m_tickedBy.begin(), m_tickedBy.end(), TickedBy::Nobody);
    m_scores.reset();
    m_uids.truncate(1);
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
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return cell(index.row() + 1, index.column());
    if (index.column() != Mark)
        return {};
    if (role == SuggestionRole)
        return isSuggestion(index.row() + 1);
    if (role == Qt::ToolTipRole && isScored(index.row() + 1))
        return scoreTip(index.row() + 1);
    return {};
}

void MessageList::setTick(int row, TickedBy by)
{
    if (row < 1 || row >= rows() || by == TickedBy::User)
        return;
    const bool tick = by != TickedBy::Nobody;
    const bool same = cellIs(row, Mark, tick ? u"1" : u"");
    const bool moved = m_tickedBy[row] != by;
    m_tickedBy[row] = by;
    if (!same) {
        const QString text = tick ? QStringLiteral("1") : QString();
        const QStringView view(text);
        if (write(row, Mark, &view, 1))
            changed(row, Mark, Mark);
    } else if (moved) {
        changed(row, Mark, Mark);
    }
}

int MessageList::suggestionCount() const
{
    int n = 0;
    for (int r = 1; r < rows(); ++r)
        n += isSuggestion(r) ? 1 : 0;
    return n;
}

void MessageList::setScores(std::unique_ptr<RowScores> scores)
{
    m_scores = std::move(scores);
}

std::optional<learning::SpamScore> MessageList::score(int row) const
{
    const RowScores::Row *at = scoreRow(row);
    return at ? std::optional(at->score()) : std::nullopt;
}

bool MessageList::scoreSuggests(int row) const
{
    const RowScores::Row *at = scoreRow(row);
    return at && learning::isSuggested(at->score(), m_scores->spamLearned, m_scores->hamLearned);
}

QString MessageList::scoreTip(int row) const
{
    const RowScores::Row *at = scoreRow(row);
    return at ? learning::explanation(at->score(), m_scores->spamLearned, m_scores->hamLearned) : QString();
}

std::optional<learning::Lesson> MessageList::lesson(int row, learning::Verdict verdict) const
{
    const RowScores::Row *at = scoreRow(row);
    if (!at || at->tokens == 0)
        return std::nullopt;
    return learning::Lesson{learning::headerIdText(at->id), {}, verdict, m_scores->tokensOf(row)};
}

QList<learning::Lesson> MessageList::lessonsAfterDeletion(const QList<int> &notRemoved) const
{
    QList<learning::Lesson> lessons;
    if (!m_scores)
        return lessons;
    std::vector<char> left(std::size_t(rows()), 0);
    for (const int r : notRemoved)
        if (r >= 1 && r < rows())
            left[std::size_t(r)] = 1;
    int legitimate = 0;
    // The newest rows last on the server: read from the end, so the bound keeps the newest.
    for (int r = rows() - 1; r >= 1; --r) {
        const RowScores::Row *at = scoreRow(r);
        if (!at || left[std::size_t(r)])
            continue;
        const learning::Verdict verdict = isMarked(r) ? learning::Verdict::Spam : learning::Verdict::Ham;
        if (at->learned == qint8(verdict))
            continue;
        if (verdict == learning::Verdict::Ham && legitimate >= kMaxLegitimateLessons)
            continue;
        if (std::optional<learning::Lesson> l = lesson(r, verdict)) {
            legitimate += verdict == learning::Verdict::Ham ? 1 : 0;
            lessons << std::move(*l);
        }
    }
    return lessons;
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
