// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// The blacklist editor: the whole blacklist as free text, one entry per line. Created hidden
// at start, shown and hidden, never closed by the user (it has no title-bar buttons). Its design
// is here; its event handlers, in app/, run the blacklist's own.
class TForm2 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm2(QWidget *parent = nullptr);
    ~TForm2() override;

    QPlainTextEdit *Memo1;
    QPushButton *BitBtn1; // save and close
    QPushButton *BitBtn2; // close without saving
    // The text Memo1 was last loaded with from the file: tells a NUL of the file from a
    // "\u2400" the user typed when saving.
    QString loadedText;
    // The file it was opened on (the main window's data folder), and saves to.
    QString path;
    // Why the file could not be loaded, when it could not: the editor then shows nothing,
    // takes no typing and does not save over the file. Empty once a load gets through.
    QString unsavable;

    // Shown, in front, and the active window.
    void present();
    // Says why the file cannot be edited (unsavable): nothing shown, no typing, no saving. Empty:
    // it can be again.
    void setUnsavable(const QString &why);
    // text in Memo1, as loaded from the file.
    void showLoaded(const QString &text);
    // Memo1's text as typed, non-breaking spaces (byte 0xA0) kept as such.
    QString text() const;

public slots:
    void BitBtn1Click();
    void BitBtn2Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
};

// The blacklist editor of the process (set while one exists).
extern TForm2 *Form2;
