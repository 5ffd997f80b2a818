// SPDX-License-Identifier: GPL-3.0-or-later
#include "deletion/Deletion.h"

#include "core/Error.h"
#include "core/EventPump.h"
#include "core/Prompter.h"
#include "core/ServerOperation.h"
#include "protocol/LoginDelay.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/MessageList.h"
#include "scan/HeaderScan.h"
#include "scan/ScanController.h"
#include "scan/SessionSettings.h"
#include "marking/MarkingHandlers.h"
#include "window/PelicordeFP.h"

namespace {

const QString ChangedText =
    QStringLiteral("Abandon de la suppression, car entre-temps les mails ont changé sur le serveur !!!");
const QString RefusedText = QStringLiteral("Erreur durant la suppression du message sur le serveur");
const QString FailureText =
    QStringLiteral("Erreur durant la reception des messages\n\nVérifiez les informations Pop3 entrées");
const QString NothingRemovedText = QStringLiteral("\n\nAucun message n'a été supprimé.");
const QString ExpungeUnsupportedText = QStringLiteral(
    "Le serveur ne sait pas effacer seulement les messages cochés (il n'offre pas UIDPLUS). Pelicorde ne les "
    "efface donc pas : la commande EXPUNGE de ce serveur effacerait aussi les messages que d'autres logiciels "
    "ont marqués pour suppression.");

// The warning says what will become of the messages, as the scan (or the server, asked before
// the warning) found the mailbox.
QString removalText(const Removal &removal)
{
    if (removal.kind == Removal::Kind::Destroy)
        return QStringLiteral("Attention :\n\nCette suppression des messages sur le serveur est "
                              "irréversible.\n\nVoulez-vous continuer ?");
    if (removal.kind == Removal::Kind::ToJunk)
        return QStringLiteral("Attention :\n\nLes messages cochés seront déplacés dans le dossier Indésirables "
                              "(« %1 ») du serveur.\n\nVoulez-vous continuer ?")
            .arg(removal.folder);
    return QStringLiteral("Attention :\n\nLes messages cochés seront supprimés définitivement du serveur : "
                          "cette suppression est irréversible.\n\nVoulez-vous continuer ?");
}

// Suggestions are deleted as any tick: the user is told how many there are before saying yes.
QString suggestionsText(const MessageList &list)
{
    const int suggested = list.suggestionCount();
    if (suggested == 0)
        return {};
    int ticked = 0;
    for (int r = 1; r < list.rows(); ++r)
        ticked += list.isMarked(r) ? 1 : 0;
    return suggested == 1 ? QStringLiteral("Dont 1 des %1 messages cochés suggéré par le score appris.").arg(ticked)
                          : QStringLiteral("Dont %1 des %2 messages cochés suggérés par le score appris.")
                                .arg(suggested)
                                .arg(ticked);
}

// The window was closed during the run: the session is dropped without being ended, so none of
// the run's deletions that wait for its end take effect.
void throwIfAbandoned()
{
    if (ServerOperation::abandoned())
        throw Error(QStringLiteral("Suppression abandonnée : le programme se ferme"));
}

// Removes the marked rows that still stand for the same message on the server, each row that
// does not saying so in its box as it is found, then ends the session (opened first unless open)
// so that the removals take effect. Throws on any failure; the caller then drops the session
// without ending it. changed: the mailbox may have changed; kept: the ticked rows the server
// had changed or refused to remove.
void deleteRows(MailboxSession &session, bool open, const MailAccount &account, const QString &dataFolder,
                const MessageList &list, const Removal &removal, bool &changed, QList<int> &kept)
{
    if (!open)
        openSession(session, account, dataFolder, MailboxSession::Access::Change);
    pumpEvents();
    // Removals that take effect as they go may have changed the mailbox, whatever happens next.
    changed = session.removesAtOnce();
    QList<RemovalRow> rows;
    for (int r = list.rows() - 1; r >= 1; --r)
        if (list.isMarked(r))
            rows << RemovalRow{r, list.uid(r), list.cell(r, MessageList::Subject)};
    RemovalEvents events;
    events.changed = [&kept](const RemovalRow &row) {
        kept << row.number;
        prompter().information(ChangedText);
    };
    events.refused = [&kept](const RemovalRow &row) {
        kept << row.number;
        prompter().information(RefusedText);
    };
    events.between = [] {
        pumpEvents();
        throwIfAbandoned();
    };
    session.remove(rows, list.idScope(), removal, events);
    changed = true;
    session.close();
}

// A removal the server stopped midway: its words, and how many of the ticked messages had gone.
QString stoppedText(const RemovalFailed &e, const MessageList &list, const Removal &removal)
{
    int ticked = 0;
    for (int r = 1; r < list.rows(); ++r)
        ticked += list.isMarked(r) ? 1 : 0;
    const bool toJunk = removal.kind == Removal::Kind::ToJunk;
    const QString done = e.done() == 0 ? NothingRemovedText.mid(2)
        : toJunk ? QStringLiteral("Déjà déplacés dans le dossier « %1 » avant l'erreur : %2 des %3 messages cochés.")
                       .arg(removal.folder).arg(e.done()).arg(ticked)
                 : QStringLiteral("Déjà supprimés avant l'erreur : %1 des %2 messages cochés.").arg(e.done()).arg(ticked);
    return QStringLiteral("Erreur durant la suppression des messages sur le serveur\n\n%1\n\n%2").arg(e.text(), done);
}

} // namespace

void deleteMarked(TForm1 &form)
{
    // Taken before the scan that follows reads the rows again; learned meanwhile, off the window.
    QList<learning::Lesson> lessons;
    const DeletionRun run = deleteMarkedRows(form.account(), form.dataFolder, *form.list, &lessons);
    if (!lessons.isEmpty())
        learnLessons(form.dataFolder, lessons, &form, form.scans->display());
    // The scan that follows reads the fields again: it is a scan of its own.
    switch (run) {
    case DeletionRun::NotRun:
        break;
    case DeletionRun::Kept:
        headerScan(form);
        break;
    case DeletionRun::Changed:
        rescanAfterChange(form);
        break;
    }
}

QString deletionWarning(const MessageList &list, const Removal &removal)
{
    const QString suggested = suggestionsText(list);
    if (suggested.isEmpty())
        return removalText(removal);
    const QString text = removalText(removal);
    const QString question = QStringLiteral("\n\nVoulez-vous continuer ?");
    return text.left(text.size() - question.size()) + QStringLiteral("\n\n") + suggested + question;
}

DeletionRun deleteMarkedRows(const MailAccount &account, const QString &dataFolder, const MessageList &list,
                             QList<learning::Lesson> *lessons)
{
    if (refusedWhileBusy() || refusedForAnotherAccount(list, account))
        return DeletionRun::NotRun;
    // Held across the question: a scan meanwhile (a tick, the tray) would re-mark the rows
    // the user unticked, and "Oui" would delete them.
    ServerOperation op;
    Removal removal = list.removal();
    auto session = makeMailboxSession(account);
    // What only the server's folder list tells is asked now, on the session that will remove
    // the rows, so that the warning promises no more than the server can do.
    const bool open = removal.kind == Removal::Kind::Unknown;
    if (open) {
        try {
            openSession(*session, account, dataFolder, MailboxSession::Access::Change);
            removal = session->removalKind();
        } catch (const Error &e) {
            session.reset();
            prompter().information(failureBoxText(e, FailureText));
            return DeletionRun::Kept;
        }
    }
    if (removal.kind == Removal::Kind::Refused) {
        prompter().information(ExpungeUnsupportedText + NothingRemovedText);
        return DeletionRun::NotRun;
    }
    bool changed = false;
    if (!prompter().question(deletionWarning(list, removal)))
        return DeletionRun::NotRun;
    QString failure;
    QList<int> kept; // ticked rows the server had changed or refused to remove
    try {
        deleteRows(*session, open, account, dataFolder, list, removal, changed, kept);
        if (lessons)
            *lessons = list.lessonsAfterDeletion(kept);
    } catch (const MailboxChanged &) {
        failure = ChangedText + NothingRemovedText;
    } catch (const ExpungeUnsupported &) {
        failure = ExpungeUnsupportedText + NothingRemovedText;
    } catch (const RemovalFailed &e) {
        failure = stoppedText(e, list, removal);
    } catch (const Error &e) {
        failure = failureBoxText(e, FailureText);
    }
    session.reset(); // released: without QUIT after a failure
    if (!failure.isEmpty())
        prompter().information(failure);
    // Without QUIT the server deleted nothing: the rows still stand for its messages, also
    // while a scan waits for its login delay (a login the delay refused, say).
    return changed ? DeletionRun::Changed : DeletionRun::Kept;
}
