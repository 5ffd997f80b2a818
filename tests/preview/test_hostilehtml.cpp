// SPDX-License-Identifier: GPL-3.0-or-later
// Spam in the HTML view: nothing reaches the network, no script runs, no link is followed.
#include "support/WindowFixture.h"

#include <QTcpServer>
#include <QWebEngineView>

#include <QWebEngineSettings>

#include "mailbox/MessageList.h"
#include "preview/Preview.h"
#include "preview/PreviewFile.h"
#include "preview/SafeWebView.h"
#include "support/DovecotServer.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"
#include "support/ShownPage.h"

class HostileHtmlTest : public QObject
{
    Q_OBJECT
    DovecotServer dovecot;
    QTcpServer tracker; // stands for the spammer's server
    int connections = 0;
    std::unique_ptr<WindowFixture> w;
    RecordingPrompter prompter;

    TForm1 &form() { return *w->form; }
    QString at(const char *path) { return QStringLiteral("http://127.0.0.1:%1/%2").arg(tracker.serverPort()).arg(QLatin1String(path)); }

    bool trackerReached()
    {
        return connections > 0 || tracker.hasPendingConnections() || tracker.waitForNewConnection(0);
    }

    static QList<QUrl> urls(const QSignalSpy &refused)
    {
        QList<QUrl> urls;
        for (const QList<QVariant> &r : refused)
            urls << r.first().toUrl();
        return urls;
    }

    // A spam that tries every way out, served by Dovecot and listed on row 1 of a new window.
    void serveHostilePage()
    {
        w = std::make_unique<WindowFixture>();
        QVERIFY(w->start());
        w->pointAt(dovecot.account());
        prompter.reset(); // the first show's scan met empty fields and beeped

        const QString secret = w->root.filePath(QStringLiteral("secret.png"));
        mailfactory::Mail m;
        m.html = QStringLiteral(
                     "<html><head><title>preview</title>"
                     "<link rel=\"stylesheet\" href=\"%1\">"
                     "<link rel=\"prefetch\" href=\"%2\">"
                     "<style>@import url(%3); @font-face { font-family: f; src: url(%4); }"
                     " body { font-family: f; background: url(%5); }</style>"
                     "<script>document.title = 'ran';</script>"
                     "<script src=\"%6\"></script>"
                     "</head><body>%10"
                     "<img src=\"%7\" width=\"1\" height=\"1\">"
                     "<img src=\"%8\">"
                     "<iframe src=\"%9\"></iframe></body></html>")
                     .arg(at("style.css"), at("prefetch"), at("import.css"), at("font.woff"), at("bg.png"),
                          at("ext.js"), at("pixel.png"), QUrl::fromLocalFile(secret).toString(), at("frame.html"))
                     .arg(QStringLiteral("<a href=\"%1\" style=\"display: block; height: 200px\">lien</a>").arg(at("click")));
        m.html.replace(QStringLiteral("</head>"),
                       QStringLiteral("<link rel=\"preconnect\" href=\"http://127.0.0.1:%1\">"
                                      "<link rel=\"dns-prefetch\" href=\"//127.0.0.1:%1\"></head>")
                           .arg(tracker.serverPort()));
        dovecot.setMessages({mailfactory::build(m)});
        w->setRows({{"spam@x.org", "Gagnant", "", "", "_", "", ""}});
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText()));
        QVERIFY(tracker.listen(QHostAddress::LocalHost));
        connect(&tracker, &QTcpServer::newConnection, this, [this] { ++connections; });
    }

    // In the program's own engine, as where no helper runs: the page poked from outside too.
    void hostilePageStaysInert()
    {
        serveHostilePage();
        auto *view = qobject_cast<SafeWebView *>(ensurePreviewView(form(), WebViewHost::InProcess));
        QSignalSpy loaded(view->page(), &QWebEnginePage::loadFinished);
        QSignalSpy refused(view->page(), &PreviewPage::navigationRefused);

        w->clickCell(MessageList::From, 1);
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(prompter.infos.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 60000);
        QVERIFY(loaded.first().first().toBool());
        QCOMPARE(view->page()->url(), view->pageUrl());

        QCOMPARE(view->page()->title(), QStringLiteral("preview"));
        QVERIFY(!trackerReached());

        const auto refusedUrls = [&] { return urls(refused); };
        // The frame never loads.
        QTRY_VERIFY(refusedUrls().contains(QUrl(at("frame.html"))));

        // A navigation asked for by anyone but the preview stays on the preview file.
        view->page()->load(QUrl(at("nav")));
        QTRY_VERIFY(refusedUrls().contains(QUrl(at("nav"))));
        QCOMPARE(view->page()->url(), view->pageUrl());

        // A click on the link.
        QWidget *surface = view->view()->focusProxy();
        QVERIFY(surface);
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(60, 60));
        QTRY_VERIFY_WITH_TIMEOUT(refusedUrls().contains(QUrl(at("click"))), 20000);
        QCOMPARE(view->page()->url(), view->pageUrl());
        QCOMPARE(view->page()->title(), QStringLiteral("preview"));
        QVERIFY(!trackerReached());
        w.reset();
    }

    // In pelicorde-preview, seen through its channel alone: what the page rendered, what it
    // refused, and its link followed from the keyboard.
    void hostilePageStaysInertInTheHelper()
    {
        serveHostilePage();
        auto *view = qobject_cast<RemoteWebView *>(ensurePreviewView(form()));
        QVERIFY(view);
        QSignalSpy loaded(view, &RemoteWebView::loadFinished);
        QSignalSpy refused(view, &RemoteWebView::navigationRefused);

        w->clickCell(MessageList::From, 1);
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(prompter.infos.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 60000);
        QVERIFY(loaded.first().first().toBool());
        const QUrl page = PreviewSchemeHandler::urlFor(w->previewFile());
        ShownPage shown = shownPage(view);
        QCOMPARE(shown.url, page);
        QCOMPARE(shown.title, QStringLiteral("preview"));
        QCOMPARE(shown.text.trimmed(), QStringLiteral("lien"));
        QTRY_VERIFY(urls(refused).contains(QUrl(at("frame.html"))));

        // Tab reaches the link, Enter follows it.
        QTest::keyClick(view, Qt::Key_Tab);
        QTest::keyClick(view, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(urls(refused).contains(QUrl(at("click"))), 20000);
        shown = shownPage(view);
        QCOMPARE(shown.url, page);
        QCOMPARE(shown.title, QStringLiteral("preview"));
        QVERIFY(!trackerReached());
        w.reset();
    }

    // Behind the engine's own rule against remote loads from a local page, the request filter
    // alone still stops them, and local files other than the preview.
    void requestFilterStopsWhatTheEngineLetsThrough()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Htm_temp.htm"));
        const QString secret = dir.filePath(QStringLiteral("secret.js"));
        QVERIFY(writePreviewFile(secret, QStringLiteral("document.title = 'ran';")));
        QVERIFY(writePreviewFile(file, QStringLiteral("<html><head><title>preview</title>"
                                                      "<script src=\"%1\"></script></head><body>"
                                                      "<img src=\"%2\"><img src=\"data:image/gif;base64,"
                                                      "R0lGODlhAQABAAAAACw=\"></body></html>")
                                           .arg(QUrl::fromLocalFile(secret).toString(), at("pixel.png"))));
        SafeWebView view(file, nullptr);
        view.page()->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
        view.page()->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
        view.page()->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
        QSignalSpy loaded(view.page(), &QWebEnginePage::loadFinished);
        QSignalSpy blocked(view.filter(), &PreviewRequestFilter::requestBlocked);
        view.resize(400, 300);
        view.show();
        view.showFile();
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 60000);
        QStringList urls;
        for (const QList<QVariant> &b : blocked)
            urls << b.first().toUrl().toString();
        QVERIFY2(urls.contains(at("pixel.png")), qPrintable(urls.join(' ')));
        QVERIFY2(urls.contains(QUrl::fromLocalFile(secret).toString()), qPrintable(urls.join(' ')));
        QCOMPARE(urls.size(), 2);
        QCOMPARE(view.page()->title(), QStringLiteral("preview"));
        QVERIFY(!trackerReached());
    }
};

PELICORDE_TEST_MAIN(HostileHtmlTest)
#include "test_hostilehtml.moc"
