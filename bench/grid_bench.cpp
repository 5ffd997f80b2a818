// SPDX-License-Identifier: GPL-3.0-or-later
// One repaint of the message list when every visible row holds a huge subject (spam that
// stretches its Subject to hundreds of kilobytes): the time the window is frozen per repaint.
//   grid_bench [rows=30] [subject_kb=500]
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cstdio>

#include "mailbox/MessageList.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

int main(int argc, char **argv)
{
    const int rows = argc > 1 ? atoi(argv[1]) : 30;
    const int subjectKb = argc > 2 ? atoi(argv[2]) : 500;
    QTemporaryDir root;
    qputenv("APPDATA", root.path().toLocal8Bit());
    qputenv("TEMP", root.path().toLocal8Bit());
    QApplication app(argc, argv);
    TForm1 form(QSize(1024, 768));
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;

    // What a scan writes into the list: the words of a subject, over and over.
    const QString subject = QStringLiteral("Gagnez un iPhone maintenant ").repeated(subjectKb * 1024 / 28);
    form.list->setRows(rows + 1);
    for (int r = 1; r <= rows; ++r)
        form.list->setCells(r, MessageList::From, {QStringLiteral("promo@spam.example"), subject,
                                                   QStringLiteral("07/12/2026  10:15:00"), QStringLiteral("Autre")});
    QList<double> runs;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        form.SG1->viewport()->repaint();
        runs << clock.nsecsElapsed() / 1e6;
    }
    std::sort(runs.begin(), runs.end());
    std::printf("grid_bench rows=%d subject_kb=%d kept_chars=%lld repaint_ms=%.1f (median of 5)\n", rows, subjectKb,
                qlonglong(form.list->cell(1, MessageList::Subject).size()), runs.at(2));
    return 0;
}
