// SPDX-License-Identifier: GPL-3.0-or-later
#include "preview/PreviewFile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Ansi.h"

bool writePreviewFile(const QString &path, const QString &text)
{
    const QFileInfo target(path);
    QByteArray temp = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                                        QStringLiteral(".XXXXXX"));
    const int fd = mkstemp(temp.data()); // created exclusively, mode 0600
    if (fd < 0)
        return false;

    const QByteArray bytes = ansi::fromUnicode(text, ansi::Outside::CharacterReference);
    bool ok = fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    qsizetype done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += n;
    }
    ok = ::close(fd) == 0 && ok;
    if (ok)
        ok = std::rename(temp.constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok)
        ::unlink(temp.constData());
    return ok;
}
