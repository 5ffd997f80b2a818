// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QObject>
#include <QString>

class QWidget;
class TForm1;

// SG1's height while the pane is open.
constexpr int OpenPaneGridHeight = 153;

// The preview pane of the main window: its fields (Edit11 to Edit14, Edit17), the text view
// (Memo2 on Panel1), the HTML view's container (WebBrowser1), its buttons (BitBtn3, BitBtn5,
// BitBtn8), and the list's share of the window while it is open. The preview drives it; it
// knows no message, no session and no web engine. Made with the window, and goes with it.
class PreviewPane final : public QObject
{
public:
    explicit PreviewPane(TForm1 &form);

    // Open: Label7 shown.
    bool isOpen() const;
    // The list shrinks to OpenPaneGridHeight and the pane shows, its page in front.
    void open();
    // Hides the pane and gives the list back its normal height, rest colour and enabled state;
    // ends the HTML view. Focus that was in the window goes back to the list's current row.
    void close();

    // The list while a message downloads: grey, and deaf to clicks until the pane closes.
    void holdList();

    // The message's fields, each shown from its start, as typed text would be.
    void showFields(const QString &from, const QString &to, const QString &date, const QString &time,
                    const QString &subject);

    // The text view: emptied, text appended as lines followed by a line break, its length, and
    // its start brought into view.
    void clearText();
    void addText(const QString &text);
    qsizetype textLength() const;
    void showTextStart();

    // Which view is in front: the page (with the focus), the text view (with the focus), the
    // text view over a page that went away (the focus left where it is), or the other one.
    void showPage();
    void showText();
    void coverPage();
    void switchView();
    bool pageInFront() const;

    // BitBtn5: offers to save the message's attachments ("PJ = count"), or no longer.
    void offerAttachments(const QString &count);
    void withdrawAttachments();

    // The HTML view, while the pane holds one; nullptr otherwise.
    QWidget *view() const;
    // What a new view is made in, and the text view that may lie over it.
    QWidget *viewParent() const;
    QWidget *textView() const;
    // Puts view in the pane: it fills the container, takes its focus, and Escape from inside it
    // closes the pane.
    void setView(QWidget *view);
    // Ends the HTML view (its page, and the processes that drew it).
    void releaseView();

    // "Htm_temp.htm" in a folder of the program's own inside the temp folder (made on the first
    // call): in a shared temp folder, another user could otherwise plant the page the view shows.
    // Empty when no such folder can be made.
    QString filePath();
    // The file goes, and its folder: it holds the last message previewed, often spam.
    void removeFile();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<QWidget *> controls() const;

    TForm1 &m_form;
    bool m_watchingEscape = false;
};
