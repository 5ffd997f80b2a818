// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the preview's HTML view shows, however it is hosted: asked of pelicorde-preview through
// its channel, or of the page in this process.
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "preview/RemoteWebView.h"
#include "preview/SafeWebView.h"

struct ShownPage
{
    QUrl url;
    QString title;
    QString text; // as rendered
};

inline ShownPage shownPage(QWidget *view)
{
    auto page = std::make_shared<ShownPage>();
    if (auto *remote = qobject_cast<RemoteWebView *>(view)) {
        QSignalSpy answer(remote, &RemoteWebView::shown);
        remote->requestShown();
        if (answer.wait(20000))
            *page = {answer[0][0].toUrl(), answer[0][1].toString(), answer[0][2].toString()};
    } else if (auto *local = qobject_cast<SafeWebView *>(view)) {
        auto done = std::make_shared<bool>(false);
        local->page()->toPlainText([page, done](const QString &text) { page->text = text, *done = true; });
        if (QTest::qWaitFor([done] { return *done; }, 20000))
            page->url = local->page()->url(), page->title = local->page()->title();
    }
    return *page;
}
