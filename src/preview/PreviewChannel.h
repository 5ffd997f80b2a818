// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The line protocol between the program and pelicorde-preview, the process that shows the HTML
// view while the pane is open: one message a line, words separated by spaces, every text or URL
// in base64, so that nothing a page holds can break a line or forge a message.
//
// To the helper:  show | size W H | focus in REASON | focus out | tab 1|0 | shown
//                 | key PRESS KEY MODIFIERS SCANCODE VIRTUALKEY NATIVEMODIFIERS TEXT AUTOREPEAT
// From it:        loaded 1|0 | refused URL | leave 1|0 (Tab passed the page's end) | clicked
//                 | escape (Escape typed into its own window)
//                 | shown URL TITLE TEXT (what the page shows, its text as rendered)
#include <QByteArray>
#include <QList>
#include <QString>

namespace previewchannel {

inline QByteArray encode(const QString &text) { return text.toUtf8().toBase64(); }
inline QString decode(const QByteArray &word) { return QString::fromUtf8(QByteArray::fromBase64(word)); }

inline QByteArray line(const QList<QByteArray> &words) { return words.join(' ') + '\n'; }

// Takes the complete lines off the front of buffer, each split into its words.
inline QList<QList<QByteArray>> takeMessages(QByteArray &buffer)
{
    QList<QList<QByteArray>> messages;
    qsizetype end;
    while ((end = buffer.indexOf('\n')) >= 0) {
        messages << buffer.left(end).split(' ');
        buffer.remove(0, end + 1);
    }
    return messages;
}

} // namespace previewchannel
