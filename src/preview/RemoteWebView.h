// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QPointer>
#include <QProcess>
#include <QUrl>
#include <QWidget>

// The HTML view of the preview pane, shown by pelicorde-preview, a process of the program's own
// that lives as long as this widget: the web engine, its memory and its own processes never
// enter the program, and all of them end when the pane closes. On X11 the helper's window sits
// inside this widget; the keyboard stays here and is passed on.
class RemoteWebView final : public QWidget
{
    Q_OBJECT
public:
    // Starts helper (the path of pelicorde-preview) on filePath; embeds its window when embed.
    RemoteWebView(const QString &helper, const QString &filePath, bool embed, QWidget *parent);
    ~RemoteWebView() override;

    // (Re)loads the file, restarting the helper should it have ended.
    Q_INVOKABLE void showFile();
    // Asks what the page shows; shown answers.
    void requestShown();
    // The helper's process id, 0 when it is not running.
    qint64 helperId() const { return m_process.processId(); }
    // The view is hidden whenever cover (the text view lying over it) is shown: the helper's
    // window would stand in front of it.
    void hideUnder(QWidget *cover);

signals:
    void loadFinished(bool ok);
    void navigationRefused(const QUrl &url);
    void shown(const QUrl &url, const QString &title, const QString &text);
    // The helper ended (or never ran) while the view lives.
    void ended();
    // Escape reached the helper's own window (the page was clicked there): the pane should close.
    void escaped();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void start();
    void send(const QList<QByteArray> &words);
    void readMessages();

    QString m_helper;
    QString m_file;
    bool m_embed;
    QProcess m_process;
    QByteArray m_received;
    QPointer<QWidget> m_cover;
};
