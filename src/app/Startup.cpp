#include "app/Startup.h"

#include <QApplication>

// Placeholder start-up: the main window's design fills it.
int runPelicorde(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pelicorde"));
    return 0;
}
