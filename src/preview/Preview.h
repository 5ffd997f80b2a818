// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

#include "window/PreviewPane.h"

class MessageList;
class QWidget;
class TForm1;
struct MailAccount;

// The preview of one message in the main window's pane.

// Longest text the preview file takes; a text this long or longer shows its length instead.
constexpr int PreviewTextLimit = 500000;

// The handler of a click on a message's sender, subject or date, and of Enter on it: downloads
// message r (its number on the server) and shows it in the pane.
void previewMessage(TForm1 &form, int r);

// Downloads message r of list from the mailbox of account (with the records of dataFolder) and
// shows it in pane.
void showMessage(PreviewPane &pane, const MailAccount &account, const QString &dataFolder, const MessageList &list,
                 int r);

// Writes text to the pane's preview file and points the HTML view at that file. When it cannot
// be written: a beep, and the file goes, so that the view shows nothing rather than an older page.
void writeAndShow(PreviewPane &pane, const QString &text);

// Where the HTML view runs.
enum class WebViewHost {
    // In pelicorde-preview, a process of the program's own that ends with the pane, and all the
    // web engine took with it: on X11, and without a display.
    Helper,
    // In the program, from the web view library: elsewhere (no window of another process can sit
    // in the pane), or when the helper is missing. The engine then stays once loaded.
    InProcess,
};
WebViewHost defaultWebViewHost();

// The pane's HTML view (a RemoteWebView or a SafeWebView), created when the pane has none;
// nullptr when it cannot be made (the text view still shows the message).
QWidget *ensurePreviewView(PreviewPane &pane, WebViewHost host = defaultWebViewHost());
