// SPDX-License-Identifier: GPL-3.0-or-later
// A blacklist file as found in the data folder, and the senders of a scan. The editor's
// reading and writing of it, and the scan's marking pass, whose date rewrite keeps the
// file's length and every byte outside the rewritten dates.
#include <QFile>
#include <QTemporaryDir>
#include <vector>

#include "FuzzCheck.h"
#include "core/Ansi.h"
#include "core/BlacklistFile.h"
#include "mailbox/MessageList.h"
#include "mailbox/SpamMarking.h"

namespace {
bool isSeparator(char b)
{
    return b == '\t' || b == '\r' || b == '\n';
}

bool wellFormedAfter(const QByteArray &bytes, qsizetype tab)
{
    if (bytes.at(tab) != '\t' || tab + 12 >= bytes.size())
        return false;
    for (qsizetype i = tab + 1; i <= tab + 10; ++i)
        if (isSeparator(bytes.at(i)))
            return false;
    return bytes.at(tab + 11) == '\r' && bytes.at(tab + 12) == '\n';
}

// The pass as its contract reads, token by token and row by row: the marks it gives and the
// offsets of the date fields it may rewrite.
QString expectedMarks(const QByteArray &bytes, const QStringList &senders, QString marks,
                      std::vector<qsizetype> &dates)
{
    // A UTF-8 byte order mark at the very start is not part of the first entry.
    qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    bool skip = false;
    for (qsizetype i = start; i < bytes.size(); ++i) {
        if (!isSeparator(bytes.at(i)))
            continue;
        const QByteArray token = bytes.mid(start, i - start);
        start = i + 1;
        if (skip) {
            skip = false;
            continue;
        }
        if (token.isEmpty())
            continue;
        const QString pattern = ansi::toUnicode(token);
        bool caught = false;
        for (qsizetype r = 0; r < senders.size(); ++r) {
            if (marks[r] == u'.' && senders[r].contains(pattern)) {
                marks[r] = u'1';
                caught = true;
            }
        }
        if (caught && wellFormedAfter(bytes, i)) {
            skip = true;
            dates.push_back(i + 1);
        }
    }
    return marks;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    if (size < 1)
        return 0;
    // Byte 0: senders (0-7), bit 3 senders in UTF-8 (else Windows-1252), bits 4-5 the last
    // header date (none, 10 bytes, 10 bytes, 9 bytes). Each sender: a length byte (bit 7: row
    // already marked) and its bytes. Then the date's bytes, then the file.
    const int senderCount = data[0] & 7;
    const bool utf8 = data[0] & 8;
    const int dateMode = (data[0] >> 4) & 3;
    size_t at = 1;
    QStringList senders;
    QString marksBefore;
    for (int i = 0; i < senderCount && at < size; ++i) {
        const size_t length = std::min<size_t>(data[at] & 31, size - at - 1);
        marksBefore += (data[at] & 0x80) ? u'1' : u'.';
        const QByteArray raw(reinterpret_cast<const char *>(data) + at + 1, qsizetype(length));
        senders.append(utf8 ? QString::fromUtf8(raw) : ansi::toUnicode(raw));
        at += 1 + length;
    }
    QString lastHeaderDate;
    if (dateMode != 0) {
        const size_t length = std::min<size_t>(dateMode == 3 ? 9 : 10, size - std::min(at, size));
        lastHeaderDate = ansi::toUnicode(QByteArray(reinterpret_cast<const char *>(data) + at, qsizetype(length)));
        at += length;
    }
    const QByteArray before(reinterpret_cast<const char *>(data) + std::min(at, size), qsizetype(size - std::min(at, size)));

    // The editor: a load and an unchanged save give back the lines as loaded, each with its
    // TAB and CR LF.
    const QString text = blacklist::textFromBytes(before);
    const QByteArray saved = blacklist::bytesFromText(text, text);
    FUZZ_CHECK(blacklist::bytesFromText(blacklist::textFromBytes(saved), blacklist::textFromBytes(saved)) == saved);
    FUZZ_CHECK(saved.isEmpty() || saved.endsWith("\r\n"));
    FUZZ_CHECK(saved.count('\0') == before.count('\0'));

    // The scan's pass over the same bytes as a file.
    const QString path = blacklist::filePath(dir.path());
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(before) == before.size());
    }
    MessageList list;
    list.setRows(std::max<int>(2, int(senders.size()) + 1));
    list.clearDataRows();
    for (qsizetype r = 0; r < senders.size(); ++r) {
        list.setCell(int(r) + 1, MessageList::From, senders[r]);
        if (marksBefore[r] == u'1')
            list.setCell(int(r) + 1, MessageList::Mark, QStringLiteral("1"));
    }
    blacklistPass(path, list, lastHeaderDate);
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();

    std::vector<qsizetype> dates;
    const QString expected = expectedMarks(before, senders, marksBefore, dates);
    QString marks;
    for (qsizetype r = 0; r < senders.size(); ++r)
        marks += list.isMarked(int(r) + 1) ? u'1' : u'.';
    FUZZ_CHECK(marks == expected);

    FUZZ_CHECK(after.size() == before.size());
    const QByteArray date = ansi::fromUnicode(lastHeaderDate);
    bool dateFits = date.size() == 10;
    for (char b : date)
        dateFits = dateFits && !isSeparator(b) && b != '\0';
    QByteArray expectedBytes = before;
    if (dateFits)
        for (qsizetype offset : dates)
            expectedBytes.replace(offset, 10, date);
    FUZZ_CHECK(after == expectedBytes);
    return 0;
}
