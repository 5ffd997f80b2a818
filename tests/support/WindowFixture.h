// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The set-up shared by the tests that drive the real main window: APPDATA and TEMP on folders of
// their own, the window at a chosen work area, its connection fields, list rows and mouse
// releases on the grid's cells.
#include <QtTest>

#include <QApplication>
#include <QSize>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <unistd.h>

#include "app/Startup.h"
#include "preview/EngineArguments.h"
#include "protocol/pop3/Pop3Session.h"
#include "window/PelicordeFP.h"

// For tests that show web content: the web engine needs its settings before the application
// object exists, as at the program's start.
#define PELICORDE_TEST_MAIN(TestClass)                                                                                 \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        EngineArguments &engine = prepareApplication(argc, argv);                                                      \
        QApplication app(engine.argc(), engine.argv());                                                                \
        TestClass test;                                                                                                \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }

// The design size: the window's controls where the design puts them.
inline constexpr QSize DesignWorkArea(1024, 768);

// One test's folders and, when asked for, its main window. The window goes before the folders.
struct WindowFixture
{
    QTemporaryDir root;
    std::unique_ptr<TForm1> form;

    // Makes root/appData and root/temp (paths relative to root, parents included) and points
    // APPDATA and TEMP at them.
    bool prepareFolders(const QString &appData = QStringLiteral("appdata"), const QString &temp = QStringLiteral("temp"));

    // prepareFolders() when not done yet, then the main window for workArea, not shown.
    bool create(QSize workArea = DesignWorkArea);

    // create(), then the window shown and past its first show (which scans with the fields
    // as they are and starts the minute timer).
    bool start(QSize workArea = DesignWorkArea);

    QString path(const QString &relative) const { return root.filePath(relative); }
    QString previewFile() const;

    // The connection fields as a user would type them for account. The TLS box is set last:
    // loopback test ports are above 900, where the port rule ticks it.
    void pointAt(const MailAccount &account);

    // Fills rows 1..rows.size() of the list, each given as its seven cells.
    void setRows(const QList<QStringList> &rows);

    // Press and release of button on the middle of a cell (row 0: the caption row).
    void clickCell(int column, int row, Qt::MouseButton button = Qt::LeftButton);

private:
    bool m_prepared = false;
};
