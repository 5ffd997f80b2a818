// Spam in the HTML view: nothing reaches the network, no script runs, no link is followed.
#include "preview/PreviewTestKit.h"

#include <QLineEdit>
#include <QTcpServer>
#include <QWebEngineView>

#include "preview/Preview.h"
#include "preview/SafeWebView.h"
#include "support/DovecotServer.h"
#include "support/MailFactory.h"
#include "support/RecordingPrompter.h"

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

private slots:
    void initTestCase()
    {
        QVERIFY2(dovecot.start(), qPrintable(dovecot.errorText()));
        QVERIFY(tracker.listen(QHostAddress::LocalHost));
        connect(&tracker, &QTcpServer::newConnection, this, [this] { ++connections; });
    }

    void hostilePageStaysInert()
    {
        w = std::make_unique<WindowFixture>();
        QVERIFY(w->start());
        form().Edit3->setText(dovecot.host());
        form().Edit4->setText(QString::number(dovecot.port()));
        form().Edit15->setText(dovecot.user());
        form().Edit16->setText(dovecot.password());

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
        dovecot.setMessages({mailfactory::build(m)});
        w->setRows({{"spam@x.org", "Gagnant", "", "", "_", "", ""}});

        SafeWebView *view = ensurePreviewView(form());
        QSignalSpy loaded(view->page(), &QWebEnginePage::loadFinished);
        QSignalSpy blocked(view->filter(), &PreviewRequestFilter::requestBlocked);
        QSignalSpy refused(view->page(), &PreviewPage::navigationRefused);

        w->clickCell(MessageList::From, 1);
        QCOMPARE(prompter.beeps, 1);
        QVERIFY(prompter.infos.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 60000);
        QVERIFY(loaded.first().first().toBool());
        QCOMPARE(view->page()->url(), view->fileUrl());

        QCOMPARE(view->page()->title(), QStringLiteral("preview"));
        const auto blockedUrls = [&] {
            QStringList urls;
            for (const QList<QVariant> &b : blocked)
                urls << b.first().toUrl().toString();
            return urls;
        };
        QTRY_VERIFY(blockedUrls().contains(at("pixel.png")));
        QVERIFY(blockedUrls().contains(at("ext.js")));
        QVERIFY(blockedUrls().contains(at("style.css")));
        QVERIFY(!trackerReached());

        // A navigation asked for by anyone but the preview stays on the preview file.
        view->page()->load(QUrl(at("nav")));
        QTRY_VERIFY(!refused.isEmpty());
        QCOMPARE(refused.last().first().toUrl(), QUrl(at("nav")));
        QCOMPARE(view->page()->url(), view->fileUrl());

        // A click on the link.
        refused.clear();
        QWidget *surface = view->view()->focusProxy();
        QVERIFY(surface);
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(60, 60));
        QTRY_VERIFY_WITH_TIMEOUT(!refused.isEmpty(), 20000);
        QCOMPARE(refused.last().first().toUrl(), QUrl(at("click")));
        QCOMPARE(view->page()->url(), view->fileUrl());
        QCOMPARE(view->page()->title(), QStringLiteral("preview"));
        QVERIFY(!trackerReached());
        w.reset();
    }
};

PREVIEW_TEST_MAIN(HostileHtmlTest)
#include "test_hostilehtml.moc"
