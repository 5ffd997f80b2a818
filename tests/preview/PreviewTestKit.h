#pragma once
// Shared by the tests of the message list and the preview pane: a real main window in folders
// of its own, and mouse releases on the grid's cells.
#include <QtTest>

#include <QApplication>
#include <QHeaderView>
#include <QTemporaryDir>
#include <memory>
#include <unistd.h>

#include "app/Controls.h"
#include "app/PelicordeFP.h"
#include "mailbox/MessageList.h"

// The web engine needs its settings before the application object exists: shared contexts,
// and no sandbox when the tests run as root (Chromium refuses root otherwise).
#define PREVIEW_TEST_MAIN(TestClass)                                                                                   \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                                    \
        if (geteuid() == 0)                                                                                            \
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");                                                               \
        QApplication app(argc, argv);                                                                                  \
        TestClass test;                                                                                                \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }

// The main window at the design size, shown, with APPDATA and TEMP in a folder of its own.
struct WindowFixture
{
    QTemporaryDir root;
    std::unique_ptr<TForm1> form;

    bool start()
    {
        if (!root.isValid() || !QDir(root.path()).mkpath(QStringLiteral("appdata")) ||
            !QDir(root.path()).mkpath(QStringLiteral("temp")))
            return false;
        qputenv("APPDATA", root.filePath(QStringLiteral("appdata")).toLocal8Bit());
        qputenv("TEMP", root.filePath(QStringLiteral("temp")).toLocal8Bit());
        form = std::make_unique<TForm1>(QSize(1024, 768));
        form->show();
        return QTest::qWaitForWindowExposed(form.get()) && QTest::qWaitFor([this] { return !form->firstShow; });
    }

    QString previewFile() const { return form->tempFolder + QStringLiteral("/Htm_temp.htm"); }

    // Fills rows 1..rows.size() of the list, each given as its seven cells.
    void setRows(const QList<QStringList> &rows)
    {
        form->list->setRows(int(rows.size()) + 1);
        for (int r = 0; r < rows.size(); ++r)
            for (int c = 0; c < MessageList::ColumnCount && c < rows[r].size(); ++c)
                form->list->setCell(r + 1, c, rows[r][c]);
    }

    // Press and release of button on the middle of a cell (row 0: the caption row).
    void clickCell(int column, int row, Qt::MouseButton button = Qt::LeftButton)
    {
        MessageGrid *grid = form->SG1;
        const QPoint centre = grid->cellRect(column, row).center();
        QWidget *target = row == 0 ? static_cast<QWidget *>(grid->horizontalHeader()) : grid->viewport();
        QTest::mouseClick(target, button, {}, target->mapFrom(grid, centre));
    }
};
