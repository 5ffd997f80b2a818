#include "preview/SafeWebView.h"

#include <QDir>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineView>

namespace {

bool isFile(const QUrl &url, const QUrl &allowed)
{
    return url.isLocalFile() && QDir::cleanPath(url.toLocalFile()) == allowed.toLocalFile();
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
    // The preview file is written in Windows-1252 without a charset of its own.
    s->setDefaultTextEncoding(QStringLiteral("windows-1252"));
}

} // namespace

PreviewRequestFilter::PreviewRequestFilter(const QUrl &allowed, QObject *parent)
    : QWebEngineUrlRequestInterceptor(parent), m_allowed(allowed)
{
}

void PreviewRequestFilter::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    const QUrl url = info.requestUrl();
    if (url.scheme() == QLatin1String("data") || isFile(url, m_allowed))
        return;
    info.block(true);
    emit requestBlocked(url);
}

PreviewPage::PreviewPage(const QUrl &allowed, QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent), m_allowed(allowed)
{
}

bool PreviewPage::acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame)
{
    if (isMainFrame && isFile(url, m_allowed))
        return true;
    emit navigationRefused(url);
    return false;
}

QWebEnginePage *PreviewPage::createWindow(WebWindowType) { return nullptr; }

SafeWebView::SafeWebView(const QString &filePath, QWidget *parent)
    : QWidget(parent), m_url(QUrl::fromLocalFile(QDir::cleanPath(filePath)))
{
    // No storage name: off the record, nothing kept on disk.
    m_profile = new QWebEngineProfile(this);
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->setSpellCheckEnabled(false);
    lockDown(m_profile->settings());
    m_filter = new PreviewRequestFilter(m_url, m_profile);
    m_profile->setUrlRequestInterceptor(m_filter);

    m_view = new QWebEngineView(this);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_view->setAcceptDrops(false);
    m_page = new PreviewPage(m_url, m_profile, m_view);
    lockDown(m_page->settings());
    m_view->setPage(m_page);

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

void SafeWebView::showFile() { m_view->load(m_url); }
