#include "mailbox/HeaderScan.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <memory>

#include "app/Controls.h"
#include "app/Error.h"
#include "app/EventPump.h"
#include "app/PelicordeFP.h"
#include "app/Prompter.h"
#include "blacklist/BlacklistFile.h"
#include "mailbox/MessageList.h"
#include "mailbox/Pop3Session.h"
#include "mailbox/ScanPasses.h"
#include "mailbox/ServerOperation.h"
#include "mailbox/SessionSettings.h"
#include "mailbox/SpamMarking.h"
#include "tray/Notifier.h"
#include "tray/Tray.h"

namespace {

const QColor ScanningGridColour(128, 0, 0);

QString checkedText() { return QStringLiteral("Courrier vérifié il y a moins d'une minute"); }

void setCounterColour(TForm1 &form, const QColor &colour)
{
    QPalette p = form.Edit10->palette();
    p.setColor(QPalette::Text, colour);
    form.Edit10->setPalette(p);
}

// A deferred scan runs as a press of the receive button would, once the running operation
// has ended; Form1 is the window the timers and the tray belong to.
void ensureDeferredScanRunner()
{
    static bool set = false;
    if (set)
        return;
    set = true;
    ServerOperation::setDeferredScanRunner([] {
        if (Form1)
            Form1->BitBtn2Click();
    });
}

bool connectionFieldEmpty(const TForm1 &form)
{
    return form.Edit3->text().isEmpty() || form.Edit4->text().isEmpty() || form.Edit15->text().isEmpty()
           || form.Edit16->text().isEmpty();
}

// Headers of every message into the list, with the unique ids when the server offers them.
// Errors propagate to the caller, which reports them as one failure of the network steps.
void headerPass(TForm1 &form, Pop3Session &session, QString &lastHeaderDate)
{
    MessageList &list = *form.list;
    session.open(accountFromWindow(form));

    // Only once connected: a scan that cannot reach the server leaves the previous rows.
    list.clearDataRows();
    form.setGridColour(ScanningGridColour);
    setCounterColour(form, Qt::red);
    form.Edit10->setText(QStringLiteral("0"));
    pumpEvents();

    waitPumping(100);
    const int count = session.messageCount();
    form.lastMessageCount = count;
    pumpEvents();

    list.setRows(count > 0 ? count + 1 : 2);
    form.setProgressBarColour(Qt::red);
    form.ProgressBar1->setVisible(true);
    form.ProgressBar1->setValue(0);
    pumpEvents();
    scan::headerPass(session, list, count, lastHeaderDate, [&](int r) {
        form.Edit10->setText(QString::number(r));
        form.ProgressBar1->setValue(r * 100 / count);
        pumpEvents();
    });
}

// Attachment counts and names; switches itself off for the next scan. Errors propagate.
void attachmentPass(TForm1 &form, Pop3Session &session)
{
    pumpEvents();
    const int m = session.messageCount();
    setCounterColour(form, Qt::blue);
    pumpEvents();
    form.setProgressBarColour(Qt::blue);
    form.ProgressBar1->setValue(0);
    pumpEvents();
    scan::attachmentPass(
        session, *form.list, m,
        [&](int r) {
            form.ProgressBar1->setValue(r * 100 / m);
            pumpEvents();
        },
        [&](int r) {
            form.Edit10->setText(QString::number(r) + QLatin1Char('/') + QString::number(m));
            pumpEvents();
        });
    form.CheckBox1->setChecked(false);
}

void endOfScan(TForm1 &form, int previousCount)
{
    // The grid's enabled state and height are the preview pane's business: a scan under an
    // open pane leaves them as they are.
    form.SG1->scrollToTop();
    form.setGridColour(TForm1::GridRestColour);
    form.ProgressBar1->setVisible(false);
    if (form.lastMessageCount > previousCount) {
        form.Timer1->start();
        prompter().beep();
        signalNewMail(form, previousCount);
    }
    form.StatusBar1->showMessage(checkedText());
    pumpEvents();
    form.trayTipText = checkedText();
    trayUpdate(form, TrayRequest::Modify);
    form.minuteCounter = 0;
}

} // namespace

void headerScan(TForm1 &form)
{
    ensureDeferredScanRunner();
    // Also the re-scan of a deletion given up by the window's close.
    if (ServerOperation::abandoned() || refusedWhileBusy())
        return;
    const ServerOperation operation;
    // This scan answers any scan deferred until now (e.g. a tick during the deletion it follows).
    ServerOperation::clearDeferredScan();

    const int previousCount = form.lastMessageCount;
    MessageList &list = *form.list;
    if (connectionFieldEmpty(form)) {
        list.clearDataRows();
        list.setRows(2);
        prompter().beep();
        return;
    }

    auto session = std::make_unique<Pop3Session>();
    QString lastHeaderDate;
    try {
        headerPass(form, *session, lastHeaderDate);
    } catch (const Error &) {
        prompter().information(QStringLiteral("Erreur durant la reception des messages"));
    }
    if (ServerOperation::abandoned())
        return;

    // An error of the attachment pass goes to the standard error report at once; the scan then
    // ends as after any failure (marks, colours, status line), so the list is not left dark.
    if (form.CheckBox1->isChecked()) {
        try {
            attachmentPass(form, *session);
        } catch (const Error &e) {
            reportError(e.text());
        } catch (const std::exception &e) {
            reportError(QString::fromLocal8Bit(e.what()));
        }
    }

    session.reset();

    try {
        blacklistPass(blacklist::filePath(form.dataFolder), list, lastHeaderDate);
    } catch (...) {
        // The marking is a help, not part of reading the mailbox: the scan ends normally.
    }

    endOfScan(form, previousCount);
}

void requestScan(TForm1 &form)
{
    ensureDeferredScanRunner();
    if (ServerOperation::busy()) {
        ServerOperation::deferScan();
        return;
    }
    headerScan(form);
}
