// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include "core/Ansi.h"
#include "core/DataFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

std::optional<QByteArray> openAndReadWhole(QFile &file, QIODevice::OpenMode mode, qint64 maxBytes)
{
    // Checked on the opened file, not the path, so nothing can be swapped in between; the
    // open itself must not wait for a FIFO's writer.
    const int flags = (mode & QIODevice::WriteOnly ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int fd = ::open(QFile::encodeName(file.fileName()).constData(), flags);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxBytes
        || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0
        || !file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    // One byte more than its size tells whether it grew meanwhile; it is then read on, but
    // never past the cap.
    QByteArray bytes = file.read(st.st_size + 1);
    if (bytes.size() > st.st_size)
        bytes += file.read(maxBytes + 1 - bytes.size());
    if (file.error() != QFileDevice::NoError || bytes.size() > maxBytes) {
        file.close();
        return std::nullopt;
    }
    return bytes;
}

std::optional<QByteArray> readWhole(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    return openAndReadWhole(file, QIODevice::ReadOnly, maxBytes);
}

namespace {

QString systemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

QString notWrittenText(const QString &path, const QString &cause)
{
    return QStringLiteral("Impossible d'écrire %1 (%2)").arg(path, cause);
}

bool writeAll(int fd, const QByteArray &content)
{
    const char *data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

} // namespace

bool entryExists(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool holdsOtherThanFile(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode);
}

bool writeWhole(const QString &path, const QByteArray &content, Existing existing, unsigned mode, QString *why)
{
    const auto fail = [&](const QString &cause) {
        if (why)
            *why = notWrittenText(path, cause);
        return false;
    };
    // Told apart before anything is written. Should a link be put there meanwhile, the
    // rename below still replaces the link itself, never its target.
    if (existing == Existing::MustBeRegular && holdsOtherThanFile(path))
        return fail(QStringLiteral("ce n'est pas un fichier ordinaire mais un lien, un périphérique, un tube ou un "
                                   "dossier : rien n'y a été écrit"));

    const QByteArray target = QFile::encodeName(path);
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash >= 0 ? target.left(slash + 1) : QByteArray();
    // A fresh name beside the destination; O_EXCL with O_NOFOLLOW never opens what is
    // already there, link or not.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = folder + ".pelicorde-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode));
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return fail(systemError(errno));
    // A record of the program's is small and guards the password: on the disk before it
    // replaces the old one, so that a crash leaves one or the other, never an empty file.
    bool ok = writeAll(fd, content) && (existing == Existing::Replace || ::fsync(fd) == 0);
    int failure = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    // rename() replaces the directory entry itself: a link there is replaced, never followed.
    if (ok && ::rename(temporary.constData(), target.constData()) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        ::unlink(temporary.constData());
        return fail(systemError(failure));
    }
    return true;
}

bool writePrivate(const QString &path, const QByteArray &content, QString *why)
{
    return writeWhole(path, content, Existing::MustBeRegular, 0600, why);
}

} // namespace files

namespace attachments {

namespace {

constexpr qsizetype MaxNameBytes = 255; // NAME_MAX of the usual Linux file systems

bool isControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

// Shortens name to fit MaxNameBytes, keeping a short extension so the file still opens
// with the right program.
QString fitted(const QString &name)
{
    if (QFile::encodeName(name).size() <= MaxNameBytes)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
    QString base = name.left(name.size() - suffix.size());
    while (!base.isEmpty() && QFile::encodeName(base + suffix).size() > MaxNameBytes)
        base.chop(base.size() > 1 && base.at(base.size() - 1).isLowSurrogate() ? 2 : 1);
    return base + suffix;
}

} // namespace

QString safeFileName(const QString &name, int ordinal)
{
    const qsizetype slash = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    QString last = name.mid(slash + 1);
    // '|' separates the names in the message list's attachment column.
    for (QChar &c : last)
        if (isControl(c) || c == QLatin1Char('|'))
            c = QLatin1Char('_');
    last = fitted(ansi::toUnicode(ansi::fromUnicode(last)));
    if (last.isEmpty() || last == QLatin1String(".") || last == QLatin1String(".."))
        return QStringLiteral("piece-jointe-%1").arg(ordinal);
    return last;
}

QString clearOfProgramFiles(const QString &name)
{
    if (!datafiles::isProgramFile(name))
        return name;
    const QString marker = QStringLiteral(" (pièce jointe)");
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString base = name, suffix;
    if (dot > 0 && !datafiles::isProgramFile(name.left(dot) + marker + name.mid(dot))) {
        base = name.left(dot);
        suffix = name.mid(dot);
    }
    while (base.size() > 1 && QFile::encodeName(base + marker + suffix).size() > MaxNameBytes)
        base.chop(base.at(base.size() - 1).isLowSurrogate() ? 2 : 1);
    return base + marker + suffix;
}

bool writeReplacing(const QString &path, const QByteArray &content, QString *error)
{
    return files::writeWhole(path, content, files::Existing::Replace, 0666, error);
}

} // namespace attachments
