#include "scan/SessionSettings.h"

#include <QCheckBox>
#include <QLineEdit>

#include "core/Prompter.h"
#include "core/ServerOperation.h"
#include "mailbox/LoginDelay.h"
#include "mailbox/SessionAccount.h"
#include "window/PelicordeFP.h"

Pop3Account accountFromWindow(const TForm1 &form)
{
    return sessionAccount(form.Edit3->text(), form.Edit4->text(), form.Edit15->text(), form.Edit16->text(),
                          form.CheckBox2->isChecked());
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
