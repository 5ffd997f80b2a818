// SPDX-License-Identifier: GPL-3.0-or-later
#include "scan/HeaderScan.h"

#include <QElapsedTimer>
#include <QTime>
#include <memory>
#include <optional>

#include "core/AccountPassword.h"
#include "core/BlacklistFile.h"
#include "core/Error.h"
#include "core/EventPump.h"
#include "core/FriendsFile.h"
#include "core/Prompter.h"
#include "core/ServerOperation.h"
#include "protocol/LoginDelay.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/MessageList.h"
#include "mailbox/ScanPasses.h"
#include "protocol/SessionAccount.h"
#include "mailbox/SpamMarking.h"
#include "scan/ScanController.h"
#include "scan/SessionSettings.h"
#include "window/PelicordeFP.h"

namespace {

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

// Milliseconds before the server accepts a login with the job's account; 0 when it may be now.
qint64 loginWaitMs(const ScanJob &job)
{
    return job.fields.complete() ? loginDelays().waitMs(job.account) : 0;
}

// A scan that would log in before the server's login delay has passed is held until it has,
// then runs as a timer's request. Returns the wait; 0 when the scan may run now.
qint64 heldForLoginDelay(const ScanJob &job)
{
    const qint64 wait = loginWaitMs(job);
    if (wait > 0)
        job.scans.holdFor(wait);
    return wait;
}

// "14:32": when a scan stopped, for the status line.
QString now() { return QTime::currentTime().toString(QStringLiteral("HH:mm")); }

// What stopped the scan goes on the status line and in the tip before its box shows: the
// minute ticks while the box waits would otherwise say that the mail was checked.
void sayStop(const ScanJob &job, const QString &stop)
{
    job.check.scanStop = stop;
    job.scans.display().showStatus(stop);
    job.check.trayTipText = stop;
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
void headerPass(const ScanJob &job, MailboxSession &session, QString &lastHeaderDate,
                const learning::SpamScorer &scorer)
{
    MessageList &list = job.list;
    ScanDisplay &display = job.scans.display();
    // As the session reads it: the fields may change while a box waits during the login.
    const QString source = sessionAccountKey(job.account);
    const QString unrecorded = openSession(session, job.account, job.dataFolder, MailboxSession::Access::Scan);
    QStringList notes;
    if (!session.encrypted())
        notes << QStringLiteral("Connexion non chiffrée");
    if (!unrecorded.isEmpty())
        notes << unrecorded.left(1).toUpper() + unrecorded.mid(1);
    job.check.scanNote = notes.join(QStringLiteral(" ; "));

    // Only once connected: a scan that cannot reach the server leaves the previous rows.
    list.clearDataRows();
    display.setListScanning(true);
    display.setCounterColour(Qt::red);
    display.setCounter(QStringLiteral("0"));
    pumpEvents();

    // The pause shows the emptied list before the count and the rows; the link and the
    // parsing need not idle meanwhile. In a POP3 session the mailbox stays as it was at the
    // login, so the count read before the pause is the one read after it, and the headers read
    // during it are held until it is over.
    const int count = session.messageCount();
    // Known before any row is: a deletion tells from them what it will do to the rows read (or,
    // when that takes the server's folder list, learns it before its warning).
    list.setMailbox(source, session.idScope(), session.removalKind(MailboxSession::Lookup::Known));
    if (display.attachmentsAsked())
        session.attachmentsAhead();
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
            job.check.lastMessageCount = count;
            pumpEvents();
            list.setRows(count > 0 ? count + 1 : 2);
            display.setProgressColour(Qt::red);
            display.setProgressVisible(true);
            display.setProgress(0);
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
            if (due || position != display.progress())
                display.setCounter(QString::number(r));
            display.stepProgress(position);
            if (due)
                pump();
        },
        hold, &scorer);
}

// Attachment counts and names; switches itself off for the next scan. Errors propagate.
void attachmentPass(const ScanJob &job, MailboxSession &session)
{
    ScanDisplay &display = job.scans.display();
    pumpEvents();
    const int m = session.messageCount();
    display.setCounterColour(Qt::blue);
    pumpEvents();
    display.setProgressColour(Qt::blue);
    display.setProgress(0);
    pumpEvents();
    Pacer pacer;
    int shown = -1; // the step of the bar the counter was last set at
    scan::attachmentPass(
        session, job.list, m,
        [&](int r) {
            display.stepProgress(r * 100 / m);
            if (pacer.due(false))
                pacer.pump();
        },
        [&](int r) {
            // As in the header pass, the counter changes with every step of the bar and at every
            // repaint: setting the field for each of 100,000 structures cost more than reading them.
            const bool due = pacer.due(r == m);
            if (due || r * 100 / m != shown) {
                display.setCounter(QString::number(r) + QLatin1Char('/') + QString::number(m));
                shown = r * 100 / m;
            }
            if (due)
                pacer.pump();
        });
    display.untickAttachments();
}

void endOfScan(const ScanJob &job, int previousCount, const QString &stop)
{
    ScanDisplay &display = job.scans.display();
    job.check.scanStop = stop;
    // The grid's enabled state and height are the preview pane's business: a scan under an
    // open pane leaves them as they are.
    display.scrollListToTop();
    display.setListScanning(false);
    display.setProgressVisible(false);
    display.ended(previousCount);
}

} // namespace

// Each handler reads the fields as they stand when it runs: a scan that waited (a deferred one,
// or the one after a deletion) reads them anew.
ScanJob scanJobOf(TForm1 &form)
{
    return {form.accountFields(), form.account(), form.dataFolder, form.check, *form.list, *form.scans};
}

void headerScan(TForm1 &form) { scanHeaders(scanJobOf(form)); }

bool requestScan(TForm1 &form) { return scanOnRequest(scanJobOf(form)); }

void rescanAfterChange(TForm1 &form) { scanAfterChange(scanJobOf(form)); }

SenderLists markingLists(const QString &dataFolder)
{
    return {blacklist::filePath(dataFolder), friends::filePath(dataFolder)};
}

void scanHeaders(const ScanJob &job)
{
    ScanDisplay &display = job.scans.display();
    // Also the re-scan of a deletion given up by the window's close.
    if (ServerOperation::abandoned() || refusedWhileBusy())
        return;
    // Asked for by the user: the list stays as it is and the status line says when the scan runs.
    if (const qint64 wait = heldForLoginDelay(job)) {
        job.check.scanStop = heldScanText(wait);
        display.showStatus(job.check.scanStop);
        return;
    }
    const ServerOperation operation;
    // This scan answers any scan deferred until now (e.g. a tick during the deletion it follows).
    ServerOperation::clearDeferredScan();
    job.scans.cancelHold();

    const int previousCount = job.check.lastMessageCount;
    MessageList &list = job.list;
    if (!job.fields.complete()) {
        list.clearDataRows();
        list.setRows(2);
        prompter().beep();
        const accounts::Account &fields = job.fields;
        const QString why = fields.password.isEmpty() ? accounts::passwordUnavailable(fields.address, fields.server)
                                                      : QString();
        job.check.scanStop = why.isEmpty()
                            ? QStringLiteral("Relève impossible à %1 : compte de réception incomplet").arg(now())
                            : QStringLiteral("Relève impossible à %1 : mot de passe indisponible, %2").arg(now(), why);
        display.showStatus(job.check.scanStop);
        job.check.trayTipText = job.check.scanStop;
        return;
    }

    // What was learned, as it stands now: another process (pelicorde-check) may have learned
    // since. A store that cannot be used scores nothing, and the status line says so.
    QString storeProblem;
    const learning::SpamScorer &scorer = job.scans.scorer(job.dataFolder, &storeProblem);

    auto session = makeMailboxSession(job.account);
    QString lastHeaderDate;
    QString stop;
    job.check.scanNote.clear();
    try {
        headerPass(job, *session, lastHeaderDate, scorer);
    } catch (const CertificateToConfirm &e) {
        // Quietly: the list stays as it was, the status line says what waits for the user.
        job.check.scanStop = e.text() + QStringLiteral(" (%1) : relève à la prochaine demande").arg(now());
        display.ended(previousCount);
        return;
    } catch (const EncryptionWithdrawn &e) {
        // Nobody may be there to read a box: the status line says why nothing was checked.
        job.check.scanStop = e.text() + QStringLiteral(" (%1)").arg(now());
        if (runsUnattended()) {
            display.ended(previousCount);
            return;
        }
        stop = job.check.scanStop;
        sayStop(job, stop);
        prompter().information(failureBoxText(e, QStringLiteral("Erreur durant la reception des messages")));
    } catch (const Error &e) {
        stop = failedText(e);
        sayStop(job, stop);
        // A box would hold every later check until someone came to answer it: what nobody
        // asked for is told on the status line and in the tip alone.
        if (!runsUnattended())
            prompter().information(failureBoxText(e, QStringLiteral("Erreur durant la reception des messages")));
    }
    if (ServerOperation::abandoned())
        return;

    // An error of the attachment pass goes to the standard error report at once; the scan then
    // ends as after any failure (marks, colours, status line), so the list is not left dark.
    if (display.attachmentsAsked()) {
        std::optional<QString> failure;
        try {
            attachmentPass(job, *session);
        } catch (const Error &e) {
            failure = e.text();
        } catch (const std::exception &e) {
            failure = QString::fromLocal8Bit(e.what());
        }
        if (failure) {
            if (runsUnattended())
                sayStop(job, stop = QStringLiteral("Échec du décompte des pièces jointes à %1 : %2").arg(now(), *failure));
            else
                reportError(*failure);
        }
    }

    session.reset();

    try {
        markingPasses(list, markingLists(job.dataFolder), lastHeaderDate, BlacklistDates::Write, job.scans.suggestions());
    } catch (...) {
        // The marking is a help, not part of reading the mailbox: the scan ends normally.
    }

    if (!storeProblem.isEmpty() && stop.isEmpty())
        job.check.scanNote = job.check.scanNote.isEmpty() ? storeProblem
                                                          : job.check.scanNote + QStringLiteral(" ; ") + storeProblem;
    endOfScan(job, previousCount, stop);
}

bool scanOnRequest(const ScanJob &job)
{
    if (ServerOperation::busy()) {
        ServerOperation::deferScan();
        return true;
    }
    if (ServerOperation::abandoned())
        return true;
    if (const qint64 wait = heldForLoginDelay(job)) {
        job.check.scanStop = heldScanText(wait);
        return false;
    }
    const UnattendedScope unattended;
    scanHeaders(job);
    return true;
}

void scanAfterChange(const ScanJob &job)
{
    // Rows kept until the server lets us in again would stand for messages that are gone or
    // renumbered: a click would preview or mark another message than the one shown.
    if (!ServerOperation::abandoned() && loginWaitMs(job) > 0) {
        job.list.clearDataRows();
        job.list.setRows(2);
    }
    scanHeaders(job);
}
