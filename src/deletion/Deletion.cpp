// SPDX-License-Identifier: GPL-3.0-or-later
#include "deletion/Deletion.h"

#include <QHash>

#include "core/Error.h"
#include "core/EventPump.h"
#include "core/Prompter.h"
#include "core/ServerOperation.h"
#include "mailbox/LoginDelay.h"
#include "mailbox/MailMessage.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/MessageList.h"
#include "scan/HeaderScan.h"
#include "scan/SessionSettings.h"
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

// The warning says what will become of the messages, as the scan found the mailbox.
QString warningText(const MessageList &list)
{
    if (list.idScope().isEmpty())
        return QStringLiteral("Attention :\n\nCette suppression des messages sur le serveur est "
                              "irréversible.\n\nVoulez-vous continuer ?");
    if (list.removal().kind == Removal::Kind::ToJunk)
        return QStringLiteral("Attention :\n\nLes messages cochés seront déplacés dans le dossier Indésirables "
                              "(« %1 ») du serveur.\n\nVoulez-vous continuer ?")
            .arg(list.removal().folder);
    return QStringLiteral("Attention :\n\nLes messages cochés seront supprimés définitivement du serveur : "
                          "cette suppression est irréversible.\n\nVoulez-vous continuer ?");
}

// The window was closed during the run: the session goes without QUIT, so none of the run's
// deletions take effect.
void throwIfAbandoned()
{
    if (ServerOperation::abandoned())
        throw Error(QStringLiteral("Suppression abandonnée : le programme se ferme"));
}

// The marked rows whose ids name their messages for good, removed in one step under the
// scan's id scope: a mailbox renumbered since cannot mislead it. A row the scan left without
// an id is not removed.
void removeByIds(MailboxSession &session, const MessageList &list)
{
    QList<QString> ids;
    for (int r = list.rows() - 1; r >= 1; --r) {
        if (!list.isMarked(r))
            continue;
        if (list.uid(r).isEmpty())
            prompter().information(ChangedText);
        else
            ids << list.uid(r);
    }
    throwIfAbandoned();
    if (!ids.isEmpty())
        session.removeByIds(list.idScope(), ids, list.removal().kind == Removal::Kind::ToJunk);
    pumpEvents();
    throwIfAbandoned();
}

// Whether message r on the server is still the one row r shows.
bool stillTheSame(MailboxSession &session, const MessageList &list, const QHash<int, QString> &ids, int r)
{
    const MailMessage header = MailMessage::parse(session.header(r));
    // Compared as text, not through the ANSI code page: there, two Cyrillic or Chinese subjects
    // of the same length both read as a row of '?' and pass for the same.
    if (MessageList::kept(header.subject()) != list.cell(r, MessageList::Subject))
        return false;
    // Subjects repeat (newsletters, notifications, spam runs); the unique id does not. When the
    // server gives ids, a row without one cannot be told from its neighbours.
    const QString uid = list.uid(r);
    if (uid.isEmpty() && ids.isEmpty())
        return true;
    return !uid.isEmpty() && ids.value(r) == uid;
}

// Deletes the marked rows that still stand for the same message on the server, then QUIT.
// Throws on any failure; the caller then drops the session without QUIT, so that none of
// this run's deletions take effect. quitSent: the deletions may have taken effect.
void deleteRows(MailboxSession &session, TForm1 &form, bool &quitSent)
{
    openSession(session, form, MailboxSession::Access::Change);
    pumpEvents();
    const MessageList &list = *form.list;
    if (session.idsIdentify()) {
        // Such removals take effect at once, not at the session's end.
        quitSent = true;
        removeByIds(session, list);
        session.close();
        return;
    }
    // A row beyond the mailbox's end stands for a message that is gone: asking the server for
    // it would only fail the whole run.
    const int count = session.messageCount();
    QList<int> marked;
    for (int r = list.rows() - 1; r >= 1; --r)
        if (list.isMarked(r))
            marked << r;
    const QHash<int, QString> ids = marked.isEmpty() ? QHash<int, QString>() : session.uniqueIds();

    // In steps of many rows: their headers asked in one go, then the deletions of those that
    // still match; a link's round trip is paid per step, not twice per message.
    constexpr int kStep = 2000;
    for (qsizetype from = 0; from < marked.size(); from += kStep) {
        const QList<int> step = marked.mid(from, kStep);
        QList<int> onServer;
        for (int r : step)
            if (r <= count)
                onServer << r;
        session.headersAhead(onServer);
        QList<int> same;
        for (int r : step) {
            throwIfAbandoned();
            if (r <= count && stillTheSame(session, list, ids, r))
                same << r;
            else
                prompter().information(ChangedText);
            pumpEvents();
        }
        throwIfAbandoned();
        session.removeAhead(same);
        for (int r : same) {
            if (!session.remove(r))
                prompter().information(RefusedText);
            pumpEvents();
        }
        throwIfAbandoned();
    }
    quitSent = true;
    session.close();
}

// A removal the server stopped midway: its words, and how many of the ticked messages had gone.
QString stoppedText(const RemovalFailed &e, const MessageList &list)
{
    int ticked = 0;
    for (int r = 1; r < list.rows(); ++r)
        ticked += list.isMarked(r) ? 1 : 0;
    const bool toJunk = list.removal().kind == Removal::Kind::ToJunk;
    const QString done = e.done() == 0 ? NothingRemovedText.mid(2)
        : toJunk ? QStringLiteral("Déjà déplacés dans le dossier « %1 » avant l'erreur : %2 des %3 messages cochés.")
                       .arg(list.removal().folder).arg(e.done()).arg(ticked)
                 : QStringLiteral("Déjà supprimés avant l'erreur : %1 des %2 messages cochés.").arg(e.done()).arg(ticked);
    return QStringLiteral("Erreur durant la suppression des messages sur le serveur\n\n%1\n\n%2").arg(e.text(), done);
}

} // namespace

void deleteMarked(TForm1 &form)
{
    if (refusedWhileBusy() || refusedForAnotherAccount(form))
        return;
    // Known from the scan: the warning must not promise what the server cannot do.
    if (form.list->removal().kind == Removal::Kind::Refused) {
        prompter().information(ExpungeUnsupportedText + NothingRemovedText);
        return;
    }
    bool changed = false;
    {
        // Held across the question: a scan meanwhile (a tick, the tray) would re-mark the rows
        // the user unticked, and "Oui" would delete them.
        ServerOperation op;
        if (!prompter().question(warningText(*form.list)))
            return;
        QString failure;
        {
            const auto session = windowSession(form);
            try {
                deleteRows(*session, form, changed);
            } catch (const MailboxChanged &) {
                failure = ChangedText + NothingRemovedText;
            } catch (const ExpungeUnsupported &) {
                failure = ExpungeUnsupportedText + NothingRemovedText;
            } catch (const RemovalFailed &e) {
                failure = stoppedText(e, *form.list);
            } catch (const Error &e) {
                failure = failureBoxText(e, FailureText);
            }
        } // released: without QUIT after a failure
        if (!failure.isEmpty())
            prompter().information(failure);
    }
    // Without QUIT the server deleted nothing: the rows still stand for its messages, also
    // while a scan waits for its login delay (a login the delay refused, say).
    if (changed)
        rescanAfterChange(form);
    else
        headerScan(form);
}
