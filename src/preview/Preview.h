// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

class QWidget;
class TForm1;

// The preview pane of the main window.

// Longest text the preview file takes; a text this long or longer shows its length instead.
constexpr int PreviewTextLimit = 500000;
constexpr int OpenPaneGridHeight = 153;

// Downloads message r (its number on the server) and shows it in the pane.
void previewMessage(TForm1 &form, int r);

// True when the pane is open (Label7 shown).
bool previewPaneOpen(const TForm1 &form);
void openPreviewPane(TForm1 &form);
// Hides the pane and gives the list back its normal height, rest colour and enabled state.
void closePreviewPane(TForm1 &form);

// "Htm_temp.htm" in a folder of the program's own inside the temp folder (made on the first
// call): in a shared temp folder, another user could otherwise plant the page the view shows.
// Empty when no such folder can be made.
QString previewFilePath(TForm1 &form);

// Writes text to the preview file and points the HTML view at that file. When it cannot be
// written: a beep, and the file goes, so that the view shows nothing rather than an older page.
void writeAndShow(TForm1 &form, const QString &text);

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

// The HTML view inside WebBrowser1 (a RemoteWebView or a SafeWebView) while the pane holds one.
QWidget *previewView(const TForm1 &form);
// The HTML view, created when the pane has none; nullptr when it cannot be made (the text view
// still shows the message).
QWidget *ensurePreviewView(TForm1 &form, WebViewHost host = defaultWebViewHost());
// Ends the HTML view, its page and the processes that drew it.
void releasePreviewView(TForm1 &form);
