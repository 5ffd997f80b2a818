// SPDX-License-Identifier: GPL-3.0-or-later
// pelicorde-preview: the preview pane's HTML view in a process of its own. The program starts it
// when the pane opens and ends it when the pane closes; all the web engine took (its own
// processes included) goes with it, which a process that once loaded the engine never gives back.
//   pelicorde-preview [--into WINDOW] WIDTH HEIGHT FILE
// Shows FILE in a SafeWebView of WIDTH x HEIGHT, inside the program's native window WINDOW when
// given (X11). Takes its orders on standard input and tells on standard output what the page did
// (PreviewChannel.h); ends as soon as its standard input closes.
#include <QApplication>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWindow>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>
#include <utility>

#include "preview/EngineArguments.h"
#include "preview/PreviewChannel.h"
#include "preview/SafeWebView.h"

namespace {

int channel = -1; // standard output as it was given: the protocol's alone

void send(const QList<QByteArray> &words)
{
    const QByteArray line = previewchannel::line(words);
    for (qsizetype done = 0; done < line.size();) {
        const ssize_t n = ::write(channel, line.constData() + done, size_t(line.size() - done));
        if (n < 0 && errno != EINTR)
            ::_exit(0); // the program is gone
        done += std::max<ssize_t>(n, 0);
    }
}

// The view's window. The keyboard stays with the program, which passes its keys on: Tab past the
// page's last link (or Backtab before its first) gives the focus back, and a click in the page
// asks the program for it.
class Host final : public QWidget
{
public:
    explicit Host(const QString &file) : view(new SafeWebView(file, this))
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view);
        setWindowFlag(Qt::WindowDoesNotAcceptFocus);
        qApp->installEventFilter(this);
    }

    // Where the program's keys and focus go: the page's own widget, once the engine made it.
    QWidget *surface() const
    {
        QWidget *page = view->view()->focusProxy();
        return page ? page : view->view();
    }

    SafeWebView *view;

protected:
    bool focusNextPrevChild(bool next) override
    {
        send({"leave", next ? "1" : "0"});
        return true;
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Once a click, at the window that gets it first.
        if (event->type() == QEvent::MouseButtonPress && watched->isWindowType())
            send({"clicked"});
        // Escape typed into this window itself (the program passes its keys on as events that
        // are not spontaneous): the program closes the pane.
        if (event->type() == QEvent::KeyPress && event->spontaneous() && watched->isWindowType()
            && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            send({"escape"});
            return true;
        }
        return false;
    }
};

void obey(Host &host, const QList<QByteArray> &m)
{
    const QByteArray what = m.value(0);
    if (what == "show") {
        host.view->showFile();
    } else if (what == "size") {
        host.resize(m.value(1).toInt(), m.value(2).toInt());
    } else if (what == "focus") {
        QFocusEvent e(m.value(1) == "in" ? QEvent::FocusIn : QEvent::FocusOut, Qt::FocusReason(m.value(2).toInt()));
        QApplication::sendEvent(host.surface(), &e);
    } else if (what == "tab") {
        QKeyEvent e(QEvent::KeyPress, m.value(1) == "1" ? Qt::Key_Tab : Qt::Key_Backtab, Qt::NoModifier);
        QApplication::sendEvent(host.surface(), &e);
    } else if (what == "key" && m.size() == 9) {
        QKeyEvent e(m[1] == "1" ? QEvent::KeyPress : QEvent::KeyRelease, m[2].toInt(),
                    Qt::KeyboardModifiers(m[3].toInt()), m[4].toUInt(), m[5].toUInt(), m[6].toUInt(),
                    previewchannel::decode(m[7]), m[8] == "1");
        QApplication::sendEvent(host.surface(), &e);
    } else if (what == "shown") {
        const QWebEnginePage *page = host.view->page();
        page->toPlainText([url = page->url().toString(), title = page->title()](const QString &text) {
            send({"shown", previewchannel::encode(url), previewchannel::encode(title), previewchannel::encode(text)});
        });
    }
}

QtMessageHandler standardHandler = nullptr;

// Drawn without OpenGL on purpose, so Qt's and the engine's complaints that there is none are
// no news for the terminal; nor is a missing runtime folder, which the program told already.
void withoutOldNews(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.contains(QLatin1String("neither GLX nor EGL are enabled"))
        || text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))
        || text.trimmed() == QLatin1String("No suitable graphics backend found"))
        return;
    standardHandler(type, context, text);
}

} // namespace

int main(int argc, char **argv)
{
    // Should the program die without closing the channel, this goes too.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    channel = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    // Drawn in software, by Qt and by the engine: fast enough for a mail, and no graphics driver
    // gets loaded, which on a desktop with OpenGL costs more than the page. What the user sets
    // still wins, as do the engine's flags the program passes on.
    for (const auto &[name, value] : {std::pair{"QT_QUICK_BACKEND", "software"}, {"QT_XCB_GL_INTEGRATION", "none"}})
        if (qEnvironmentVariableIsEmpty(name))
            qputenv(name, value);
    EngineArguments engine(argc, argv, EngineArguments::programFlags() << "--disable-gpu");
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    standardHandler = qInstallMessageHandler(withoutOldNews);
    QApplication app(engine.argc(), engine.argv());
    QStringList args = EngineArguments::ownArguments(QApplication::arguments()).mid(1);
    WId into = 0;
    if (args.value(0) == QLatin1String("--into")) {
        into = args.value(1).toULongLong();
        args = args.mid(2);
    }
    if (args.size() != 3 || channel < 0) {
        std::fprintf(stderr, "Utilisation : %s [--into FENÊTRE] LARGEUR HAUTEUR FICHIER\n(lancé par pelicorde pour son aperçu)\n",
                     qPrintable(QFileInfo(QApplication::applicationFilePath()).fileName()));
        return 2;
    }

    Host host(args[2]);
    host.setGeometry(0, 0, args[0].toInt(), args[1].toInt());
    if (into) {
        host.winId();
        host.windowHandle()->setParent(QWindow::fromWinId(into));
    }
    QObject::connect(host.view, &SafeWebView::loadFinished, [](bool ok) { send({"loaded", ok ? "1" : "0"}); });
    QObject::connect(host.view, &SafeWebView::navigationRefused,
                     [](const QUrl &url) { send({"refused", previewchannel::encode(url.toString())}); });
    host.show();

    QByteArray orders;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        // Closed: the pane was, or the program ended. Nothing here is worth an orderly shutdown,
        // and the engine's processes end with this one.
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            ::_exit(0);
        if (n < 0)
            return;
        orders.append(chunk, n);
        for (const QList<QByteArray> &m : previewchannel::takeMessages(orders))
            obey(host, m);
    });
    return QApplication::exec();
}
