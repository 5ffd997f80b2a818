// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlSchemeHandler>
#include <QWidget>

class QWebEngineProfile;
class QWebEngineView;

// Spam is hostile: everything a page could use to tell its sender that the address is alive
// (remote images, fonts, frames, style sheets, scripts, prefetches) or to reach local files
// goes through here and is refused, except the one file the view is meant to show.

// The shown file reaches the view under its own URL scheme, served by this handler: the
// response says Windows-1252, which outranks any charset the page declares. Only that one
// URL is served.
class PreviewSchemeHandler final : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT
public:
    PreviewSchemeHandler(const QString &filePath, const QUrl &url, QObject *parent);
    void requestStarted(QWebEngineUrlRequestJob *job) override;

    // The scheme must be known before the engine starts (the first profile); once is enough.
    static void registerScheme();
    // The URL the file at filePath is shown under.
    static QUrl urlFor(const QString &filePath);

private:
    QString m_path;
    QUrl m_url;
};

// Lets through the shown file and data: URLs, blocks every other request.
class PreviewRequestFilter final : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT
public:
    PreviewRequestFilter(const QUrl &allowed, QObject *parent);
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;
signals:
    void requestBlocked(const QUrl &url);
private:
    QUrl m_allowed;
};

// A page that never leaves the shown file: links, redirects, form posts, frames and new
// windows are all refused. The file itself is loaded only when the program asks for it: a
// page that refreshes or reloads itself would otherwise keep the engine busy for as long as
// it is shown. A click on one of its own anchors still moves within it.
class PreviewPage final : public QWebEnginePage
{
    Q_OBJECT
public:
    PreviewPage(const QUrl &allowed, QWebEngineProfile *profile, QObject *parent);
    // The next load of the shown file is the program's.
    void expectLoad() { m_expected = true; }
signals:
    void navigationRefused(const QUrl &url);
protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
private:
    QUrl m_allowed;
    bool m_expected = false;
};

// The HTML view of the preview pane: a web view on a private off-the-record profile with
// JavaScript, plugins and every outside access switched off, showing one local file. The
// file's bytes are shown as they are, read as Windows-1252.
class SafeWebView final : public QWidget
{
    Q_OBJECT
public:
    SafeWebView(const QString &filePath, QWidget *parent);
    ~SafeWebView() override;

    // (Re)loads the file given at construction.
    Q_INVOKABLE void showFile();

    // The URL the page shows the file under.
    QUrl pageUrl() const { return m_url; }
    QWebEngineView *view() const { return m_view; }
    PreviewPage *page() const { return m_page; }
    PreviewRequestFilter *filter() const { return m_filter; }

signals:
    // The page's own, passed on.
    void loadFinished(bool ok);
    void navigationRefused(const QUrl &url);

private:
    QUrl m_url;
    QWebEngineProfile *m_profile;
    PreviewRequestFilter *m_filter;
    QWebEngineView *m_view;
    PreviewPage *m_page;
};
