// SPDX-License-Identifier: GPL-3.0-or-later
#include "attachments/AttachmentSaving.h"

#include <QStringList>

#include "core/Error.h"
#include "core/EventPump.h"
#include "core/Folders.h"
#include "core/Prompter.h"
#include "core/SafeFile.h"
#include "core/ServerOperation.h"
#include "protocol/LoginDelay.h"
#include "message/MailMessage.h"
#include "mailbox/MailboxSession.h"
#include "mailbox/MessageList.h"
#include "scan/SessionSettings.h"
#include "window/PelicordeFP.h"

namespace {

const QString FailureText = QStringLiteral("Erreur durant la reception de ce message");

// Fetches message n whole; the session is released (no QUIT: nothing was marked) before
// the questions, so the mailbox is not held while the user answers them.
MailMessage fetchMessage(const MailAccount &account, const QString &dataFolder, const MessageList &list, int n)
{
    const auto session = makeMailboxSession(account);
    openSession(*session, account, dataFolder, MailboxSession::Access::Read);
    pumpEvents();
    return MailMessage::parse(session->message(n, list.uid(n)));
}

} // namespace

void saveAttachments(TForm1 &form)
{
    saveAttachmentsOf(form.account(), form.dataFolder, *form.list, form.currentRow);
}

void saveAttachmentsOf(const MailAccount &account, const QString &dataFolder, const MessageList &list, int row)
{
    if (refusedWhileBusy() || refusedForAnotherAccount(list, account))
        return;
    ServerOperation op;
    QStringList saved; // the summary's lines
    try {
        const MailMessage mail = fetchMessage(account, dataFolder, list, row);
        const QList<MailPart> &parts = mail.parts();
        int ordinal = 0;
        for (const MailPart &part : parts) {
            if (part.kind != MailPart::Attachment)
                continue;
            ++ordinal;
            const QString name = attachments::safeFileName(part.fileName, ordinal);
            // The program's own files (its trust records among them) are never a mail's to write.
            const QString kept = attachments::clearOfProgramFiles(name);
            const QString path = folders::join(dataFolder, kept);
            if (attachments::entryExists(path)
                && !prompter().question(QStringLiteral("Le fichier\n") + path
                                        + QStringLiteral("\nExiste déja : Voulez-vous l'écraser ?")))
                break;
            QString why;
            if (!attachments::writeReplacing(path, part.content, &why))
                throw Error(why);
            saved << (kept == name ? path
                                   : path + QStringLiteral(" (nom changé : « %1 » est le nom d'un fichier de Pelicorde)")
                                                .arg(name));
        }
    } catch (const Error &e) {
        prompter().information(failureBoxText(e, FailureText));
        return;
    }
    if (saved.isEmpty()) {
        prompter().information(QStringLiteral("Aucune pièce-jointe sauvegardée"));
        return;
    }
    QString summary = QStringLiteral("Les pièces-jointes suivantes ont été sauvegardées : \n\n");
    for (const QString &line : std::as_const(saved))
        summary += QStringLiteral("- ") + line + QLatin1Char('\n');
    prompter().information(summary);
}
