// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounts/AccountHandlers.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalBlocker>

#include "core/AccountFile.h"
#include "core/AccountList.h"
#include "core/AccountPassword.h"
#include "core/EventPump.h"
#include "core/Prompter.h"
#include "core/TlsRule.h"
#include "protocol/EncryptedServers.h"
#include "scan/HeaderScan.h"
#include "scan/SessionSettings.h"
#include "window/Controls.h"
#include "window/PelicordeFP.h"

void loadFavourite(TForm1 &form)
{
    accounts::LoadResult result = accounts::loadFavourite(form.dataFolder);
    switch (result.status) {
    case accounts::LoadStatus::Loaded: {
        // An empty password field asks the keyring, before any field changes; unavailable, the
        // field stays empty and the scan says why.
        if (result.fields.password.isEmpty() && !result.fields.address.isEmpty())
            accounts::passwordFromKeyring(result.fields);
        // Edit4's change handler pumps events; with the other fields half loaded a waiting
        // click could start a scan on a mix of two accounts. Every caller applies the TLS
        // rule right after loading, so nothing is lost by holding the handler back here.
        const QSignalBlocker blockPort(form.Edit4);
        form.Edit3->setText(result.fields.server);
        form.Edit4->setText(result.fields.port);
        form.Edit16->setText(result.fields.password);
        form.Edit15->setText(result.fields.address);
        // Show each field from its start, as typed text would be read.
        for (QLineEdit *field : {form.Edit3, form.Edit4, form.Edit16, form.Edit15})
            field->setCursorPosition(0);
        break;
    }
    case accounts::LoadStatus::Unreadable:
        prompter().beep();
        break;
    case accounts::LoadStatus::Missing:
    case accounts::LoadStatus::Damaged:
        break;
    }
}

void applyTlsRule(TForm1 &form) { form.CheckBox2->setChecked(accounts::usesTls(form.accountFields().port)); }

void portChanged(TForm1 &form)
{
    applyTlsRule(form);
    pumpEvents();
}

void saveAccount(TForm1 &form)
{
    const accounts::Account account = form.accountFields();
    QString refusal;
    const accounts::SaveStatus status = accounts::saveAccountWithKeyring(form.dataFolder, account, &refusal);
    // Saving the account again is how the user accepts a server that no longer offers TLS.
    if (status == accounts::SaveStatus::Saved) {
        const MailAccount server = form.account();
        encryptedServers::forget(encryptedServers::recordPath(form.dataFolder), server.host, server.port);
    }
    const QString message = !refusal.isEmpty()
                                ? refusal
                                : accounts::saveMessage(status, accounts::accountFilePath(form.dataFolder, account.address));
    if (!message.isEmpty())
        prompter().information(message);
}

void listAccounts(TForm1 &form)
{
    ComboBox &box = *form.ComboBox1;
    // Rebuilding moves the current item; only a user's pick is a choice (the change handler
    // listens to activated(), which rebuilding never emits).
    const QSignalBlocker block(box);
    box.clear();
    // Each item carries its own file: "Bob.ADR" and "Bob.adr" are two accounts.
    for (const accounts::AccountItem &item : accounts::listAccounts(form.dataFolder))
        box.addItem(item.name, item.fileName);
    box.setCurrentIndex(-1); // nothing preselected
}

void chooseAccount(TForm1 &form)
{
    if (refusedWhileBusy()) {
        // The choice did not happen: the list must not show it as made.
        const QSignalBlocker quiet(form.ComboBox1);
        form.ComboBox1->setCurrentIndex(-1);
        return;
    }
    const QString fileName = form.ComboBox1->currentData().toString();
    QString why;
    if (!accounts::makeFavourite(form.dataFolder, fileName, &why)) {
        prompter().information(why.isEmpty() ? accounts::favouriteFailedMessage()
                                             : accounts::favouriteFailedMessage() + QStringLiteral("\n\n") + why);
        return;
    }
    loadFavourite(form);
    applyTlsRule(form);
    pumpEvents();
    headerScan(form);
}
