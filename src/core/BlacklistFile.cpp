// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/BlacklistFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>

#include "core/Ansi.h"
#include "core/Folders.h"
#include "core/SafeFile.h"

namespace blacklist {

QString filePath(const QString &dataFolder)
{
    return folders::join(dataFolder, QLatin1String(kFileName));
}

qsizetype byteOrderMarkLength(const QByteArray &bytes)
{
    return bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
}

QString textFromBytes(const QByteArray &bytes)
{
    const qsizetype mark = byteOrderMarkLength(bytes);
    const QString raw = ansi::toUnicode(bytes.constData() + mark, bytes.size() - mark);
    QString text;
    text.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c == u'\r') {
            if (i + 1 < raw.size() && raw.at(i + 1) == u'\n')
                ++i;
            text.append(u'\n');
        } else if (c == u'\0') {
            text.append(QChar(kNulSymbol));
        } else {
            text.append(c);
        }
    }
    return text;
}

namespace {

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == u'\u2028' || c == u'\u2029';
}

// Calls line(start, end) for each line of text, as bytesFromText splits it.
template<typename F>
void forEachLine(const QString &text, F &&line)
{
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (!isLineBreak(text.at(i)))
            continue;
        line(start, i);
        if (text.at(i) == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        line(start, n);
}

} // namespace

QByteArray bytesFromText(const QString &text, const QString &loadedText)
{
    // The loaded lines that show a NUL of the file.
    QSet<QStringView> fileNulLines;
    if (text.contains(QChar(kNulSymbol)))
        forEachLine(loadedText, [&](qsizetype start, qsizetype end) {
            const QStringView line = QStringView(loadedText).sliced(start, end - start);
            if (line.contains(QChar(kNulSymbol)))
                fileNulLines.insert(line);
        });

    QByteArray out;
    out.reserve(text.size() + text.size() / 4);
    forEachLine(text, [&](qsizetype start, qsizetype end) {
        QString line = text.mid(start, end - start);
        // Anywhere else the user typed it: '?', as any character outside the code page.
        if (fileNulLines.contains(line))
            line.replace(QChar(kNulSymbol), QChar(u'\0'));
        const QByteArray bytes = ansi::fromUnicode(line);
        out.append(bytes);
        if (!bytes.contains('\t')) {
            out.append('\t');
            out.append(kPlaceholderDate);
        }
        out.append("\r\n");
    });
    // A first entry whose own bytes read as a byte order mark ("ï»¿") would lose them at the
    // next load; a mark ahead of them keeps them.
    if (byteOrderMarkLength(out) != 0)
        out.prepend("\xEF\xBB\xBF");
    return out;
}

std::optional<QString> loadEditorText(const QString &path, QString *why, SenderList list)
{
    if (!files::entryExists(path))
        return std::nullopt;
    // The editor saves what it shows: a file it cannot show whole must not be replaced by it.
    const QFileInfo info(path);
    QString cause;
    if (files::holdsOtherThanFile(path))
        cause = QStringLiteral("ce n'est pas un fichier ordinaire mais un lien, un périphérique, un tube ou un dossier");
    else if (info.size() > kMaxFileSize)
        cause = QStringLiteral("elle dépasse %1 Mo").arg(kMaxFileSize / (1024 * 1024));
    else if (const std::optional<QByteArray> bytes = files::readWhole(path, kMaxFileSize))
        return textFromBytes(*bytes);
    else
        cause = QStringLiteral("le système en refuse la lecture");
    if (why)
        *why = QStringLiteral("%1 %2 n'a pas pu être lue : %3.\nElle ne peut pas être modifiée ici, "
                              "et rien n'y sera écrit.")
                   .arg(list == SenderList::Friends ? QStringLiteral("La liste d'amis") : QStringLiteral("La liste noire"),
                        path, cause);
    return std::nullopt;
}

bool saveEditorText(const QString &path, const QString &text, const QString &loadedText, QString *why)
{
    return files::writePrivate(path, bytesFromText(text, loadedText), why);
}

bool addPattern(const QString &path, const QString &pattern, SenderList list, QString *why)
{
    const QString name = list == SenderList::Friends ? QStringLiteral("la liste d'amis") : QStringLiteral("la liste noire");
    const bool breaks = std::any_of(pattern.begin(), pattern.end(), [](QChar c) { return c == u'\t' || isLineBreak(c); });
    if (pattern.isEmpty() || breaks || pattern.contains(QChar(kNulSymbol)) || ansi::toUnicode(ansi::fromUnicode(pattern)) != pattern) {
        if (why)
            *why = QStringLiteral("« %1 » ne peut pas être ajouté à %2 : un motif ne peut être vide ni contenir de "
                                  "tabulation, de saut de ligne ou de caractère hors de Windows-1252.")
                       .arg(pattern, name);
        return false;
    }
    QString loaded;
    if (files::entryExists(path)) {
        const std::optional<QString> text = loadEditorText(path, why, list);
        if (!text)
            return false;
        loaded = *text;
    }
    bool present = false;
    forEachLine(loaded, [&](qsizetype start, qsizetype end) {
        present = present || QStringView(loaded).sliced(start, end - start).split(u'\t').front() == pattern;
    });
    if (present)
        return true;
    QString text = loaded;
    if (!text.isEmpty() && !isLineBreak(text.back()))
        text += u'\n';
    return saveEditorText(path, text + pattern, loaded, why);
}

} // namespace blacklist
