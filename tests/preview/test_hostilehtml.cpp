// SPDX-License-Identifier: GPL-3.0-or-later
// Spam in the HTML view: nothing reaches the network, no script runs, no link is followed.
#include "support/WindowFixture.h"

#include <QHostInfo>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QUdpSocket>
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

    // Shows html in the pane of a new window, in a view hosted as asked, and waits until loaded.
    QWidget *showInNewWindow(const QString &html, WebViewHost host, QSignalSpy *&loads)
    {
        w = std::make_unique<WindowFixture>();
        if (!w->start())
            return nullptr;
        form().pane->open();
        QWidget *view = ensurePreviewView(*form().pane, host);
        if (auto *remote = qobject_cast<RemoteWebView *>(view))
            loads = new QSignalSpy(remote, &RemoteWebView::loadFinished);
        else
            loads = new QSignalSpy(qobject_cast<SafeWebView *>(view)->page(), &QWebEnginePage::loadFinished);
        writeAndShow(*form().pane, html);
        if (!QTest::qWaitFor([loads] { return !loads->isEmpty(); }, 60000))
            return nullptr;
        return view;
    }

    // The name a DNS query asks for.
    static QString queriedName(const QByteArray &query)
    {
        QStringList labels;
        for (qsizetype at = 12; at < query.size() && query.at(at) != 0; at += 1 + uchar(query.at(at)))
            labels << QString::fromLatin1(query.mid(at + 1, uchar(query.at(at))));
        return labels.join(QLatin1Char('.'));
    }

    // Runs this test's function again in a network of its own (loopback and an interface that
    // leads nowhere, so that the engine thinks itself online) whose resolver is 127.0.0.1.
    static int inPrivateNetwork(const char *function)
    {
        QTemporaryDir dir;
        QFile resolver(dir.filePath(QStringLiteral("resolv.conf")));
        if (!resolver.open(QIODevice::WriteOnly) || resolver.write("nameserver 127.0.0.1\n") <= 0)
            return -1;
        resolver.close();
        QStringList args{"--net", "--mount", "--propagation", "private"};
        if (::geteuid() != 0)
            args = QStringList{"--user", "--map-root-user"} + args;
        args << "--" << "sh" << "-c"
             << QStringLiteral("ip link set lo up && { ip link add pl0 type veth peer name pl1 && ip link set pl1 up &&"
                               " ip addr add 10.99.0.1/24 dev pl0 && ip link set pl0 up &&"
                               " ip route add default via 10.99.0.2; true; } && mount --bind \"$0\" /etc/resolv.conf &&"
                               " exec \"$@\"")
             << resolver.fileName() << QCoreApplication::applicationFilePath() << QLatin1String(function);
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PELICORDE_PRIVATE_NETWORK"), QStringLiteral("1"));
        run.setProcessEnvironment(env);
        run.start(QStringLiteral("unshare"), args);
        if (!run.waitForFinished(300000))
            run.kill();
        return run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet("PELICORDE_PRIVATE_NETWORK"))
            return; // only resolvesNoHostName runs there
        QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText()));
        QVERIFY(tracker.listen(QHostAddress::LocalHost));
        connect(&tracker, &QTcpServer::newConnection, this, [this] { ++connections; });
    }

    // In the program's own engine, as where no helper runs: the page poked from outside too.
    void hostilePageStaysInert()
    {
        serveHostilePage();
        auto *view = qobject_cast<SafeWebView *>(ensurePreviewView(*form().pane, WebViewHost::InProcess));
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
        auto *view = qobject_cast<RemoteWebView *>(ensurePreviewView(*form().pane));
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

    // A page that asks for DNS prefetching (a host name per recipient tells its sender that the
    // address is alive, and when the mail was read) gets no name looked up, nor do its links,
    // prefetch and preconnect hints, in the program's engine or the helper's.
    void resolvesNoHostName()
    {
        if (!qEnvironmentVariableIsSet("PELICORDE_PRIVATE_NETWORK")) {
            QCOMPARE(inPrivateNetwork("resolvesNoHostName"), 0);
            return;
        }
        QUdpSocket dns;
        QVERIFY(dns.bind(QHostAddress::LocalHost, 53));
        const QString witness = QStringLiteral("temoin.pelicorde.test");
        bool witnessAsked = false;
        QStringList asked;
        connect(&dns, &QUdpSocket::readyRead, this, [&] {
            while (dns.hasPendingDatagrams()) {
                const QString name = queriedName(dns.receiveDatagram().data());
                if (name == witness)
                    witnessAsked = true;
                else
                    asked << name;
            }
        });
        // The listener hears what the system asks.
        QHostInfo::lookupHost(witness, this, [](const QHostInfo &) {});
        QTRY_VERIFY_WITH_TIMEOUT(witnessAsked, 20000);

        const QString html = QStringLiteral(
            "<html><head><meta http-equiv=\"x-dns-prefetch-control\" content=\"on\"><title>dns</title>"
            "<link rel=\"dns-prefetch\" href=\"//hint.pelicorde.test\">"
            "<link rel=\"preconnect\" href=\"http://connect.pelicorde.test/\"></head><body>"
            "<a href=\"http://destinataire-4711.pelicorde.test/lu\">lien</a> <a href=\"https://b.pelicorde.test/\">b</a>"
            " <a href=\"//c.pelicorde.test/\">c</a></body></html>");
        for (const WebViewHost host : {WebViewHost::InProcess, WebViewHost::Helper}) {
            QSignalSpy *loads = nullptr;
            QVERIFY(showInNewWindow(html, host, loads));
            std::unique_ptr<QSignalSpy> owned(loads);
            QTest::qWait(3000); // the engine looks names up within a second of the load
            QVERIFY2(asked.isEmpty(), qPrintable(asked.join(QLatin1Char(' '))));
            w.reset();
        }
    }

    // A page that refreshes itself is loaded once: the engine goes idle instead of reloading it
    // for as long as it is shown.
    void selfRefreshingPageLoadsOnce()
    {
        const QString html = QStringLiteral("<html><head><meta http-equiv=\"refresh\" content=\"0\"><title>encore</title>"
                                            "</head><body>encore</body></html>");
        for (const WebViewHost host : {WebViewHost::InProcess, WebViewHost::Helper}) {
            QSignalSpy *loads = nullptr;
            QWidget *view = showInNewWindow(html, host, loads);
            QVERIFY(view);
            std::unique_ptr<QSignalSpy> owned(loads);
            QTest::qWait(2000);
            // A refused refresh may tell of a load that did not happen; none gets through.
            QCOMPARE(std::count_if(loads->cbegin(), loads->cend(), [](const QList<QVariant> &l) { return l.value(0).toBool(); }), 1);
            QCOMPARE(shownPage(view).text.trimmed(), QStringLiteral("encore"));
            w.reset();
        }
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
