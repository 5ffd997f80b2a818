// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QColor>
#include <QList>
#include <QSize>
#include <QString>
#include <QSystemTrayIcon>
#include <QWidget>

#include "core/AccountFile.h"
#include "core/AccountList.h"
#include "protocol/MailConnection.h"
#include "window/CheckState.h"

class ComboBox;
class ListBox;
class MessageGrid;
class MessageList;
class NewMailWatcher;
class Notifier;
class PreviewPane;
class ScanController;
class TrayWindow;
class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
#include <QPainter>
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;

// The main window. Its controls carry the names of the window design (also as objectName);
// each handler is a thin entry that runs the owning feature's handler under guarded(). The
// features see it only through those handlers, which read what they need once, and through the
// narrow objects it keeps for them (pane, scans and its display, tray).
class TForm1 : public QWidget
{
    Q_OBJECT
public:
    // workArea: the screen work area the layout is scaled to; empty means the primary
    // screen's available geometry.
    explicit TForm1(QSize workArea = QSize(), QWidget *parent = nullptr);
    ~TForm1() override;

    // Every control in the order of the window design (the order scaling walks them).
    QList<QWidget *> designOrder() const;

    // The connection fields as typed (Edit3, Edit4, Edit16, Edit15): the one reader of them.
    accounts::Account accountFields() const;
    // The account they name, TLS as CheckBox2 says: what every operation connects with.
    MailAccount account() const;
    // The one writer of the connection fields: all four, each shown from its start. Edit4's
    // handler is held back meanwhile (the caller applies the TLS rule after).
    void setAccountFields(const accounts::Account &fields);
    // CheckBox2: implicit TLS.
    void setTls(bool tls);
    // ComboBox1's saved accounts, none chosen; the file of the one the user chose; no choice.
    void setAccountChoices(const QList<accounts::AccountItem> &items);
    QString chosenAccountFile() const;
    void clearAccountChoice();

    // CheckBox4: whether the scan ticks what the learned score suggests.
    bool suggestionsOn() const;
    // Opens RowMenu for a row of SG1 at a point of the screen.
    void showRowMenu(int row, QPoint globalPos);

    // What F1 shows: the version, the licence, where the data folder is, the keys.
    QString aboutText() const;

    // Puts StatusBar1 5 pixels under SG1, as wide as SG1, 19 high.
    void statusBarPlacement();

    // Background of SG1's body cells (rest colour, dark red during a scan, grey in preview).
    void setGridColour(const QColor &colour);
    QColor gridColour() const;
    // Colour of ProgressBar1's bar.
    void setProgressBarColour(const QColor &colour);
    QColor progressBarColour() const;

    static const QColor GridRestColour;     // RGB 238, 255, 255
    static const QColor GridScanningColour; // RGB 128, 0, 0
    static const QColor GridPreviewColour;  // RGB 192, 192, 192
    static const QString PreviewFileName;   // "Htm_temp.htm"

    // Process-wide state of the main window.
    QString dataFolder;          // no separator at the end
    QString tempFolder;
    QString previewFolder;       // the preview file's private folder in tempFolder, made at the first preview
    bool firstShow = false;      // set by a completed creation step, cleared by the first show
    int normalGridHeight = 0;    // SG1's height at the last show
    int currentRow = 0;          // row of the last release over SG1
    CheckState check;            // where the checking of the mailbox stands
    QSystemTrayIcon *trayIcon = nullptr; // made on the tray's first request, through its face
    TrayWindow *tray = nullptr;          // what the tray sees of the window; made with the window
    ScanController *scans = nullptr;     // the scans nobody waits on, and their display; made with the window
    NewMailWatcher *watcher = nullptr;   // the IMAP watch, from the first show on
    Notifier *notifier = nullptr;        // the desktop notifications, from the first new mail on
    MessageList *list = nullptr;         // the model behind SG1
    PreviewPane *pane = nullptr;         // the preview pane's controls, as the preview drives them; made with the window

    // Controls of the top band.
    QLabel *Label5, *Label11, *Label10, *Label6;
    QLineEdit *Edit3, *Edit4, *Edit16, *Edit15;
    QPushButton *BitBtn1, *BitBtn6;
    QFrame *Bevel1;
    // Command band.
    QLabel *Label1;
    ComboBox *ComboBox1;
    QFrame *Bevel2;
    QPushButton *BitBtn2;
    QCheckBox *CheckBox1, *CheckBox2;
    QLineEdit *Edit10;
    QProgressBar *ProgressBar1;
    QPushButton *BitBtn7, *BitBtn4;
    QLabel *Image1, *Image2;
    // Message list and preview pane.
    MessageGrid *SG1;
    ListBox *ListBox1;
    QLabel *Label7, *Label9, *Label15, *Label8;
    QLineEdit *Edit11, *Edit12, *Edit13, *Edit14, *Edit17;
    QPushButton *BitBtn5, *BitBtn3, *BitBtn8;
    QWidget *WebBrowser1; // container; the web view goes in on the first preview
    QFrame *Panel1;
    QPlainTextEdit *Memo2;
    QStatusBar *StatusBar1;
    QCheckBox *CheckBox3; // in StatusBar1: start with the desktop session
    QCheckBox *CheckBox4; // in StatusBar1: the learned score's suggestions ticked, or not
    QPushButton *BitBtn9; // in StatusBar1: the friends list, in the blacklist's editor
    // SG1's row menu (right button over a row's text, the Menu key, Shift+F10), for menuRow.
    QMenu *RowMenu;
    QAction *AddToBlacklist1, *AddToFriends1, *NotSpam1;
    int menuRow = 0;
    // menuRow while it still shows the message the menu was opened on (a scan may have read the
    // mailbox again meanwhile); 0 otherwise.
    int rowOfMenu() const;
    // Non-visual parts.
    QMenu *PopupMenu1;
    QAction *Restaurer1, *VerifierMails1, *Quitter1;
    QTimer *Timer1, *Timer2;

public slots:
    void FormCreate();
    void FormShow();
    void FormClose();
    void FormDestroy();

    void BitBtn1Click();
    void ComboBox1DropDown();
    void ComboBox1Change();
    void Edit4Change();
    void BitBtn7Click();
    void BitBtn2Click();
    void SG1DrawCell(QPainter *painter, QRect rect, int column, int row);
    void SG1MouseUp(Qt::MouseButton button, QPoint pos);
    void SG1KeyDown(int key);
    void BitBtn3Click();
    void BitBtn8Click();
    void ListBox1MouseUp();
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn6Click();
    void Restaurer1Click();
    void VerifierMails1Click();
    void Quitter1Click();
    void Timer1Timer();
    void Timer2Timer();
    void TrayMessage(QSystemTrayIcon::ActivationReason reason);
    void AProposClick(); // F1
    void CheckBox3Click(); // start with the session, or no longer
    void CheckBox4Click(); // suggestions on or off
    void BitBtn9Click();   // the friends list
    void AddToBlacklist1Click();
    void AddToFriends1Click();
    void NotSpam1Click();

signals:
    // The window was closed: the process ends.
    void closed();
    // A scan has ended (its last steps belong to the tray and the periodic check).
    void scanEnded(int previousCount);
    // A connection field or the TLS box changed: the fields may name another account now.
    void accountEdited();

protected:
    bool focusNextPrevChild(bool next) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildDesign();
    void connectHandlers();

    QSize m_workArea;
    QList<QWidget *> m_tabOrder; // the focus stops, in the design's order
    bool m_showPending = false;
    QString m_menuSender, m_menuUid; // of menuRow when its menu opened
};

// The main window of the process (set while one exists).
extern TForm1 *Form1;
