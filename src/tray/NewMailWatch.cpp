// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/NewMailWatch.h"

#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>

#include "core/Error.h"
#include "core/ServerOperation.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/NewMailWatcher.h"
#include "scan/SessionSettings.h"
#include "tray/Tray.h"
#include "window/PelicordeFP.h"

namespace {

bool sameMailbox(const MailAccount &a, const MailAccount &b)
{
    return a.protocol == b.protocol && a.host == b.host && a.port == b.port && a.user == b.user
           && a.password == b.password && a.tls == b.tls;
}

bool watchable(const TForm1 &form, const MailAccount &account)
{
    return form.accountFields().complete() && makeMailboxSession(account)->canWatch();
}

// Watches the window's account unless it is watched already or cannot be; a watch that gave up
// (a certificate to confirm, a refused login) is tried again once a scan has got through.
void follow(TForm1 &form, NewMailWatcher &watcher, bool scanGotThrough)
{
    const MailAccount account = form.account();
    // A scan that ends as the window closes (its last steps let events in) finds the watch
    // stopped by the close: it stays so.
    if (ServerOperation::abandoned() || !watchable(form, account))
        return watcher.stop();
    if (sameMailbox(account, watcher.account())
        && (watcher.state() == NewMailWatcher::State::Watching || watcher.state() == NewMailWatcher::State::Unsuited
            || (watcher.state() == NewMailWatcher::State::GaveUp && !scanGotThrough)))
        return;
    watcher.watch(account, form.dataFolder);
}

// Mail that came while the window was shown, checked when the window goes to the tray (or,
// without one, is minimised).
class ShownWindowMail : public QObject
{
public:
    ShownWindowMail(TForm1 &form, QObject *parent) : QObject(parent), m_form(form) { form.installEventFilter(this); }
    bool waiting = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool away = event->type() == QEvent::Hide
                          || (event->type() == QEvent::WindowStateChange && m_form.isMinimized());
        if (watched == &m_form && away && waiting) {
            waiting = false;
            // After the hide has run its course, so that the check finds the window in the tray.
            QMetaObject::invokeMethod(
                this, [this] { guarded([this] { verifyFromTray(m_form); }); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    TForm1 &m_form;
};

} // namespace

NewMailWatcher *newMailWatcher(const TForm1 &form)
{
    return form.watcher;
}

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
    auto *shown = new ShownWindowMail(form, watcher);
    QObject::connect(watcher, &NewMailWatcher::newMail, &form, [&form, shown] {
        if (ServerOperation::abandoned())
            return;
        if (form.isVisible() && !form.isMinimized())
            shown->waiting = true;
        else
            guarded([&form] { verifyFromTray(form); });
    });
    QObject::connect(&form, &TForm1::scanEnded, shown, [shown] { shown->waiting = false; });
    QObject::connect(&form, &TForm1::scanEnded, watcher,
                     [&form, watcher] { guarded([&] { follow(form, *watcher, form.check.scanStop.isEmpty()); }); });
    const auto edited = [&form, watcher] {
        if (watcher->state() != NewMailWatcher::State::Off && !sameMailbox(form.account(), watcher->account()))
            watcher->stop();
    };
    for (QLineEdit *field : {form.Edit3, form.Edit4, form.Edit15, form.Edit16})
        QObject::connect(field, &QLineEdit::textChanged, watcher, edited);
    QObject::connect(form.CheckBox2, &QCheckBox::toggled, watcher, edited);
    QObject::connect(&form, &TForm1::closed, watcher, &NewMailWatcher::stop);
    follow(form, *watcher, false);
}
