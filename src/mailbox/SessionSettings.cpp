#include "mailbox/SessionSettings.h"

#include <QCheckBox>
#include <QLineEdit>

#include "accounts/TlsRule.h"
#include "app/PelicordeFP.h"
#include "app/Prompter.h"
#include "mailbox/LoginDelay.h"
#include "mailbox/ServerOperation.h"

Pop3Account accountFromWindow(const TForm1 &form)
{
    Pop3Account account;
    account.host = form.Edit3->text();
    const int port = accounts::portNumber(form.Edit4->text());
    // Out of range: port 0, which no connection reaches, rather than a port cut to 16 bits.
    account.port = port > 0 && port <= 65535 ? quint16(port) : 0;
    account.user = form.Edit15->text();
    account.password = form.Edit16->text();
    account.tls = form.CheckBox2->isChecked();
    return account;
}

void openSession(Pop3Session &session, const TForm1 &form)
{
    const Pop3Account account = accountFromWindow(form);
    try {
        session.open(account);
    } catch (LoginRefused &refused) {
        loginDelays().refused(account, refused.reason());
        refused.setDelaySeconds(loginDelays().delaySeconds(account));
        throw;
    }
    // The login counts from now, even if the session fails right after it.
    loginDelays().loggedIn(account);
    loginDelays().announced(account, session.loginDelay());
}

bool refusedWhileBusy()
{
    if (!ServerOperation::busy())
        return false;
    prompter().beep();
    return true;
}
