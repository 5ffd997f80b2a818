#include "app/Startup.h"

#include <QApplication>
#include <QTimer>
#include <unistd.h>

#include "app/Error.h"
#include "app/Icons.h"
#include "app/PelicordeFP.h"
#include "app/Prompter.h"
#include "blacklist/PelicordeFS1.h"
#include "mailbox/ServerOperation.h"
#include "preview/SafeWebView.h"

void prepareApplication()
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    PreviewSchemeHandler::registerScheme();
}

namespace {

// Leaving the event loop while a server operation pumps events would make every later wait
// of its session return at once: it would spin until its time-out and fail. So the process
// ends once the running operation has ended, as it ends with the window open.
void quitWhenIdle()
{
    if (ServerOperation::busy())
        QTimer::singleShot(50, qApp, &quitWhenIdle);
    else
        QCoreApplication::quit();
}

} // namespace

void createWindows(QSize workArea)
{
    auto *form1 = new TForm1(workArea);
    Form1 = form1;
    setPrompterParent(form1);
    Form2 = new TForm2;
    // Closing the main window ends the process, whatever else is open; closing a message
    // box while the main window sits in the tray must not.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(form1, &TForm1::closed, qApp, &quitWhenIdle, Qt::QueuedConnection);
    form1->showMaximized();
}

void destroyWindows()
{
    delete Form2;
    Form2 = nullptr;
    setPrompterParent(nullptr);
    delete Form1;
    Form1 = nullptr;
}

int runPelicorde(int argc, char **argv)
{
    prepareApplication();
    QApplication app(argc, argv);
    guarded([] {
        QApplication::setApplicationName(QStringLiteral("Pelicorde"));
        QApplication::setWindowIcon(icons::windowIcon());
        createWindows();
        QApplication::exec();
    });
    guarded([] { destroyWindows(); });
    return 0;
}
