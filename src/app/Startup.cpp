// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTranslator>
#include <unistd.h>

#include "core/Error.h"
#include "core/Prompter.h"
#include "app/SingleInstance.h"
#include "core/Folders.h"
#include "core/ServerOperation.h"
#include "preview/EngineArguments.h"
#include "window/BoxPrompter.h"
#include "window/Icons.h"
#include "scan/SessionSettings.h"
#include "tray/Tray.h"
#include "window/PelicordeFP.h"
#include "window/PelicordeFS1.h"

EngineArguments &prepareApplication(int argc, char **argv)
{
    // No shared OpenGL context: it would load the graphics stack at start for a web view that
    // may never be shown; the preview makes one before it loads the engine.
    // Qt's account of the engine's settings stays off the terminal too.
    static EngineArguments arguments(argc, argv, EngineArguments::programFlags());
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    return arguments;
}

void installQtTranslations()
{
    // The whole interface is French, so Qt's own texts are too (edit menus, standard buttons),
    // whatever the user's locale.
    auto *translator = new QTranslator(qApp);
    if (translator->load(QStringLiteral("qt_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

void createWindows(QSize workArea, StartMode mode)
{
    ServerOperation::resume();
    auto *form1 = new TForm1(workArea);
    Form1 = form1;
    setPrompterParent(form1);
    Form2 = new TForm2;
    // Closing the main window ends the process, whatever else is open; closing a message
    // box while the main window sits in the tray must not.
    QApplication::setQuitOnLastWindowClosed(false);
    // The process ends at once, also during a server operation: the operation is given up (its
    // session dropped without QUIT, so a half-done deletion takes no effect) and shows nothing.
    // exit() rather than quit(): Qt 6's quit() is a request, which QApplication drops when a
    // window stays open after it has tried to close them all; exit() leaves every running event
    // loop, the one an operation waits in too, whose waits then fail at once. Queued, so that
    // the close completes first; tied to the window, so that one destroyed without its event
    // loop running leaves no exit behind.
    QObject::connect(form1, &TForm1::closed, qApp, &ServerOperation::abandonAll);
    QObject::connect(form1, &TForm1::closed, form1, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    if (mode == StartMode::Window) {
        form1->showMaximized();
        return;
    }
    // The show step's work, without a window to show: nobody is there to answer a box yet.
    QMetaObject::invokeMethod(form1, [form1] {
        {
            const UnattendedScope nobodyThere;
            form1->FormShow();
        }
        guarded([form1] { placeInTray(*form1->tray, form1->check); });
    }, Qt::QueuedConnection);
}

void destroyWindows()
{
    delete Form2;
    Form2 = nullptr;
    setPrompterParent(nullptr);
    delete Form1;
    Form1 = nullptr;
}

int runPelicorde(int argc, char **argv, StartMode mode)
{
    EngineArguments &engine = prepareApplication(argc, argv);
    QApplication app(engine.argc(), engine.argv());
    setDefaultPrompter(&messageBoxes());
    installQtTranslations();
    guarded([mode] {
        QApplication::setApplicationName(QStringLiteral("Pelicorde"));
        QApplication::setWindowIcon(icons::windowIcon());
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        const QString dataFolder = folders::dataFolderFromEnvironment();
        SingleInstance instance(dataFolder, runtime.isEmpty() ? dataFolder : runtime);
        if (instance.handedOver())
            return;
        createWindows(QSize(), mode);
        QObject::connect(&instance, &SingleInstance::raiseRequested, Form1, &TForm1::Restaurer1Click);
        QApplication::exec();
    });
    guarded([] { destroyWindows(); });
    return 0;
}
