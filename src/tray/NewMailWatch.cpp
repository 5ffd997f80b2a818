// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/NewMailWatch.h"

#include <utility>

#include "core/Error.h"
#include "core/ServerOperation.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/NewMailWatcher.h"
#include "tray/Tray.h"
#include "tray/TrayWindow.h"
#include "window/PelicordeFP.h"

namespace {

bool sameMailbox(const MailAccount &a, const MailAccount &b)
{
    return a.protocol == b.protocol && a.host == b.host && a.port == b.port && a.user == b.user
           && a.password == b.password && a.tls == b.tls;
}

// Watches account (complete: all its fields filled in) unless it is watched already or cannot
// be; a watch that gave up (a certificate to confirm, a refused login) is tried again once a scan
// has got through.
void follow(NewMailWatcher &watcher, const MailAccount &account, bool complete, const QString &dataFolder,
            bool scanGotThrough)
{
    // A scan that ends as the window closes (its last steps let events in) finds the watch
    // stopped by the close: it stays so.
    if (ServerOperation::abandoned() || !complete || !makeMailboxSession(account)->canWatch())
        return watcher.stop();
    if (sameMailbox(account, watcher.account())
        && (watcher.state() == NewMailWatcher::State::Watching || watcher.state() == NewMailWatcher::State::Unsuited
            || (watcher.state() == NewMailWatcher::State::GaveUp && !scanGotThrough)))
        return;
    watcher.watch(account, dataFolder);
}

// Mail that came while the window was shown, checked when the window goes to the tray (or,
// without one, is minimised).
class ShownWindowMail : public QObject
{
public:
    using QObject::QObject;
    bool waiting = false;
};

} // namespace

void watchNewMail(TForm1 &form)
{
    if (form.watcher)
        return;
    auto *watcher = form.watcher = new NewMailWatcher(&form);
    watcher->setObjectName(QStringLiteral("NewMailWatcher"));
    // Never opened in the middle of an operation: it would hold that one up while it logs in.
    watcher->setMayConnect([] { return !ServerOperation::busy() && !ServerOperation::abandoned(); });
    // While the window is shown the user may be ticking rows: a check now would rebuild the list
    // under their hands. New mail waits for the window to go to the tray (or for the timer's
    // check, as before); in the tray it is checked at once, which is what starts the blinking.
    TrayWindow &window = *form.tray;
    auto *shown = new ShownWindowMail(watcher);
    QObject::connect(&window, &TrayWindow::wentAway, shown, [&form, shown] {
        if (!std::exchange(shown->waiting, false))
            return;
        // After the hide has run its course, so that the check finds the window in the tray.
        QMetaObject::invokeMethod(
            shown, [&form] { guarded([&form] { verifyFromTray(form); }); }, Qt::QueuedConnection);
    });
    QObject::connect(watcher, &NewMailWatcher::newMail, &form, [&form, &window, shown] {
        if (ServerOperation::abandoned())
            return;
        if (window.onScreen())
            shown->waiting = true;
        else
            guarded([&form] { verifyFromTray(form); });
    });
    QObject::connect(&form, &TForm1::scanEnded, shown, [shown] { shown->waiting = false; });
    // Each reads the fields as they are when it runs.
    QObject::connect(&form, &TForm1::scanEnded, watcher, [&form, watcher] {
        guarded([&] {
            follow(*watcher, form.account(), form.accountFields().complete(), form.dataFolder,
                   form.check.scanStop.isEmpty());
        });
    });
    QObject::connect(&form, &TForm1::accountEdited, watcher, [&form, watcher] {
        if (watcher->state() != NewMailWatcher::State::Off && !sameMailbox(form.account(), watcher->account()))
            watcher->stop();
    });
    QObject::connect(&form, &TForm1::closed, watcher, &NewMailWatcher::stop);
    follow(*watcher, form.account(), form.accountFields().complete(), form.dataFolder, false);
}
