// SPDX-License-Identifier: GPL-3.0-or-later
#include "preview/SafeWebView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineView>
#include <utility>

namespace {

const QByteArray PreviewScheme = QByteArrayLiteral("pelicorde-preview");

// The shown page, a jump to one of its anchors included.
bool isPage(const QUrl &url, const QUrl &allowed)
{
    return url.adjusted(QUrl::RemoveFragment) == allowed;
}

void lockDown(QWebEngineSettings *s)
{
    using S = QWebEngineSettings;
    for (S::WebAttribute off :
         {S::JavascriptEnabled, S::JavascriptCanOpenWindows, S::JavascriptCanAccessClipboard, S::JavascriptCanPaste,
          S::PluginsEnabled, S::LocalStorageEnabled, S::LocalContentCanAccessRemoteUrls,
          S::LocalContentCanAccessFileUrls, S::HyperlinkAuditingEnabled, S::DnsPrefetchEnabled, S::ErrorPageEnabled,
          S::FullScreenSupportEnabled, S::ScreenCaptureEnabled, S::WebGLEnabled, S::Accelerated2dCanvasEnabled,
          S::AutoLoadIconsForPage, S::TouchIconsEnabled, S::AllowRunningInsecureContent,
          S::AllowGeolocationOnInsecureOrigins, S::AllowWindowActivationFromJavaScript, S::PdfViewerEnabled,
          S::NavigateOnDropEnabled, S::FocusOnNavigationEnabled})
        s->setAttribute(off, false);
    s->setUnknownUrlSchemePolicy(S::DisallowUnknownUrlSchemes);
}

} // namespace

PreviewSchemeHandler::PreviewSchemeHandler(const QString &filePath, const QUrl &url, QObject *parent)
    : QWebEngineUrlSchemeHandler(parent), m_path(filePath), m_url(url)
{
}

void PreviewSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    // Only a regular file: a FIFO or a device planted there would block the read. The file
    // goes with the job.
    auto *file = new QFile(m_path, job);
    if (job->requestUrl() != m_url || !QFileInfo(m_path).isFile() || !file->open(QIODevice::ReadOnly)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    job->reply(QByteArrayLiteral("text/html; charset=windows-1252"), file);
}

void PreviewSchemeHandler::registerScheme()
{
    if (QWebEngineUrlScheme::schemeByName(PreviewScheme).name() == PreviewScheme)
        return;
    QWebEngineUrlScheme scheme(PreviewScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // Treated as a local file would be: no remote loads, as the view's settings say.
    scheme.setFlags(QWebEngineUrlScheme::LocalScheme | QWebEngineUrlScheme::LocalAccessAllowed);
    QWebEngineUrlScheme::registerScheme(scheme);
}

QUrl PreviewSchemeHandler::urlFor(const QString &filePath)
{
    QUrl url;
    url.setScheme(QString::fromLatin1(PreviewScheme));
    // The name alone: each view's profile has a handler of its own, and no folder name can
    // come back from the engine spelt another way.
    url.setPath(QFileInfo(filePath).fileName());
    return url;
}

PreviewRequestFilter::PreviewRequestFilter(const QUrl &allowed, QObject *parent)
    : QWebEngineUrlRequestInterceptor(parent), m_allowed(allowed)
{
}

void PreviewRequestFilter::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    const QUrl url = info.requestUrl();
    if (url.scheme() == QLatin1String("data") || isPage(url, m_allowed))
        return;
    info.block(true);
    emit requestBlocked(url);
}

PreviewPage::PreviewPage(const QUrl &allowed, QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent), m_allowed(allowed)
{
}

bool PreviewPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (isMainFrame && isPage(url, m_allowed)
        && (std::exchange(m_expected, false) || (type == NavigationTypeLinkClicked && url.hasFragment())))
        return true;
    emit navigationRefused(url);
    return false;
}

QWebEnginePage *PreviewPage::createWindow(WebWindowType) { return nullptr; }

SafeWebView::SafeWebView(const QString &filePath, QWidget *parent)
    : QWidget(parent), m_url(PreviewSchemeHandler::urlFor(filePath))
{
    // Before the first profile, which starts the engine and closes the list of schemes.
    PreviewSchemeHandler::registerScheme();
    // No storage name: off the record, nothing kept on disk.
    m_profile = new QWebEngineProfile(this);
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->setSpellCheckEnabled(false);
    lockDown(m_profile->settings());
    m_filter = new PreviewRequestFilter(m_url, m_profile);
    m_profile->setUrlRequestInterceptor(m_filter);
    m_profile->installUrlSchemeHandler(PreviewScheme, new PreviewSchemeHandler(QDir::cleanPath(filePath), m_url, m_profile));

    m_view = new QWebEngineView(this);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_view->setAcceptDrops(false);
    m_page = new PreviewPage(m_url, m_profile, m_view);
    lockDown(m_page->settings());
    m_view->setPage(m_page);
    connect(m_page, &QWebEnginePage::loadFinished, this, &SafeWebView::loadFinished);
    connect(m_page, &PreviewPage::navigationRefused, this, &SafeWebView::navigationRefused);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);
}

SafeWebView::~SafeWebView()
{
    // The page must go before its profile, which is destroyed with the children afterwards.
    delete m_view;
}

void SafeWebView::showFile()
{
    m_page->expectLoad();
    m_view->load(m_url);
}

// What the program looks up once it has loaded this library.
extern "C" Q_DECL_EXPORT QWidget *pelicorde_create_web_view(const QString &filePath, QWidget *parent)
{
    return new SafeWebView(filePath, parent);
}
