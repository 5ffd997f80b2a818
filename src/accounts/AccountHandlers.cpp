// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounts/AccountHandlers.h"

#include "core/AccountList.h"
#include "core/AccountPassword.h"
#include "core/EventPump.h"
#include "core/Prompter.h"
#include "core/TlsRule.h"
#include "protocol/EncryptedServers.h"
#include "scan/HeaderScan.h"
#include "scan/SessionSettings.h"
#include "window/PelicordeFP.h"

void loadFavourite(TForm1 &form)
{
    if (const std::optional<accounts::Account> fields = favouriteAccount(form.dataFolder))
        form.setAccountFields(*fields);
}

void applyTlsRule(TForm1 &form) { form.setTls(accounts::usesTls(form.accountFields().port)); }

void portChanged(TForm1 &form)
{
    applyTlsRule(form);
    pumpEvents();
}

void saveAccount(TForm1 &form) { storeAccount(form.accountFields(), form.account(), form.dataFolder); }

void listAccounts(TForm1 &form) { form.setAccountChoices(accounts::listAccounts(form.dataFolder)); }

void chooseAccount(TForm1 &form)
{
    if (refusedWhileBusy()) {
        // The choice did not happen: the list must not show it as made.
        form.clearAccountChoice();
        return;
    }
    if (!chooseFavourite(form.dataFolder, form.chosenAccountFile()))
        return;
    loadFavourite(form);
    applyTlsRule(form);
    pumpEvents();
    headerScan(form);
}

std::optional<accounts::Account> favouriteAccount(const QString &dataFolder)
{
    accounts::LoadResult result = accounts::loadFavourite(dataFolder);
    switch (result.status) {
    case accounts::LoadStatus::Loaded:
        // An empty password field asks the keyring, before any field changes.
        if (result.fields.password.isEmpty() && !result.fields.address.isEmpty())
            accounts::passwordFromKeyring(result.fields);
        return result.fields;
    case accounts::LoadStatus::Unreadable:
        prompter().beep();
        break;
    case accounts::LoadStatus::Missing:
    case accounts::LoadStatus::Damaged:
        break;
    }
    return std::nullopt;
}

void storeAccount(const accounts::Account &fields, const MailAccount &account, const QString &dataFolder)
{
    QString refusal;
    const accounts::SaveStatus status = accounts::saveAccountWithKeyring(dataFolder, fields, &refusal);
    if (status == accounts::SaveStatus::Saved)
        encryptedServers::forget(encryptedServers::recordPath(dataFolder), account.host, account.port);
    const QString message = !refusal.isEmpty()
                                ? refusal
                                : accounts::saveMessage(status, accounts::accountFilePath(dataFolder, fields.address));
    if (!message.isEmpty())
        prompter().information(message);
}

bool chooseFavourite(const QString &dataFolder, const QString &fileName)
{
    QString why;
    if (accounts::makeFavourite(dataFolder, fileName, &why))
        return true;
    prompter().information(why.isEmpty() ? accounts::favouriteFailedMessage()
                                         : accounts::favouriteFailedMessage() + QStringLiteral("\n\n") + why);
    return false;
}
