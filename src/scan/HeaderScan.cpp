// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/HeaderScan.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <memory>
#include <optional>

#include "core/AccountPassword.h"
#include "core/BlacklistFile.h"
#include "core/Error.h"
#include "core/EventPump.h"
#include "core/Prompter.h"
#include "core/ServerOperation.h"
#include "mailbox/LoginDelay.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/MessageList.h"
#include "mailbox/ScanPasses.h"
#include "mailbox/SessionAccount.h"
#include "mailbox/SpamMarking.h"
#include "scan/ScanController.h"
#include "scan/SessionSettings.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

namespace {

const QColor ScanningGridColour(128, 0, 0);

// The window is repainted at most this often during a pass: tens of thousands of rows come in
// a few seconds, and a repaint per row would cost more than the rows themselves.
constexpr int PumpIntervalMs = 30;
// Between the emptied list and the count.
constexpr int CountPauseMs = 100;

// Pumps window events when the last pump is PumpIntervalMs old, or when told it is the last step.
class Pacer
{
public:
    Pacer() { m_since.start(); }
    bool due(bool last) const { return last || m_since.elapsed() >= PumpIntervalMs; }
    void pump()
    {
        pumpEvents();
        m_since.restart();
    }

private:
    QElapsedTimer m_since;
};

// QProgressBar repaints itself at once at each step, which costs more than a row; during a
// pass the window is repainted at the pacer's pace, so a step only awaits the next repaint.
void stepProgress(QProgressBar &bar, int position)
{
    if (position == bar.value())
        return;
    bar.setUpdatesEnabled(false);
    bar.setValue(position);
    bar.setUpdatesEnabled(true);
}

void setCounterColour(TForm1 &form, const QColor &colour)
{
    QPalette p = form.Edit10->palette();
    p.setColor(QPalette::Text, colour);
    form.Edit10->setPalette(p);
}

bool connectionFieldEmpty(const TForm1 &form)
{
    return !form.accountFields().complete();
}

// Milliseconds before the server accepts a login with the window's account; 0 when it may be now.
qint64 loginWaitMs(const TForm1 &form)
{
    return connectionFieldEmpty(form) ? 0 : loginDelays().waitMs(form.account());
}

// A scan that would log in before the server's login delay has passed is held until it has,
// then runs as a timer's request. Returns the wait; 0 when the scan may run now.
qint64 heldForLoginDelay(TForm1 &form)
{
    const qint64 wait = loginWaitMs(form);
    if (wait > 0)
        form.scans->holdFor(wait);
    return wait;
}

// "14:32": when a scan stopped, for the status line.
QString now() { return QTime::currentTime().toString(QStringLiteral("HH:mm")); }

// What stopped the scan goes on the status line and in the tip before its box shows: the
// minute ticks while the box waits would otherwise say that the mail was checked.
void sayStop(TForm1 &form, const QString &stop)
{
    form.check.scanStop = stop;
    form.StatusBar1->showMessage(stop);
    form.check.trayTipText = stop;
}

QString failedText(const Error &e)
{
    return e.cause().isEmpty() ? QStringLiteral("Échec de la relève à %1").arg(now())
                               : QStringLiteral("Échec de la relève à %1 : %2").arg(now(), e.cause());
}

QString heldScanText(qint64 waitMs)
{
    return QStringLiteral("Relève des messages à %1 : le serveur demande d'attendre entre deux connexions")
        .arg(QTime::currentTime().addMSecs(int(waitMs)).toString(QStringLiteral("HH:mm:ss")));
}

// Headers of every message into the list, with the unique ids when the server offers them.
// Errors propagate to the caller, which reports them as one failure of the network steps.
void headerPass(TForm1 &form, MailboxSession &session, QString &lastHeaderDate)
{
    MessageList &list = *form.list;
    // As the session reads it: the fields may change while a box waits during the login.
    const MailAccount account = form.account();
    const QString source = sessionAccountKey(account);
    const QString unrecorded = openSession(session, account, form.dataFolder, MailboxSession::Access::Scan);
    QStringList notes;
    if (!session.encrypted())
        notes << QStringLiteral("Connexion non chiffrée");
    if (!unrecorded.isEmpty())
        notes << unrecorded.left(1).toUpper() + unrecorded.mid(1);
    form.check.scanNote = notes.join(QStringLiteral(" ; "));

    // Only once connected: a scan that cannot reach the server leaves the previous rows.
    list.clearDataRows();
    form.setGridColour(ScanningGridColour);
    setCounterColour(form, Qt::red);
    form.Edit10->setText(QStringLiteral("0"));
    pumpEvents();

    // The pause shows the emptied list before the count and the rows; the link and the
    // parsing need not idle meanwhile. In a POP3 session the mailbox stays as it was at the
    // login, so the count read before the pause is the one read after it, and the headers read
    // during it are held until it is over.
    const int count = session.messageCount();
    // Known before any row is: a deletion tells from them what it will do to the rows read.
    list.setMailbox(source, session.idScope(), session.removalKind());
    session.headersAhead(1, count);
    QElapsedTimer pause;
    pause.start();
    Pacer pacer;
    // The rows written since the last repaint are told to the grid right before the next one.
    const auto pump = [&] {
        list.announce();
        pacer.pump();
    };
    const scan::RowHold hold{
        [&] {
            if (pacer.due(false))
                pump();
            return pause.elapsed() >= CountPauseMs;
        },
        [&] {
            if (const qint64 left = CountPauseMs - pause.elapsed(); left > 0)
                waitPumping(int(left));
            form.check.lastMessageCount = count;
            pumpEvents();
            list.setRows(count > 0 ? count + 1 : 2);
            form.setProgressBarColour(Qt::red);
            form.ProgressBar1->setVisible(true);
            form.ProgressBar1->setValue(0);
            pump();
        }};
    // The counter changes with every step of the bar and at every repaint, so what is shown
    // is always the count of the rows read (the last row changes the step).
    scan::headerPass(
        session, list, count, lastHeaderDate,
        [&](int r) {
            const int position = r * 100 / count;
            // No repaint forced after the last row: the end of the scan repaints right after.
            const bool due = pacer.due(false);
            if (due || position != form.ProgressBar1->value())
                form.Edit10->setText(QString::number(r));
            stepProgress(*form.ProgressBar1, position);
            if (due)
                pump();
        },
        hold);
}

// Attachment counts and names; switches itself off for the next scan. Errors propagate.
void attachmentPass(TForm1 &form, MailboxSession &session)
{
    pumpEvents();
    const int m = session.messageCount();
    setCounterColour(form, Qt::blue);
    pumpEvents();
    form.setProgressBarColour(Qt::blue);
    form.ProgressBar1->setValue(0);
    pumpEvents();
    Pacer pacer;
    scan::attachmentPass(
        session, *form.list, m,
        [&](int r) {
            stepProgress(*form.ProgressBar1, r * 100 / m);
            if (pacer.due(false))
                pacer.pump();
        },
        [&](int r) {
            form.Edit10->setText(QString::number(r) + QLatin1Char('/') + QString::number(m));
            if (pacer.due(r == m))
                pacer.pump();
        });
    form.CheckBox1->setChecked(false);
}

void endOfScan(TForm1 &form, int previousCount, const QString &stop)
{
    form.check.scanStop = stop;
    // The grid's enabled state and height are the preview pane's business: a scan under an
    // open pane leaves them as they are.
    form.SG1->scrollToTop();
    form.setGridColour(TForm1::GridRestColour);
    form.ProgressBar1->setVisible(false);
    emit form.scanEnded(previousCount);
}

} // namespace

void headerScan(TForm1 &form)
{
    // Also the re-scan of a deletion given up by the window's close.
    if (ServerOperation::abandoned() || refusedWhileBusy())
        return;
    // Asked for by the user: the list stays as it is and the status line says when the scan runs.
    if (const qint64 wait = heldForLoginDelay(form)) {
        form.check.scanStop = heldScanText(wait);
        form.StatusBar1->showMessage(form.check.scanStop);
        return;
    }
    const ServerOperation operation;
    // This scan answers any scan deferred until now (e.g. a tick during the deletion it follows).
    ServerOperation::clearDeferredScan();
    form.scans->cancelHold();

    const int previousCount = form.check.lastMessageCount;
    MessageList &list = *form.list;
    if (connectionFieldEmpty(form)) {
        list.clearDataRows();
        list.setRows(2);
        prompter().beep();
        const accounts::Account fields = form.accountFields();
        const QString why = fields.password.isEmpty() ? accounts::passwordUnavailable(fields.address, fields.server)
                                                      : QString();
        form.check.scanStop = why.isEmpty()
                            ? QStringLiteral("Relève impossible à %1 : compte de réception incomplet").arg(now())
                            : QStringLiteral("Relève impossible à %1 : mot de passe indisponible, %2").arg(now(), why);
        form.StatusBar1->showMessage(form.check.scanStop);
        form.check.trayTipText = form.check.scanStop;
        return;
    }

    auto session = makeMailboxSession(form.account());
    QString lastHeaderDate;
    QString stop;
    form.check.scanNote.clear();
    try {
        headerPass(form, *session, lastHeaderDate);
    } catch (const CertificateToConfirm &e) {
        // Quietly: the list stays as it was, the status line says what waits for the user.
        form.check.scanStop = e.text() + QStringLiteral(" (%1) : relève à la prochaine demande").arg(now());
        emit form.scanEnded(previousCount);
        return;
    } catch (const EncryptionWithdrawn &e) {
        // Nobody may be there to read a box: the status line says why nothing was checked.
        form.check.scanStop = e.text() + QStringLiteral(" (%1)").arg(now());
        if (runsUnattended()) {
            emit form.scanEnded(previousCount);
            return;
        }
        stop = form.check.scanStop;
        sayStop(form, stop);
        prompter().information(failureBoxText(e, QStringLiteral("Erreur durant la reception des messages")));
    } catch (const Error &e) {
        stop = failedText(e);
        sayStop(form, stop);
        // A box would hold every later check until someone came to answer it: what nobody
        // asked for is told on the status line and in the tip alone.
        if (!runsUnattended())
            prompter().information(failureBoxText(e, QStringLiteral("Erreur durant la reception des messages")));
    }
    if (ServerOperation::abandoned())
        return;

    // An error of the attachment pass goes to the standard error report at once; the scan then
    // ends as after any failure (marks, colours, status line), so the list is not left dark.
    if (form.CheckBox1->isChecked()) {
        std::optional<QString> failure;
        try {
            attachmentPass(form, *session);
        } catch (const Error &e) {
            failure = e.text();
        } catch (const std::exception &e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        if (failure) {
            if (runsUnattended())
                sayStop(form, stop = QStringLiteral("Échec du décompte des pièces jointes à %1 : %2").arg(now(), *failure));
            else
                reportError(*failure);
        }
    }

    session.reset();

    try {
        blacklistPass(blacklist::filePath(form.dataFolder), list, lastHeaderDate);
    } catch (...) {
        // The marking is a help, not part of reading the mailbox: the scan ends normally.
    }

    endOfScan(form, previousCount, stop);
}

bool requestScan(TForm1 &form)
{
    if (ServerOperation::busy()) {
        ServerOperation::deferScan();
        return true;
    }
    if (ServerOperation::abandoned())
        return true;
    if (const qint64 wait = heldForLoginDelay(form)) {
        form.check.scanStop = heldScanText(wait);
        return false;
    }
    const UnattendedScope unattended;
    headerScan(form);
    return true;
}

bool scanHeldForLoginDelay(TForm1 &form) { return form.scans->holding(); }

void rescanAfterChange(TForm1 &form)
{
    // Rows kept until the server lets us in again would stand for messages that are gone or
    // renumbered: a click would preview or mark another message than the one shown.
    if (!ServerOperation::abandoned() && loginWaitMs(form) > 0) {
        form.list->clearDataRows();
        form.list->setRows(2);
    }
    headerScan(form);
}
