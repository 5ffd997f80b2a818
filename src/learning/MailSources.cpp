// SPDX-License-Identifier: GPL-3.0-or-later
#include "learning/MailSources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace learning {
namespace {

constexpr qint64 kMaxHeaderBytes = 1024 * 1024;
constexpr qint64 kMaxLineBytes = 64 * 1024; // a longer line is read in pieces

// Opens path for reading when it is a regular file (links followed), without waiting on a
// FIFO's writer on the way.
bool openRegular(const QString &path, QFile &file)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

bool isBlankLine(const QByteArray &line) { return line == "\n" || line == "\r\n"; }

// The header block of the message file opened in file: its lines up to the first blank one.
QByteArray headerOf(QFile &file)
{
    QByteArray header;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(kMaxLineBytes);
        if (line.isEmpty() || isBlankLine(line))
            break;
        if (header.size() < kMaxHeaderBytes)
            header += line;
    }
    return header;
}

class Reader
{
public:
    explicit Reader(const std::function<bool(const QByteArray &)> &take) : m_take(take) {}

    SourceSummary summary;

    // False once take asked to stop.
    bool path(const QString &path)
    {
        const QFileInfo info(path);
        if (info.isDir())
            return folder(path);
        QFile file;
        if (!openRegular(path, file)) {
            summary.problems << (info.exists() ? QStringLiteral("%1 : ce n'est pas un fichier ordinaire ou il est "
                                                                "illisible ; passé")
                                               : QStringLiteral("%1 : introuvable"))
                                    .arg(path);
            return true;
        }
        if (file.peek(5) == "From ")
            return mbox(file);
        return give(headerOf(file));
    }

private:
    bool give(const QByteArray &header)
    {
        ++summary.messages;
        return m_take(header);
    }

    bool folder(const QString &path)
    {
        const QDir dir(path);
        QStringList files;
        const bool maildir = dir.exists(QStringLiteral("cur")) || dir.exists(QStringLiteral("new"));
        for (const QString &sub : maildir ? QStringList{QStringLiteral("cur"), QStringLiteral("new")} : QStringList{QString()}) {
            const QDir d(sub.isEmpty() ? path : dir.filePath(sub));
            for (const QString &name : d.entryList(QDir::Files | QDir::System, QDir::Name))
                files << d.filePath(name);
        }
        // Maildir names start with the delivery time: one order for cur/ and new/ together.
        std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
            return QFileInfo(a).fileName() < QFileInfo(b).fileName();
        });
        for (const QString &f : std::as_const(files)) {
            QFile file;
            if (!openRegular(f, file)) {
                summary.problems << QStringLiteral("%1 : ce n'est pas un fichier ordinaire ou il est illisible ; passé")
                                        .arg(f);
                continue;
            }
            if (!give(headerOf(file)))
                return false;
        }
        return true;
    }

    // mboxo and mboxrd alike: a body line starting "From " is written ">From " there, and a
    // new message starts at a "From " line that follows a blank line. Read line by line here:
    // GMime's mbox parser would build every message, bodies included, and give back the header
    // rewritten, where the bytes as kept are wanted (the same a server sends).
    bool mbox(QFile &file)
    {
        QByteArray header;
        bool inHeader = false, afterBlank = true;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine(kMaxLineBytes);
            if (line.isEmpty())
                break;
            const bool blank = isBlankLine(line);
            if (afterBlank && line.startsWith("From ")) {
                if (inHeader && !give(header))
                    return false;
                header.clear();
                inHeader = true;
            } else if (inHeader) {
                if (blank) {
                    inHeader = false;
                    if (!give(header))
                        return false;
                } else if (header.size() < kMaxHeaderBytes) {
                    header += line;
                }
            }
            afterBlank = blank;
        }
        return !inHeader || give(header);
    }

    const std::function<bool(const QByteArray &)> &m_take;
};

} // namespace

SourceSummary readHeaderBlocks(const QString &path, const std::function<bool(const QByteArray &header)> &take)
{
    Reader reader(take);
    reader.path(path);
    return reader.summary;
}

} // namespace learning
