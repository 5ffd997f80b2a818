#pragma once
#include <QSystemTrayIcon>

class TForm1;

enum class TrayRequest { Add, Modify, Delete };

// The notification-area icon and the periodic check.
void trayUpdate(TForm1 &form, TrayRequest request);
void reduceToTray(TForm1 &form);    // BitBtn6
void restoreFromTray(TForm1 &form); // Restaurer1
void verifyFromTray(TForm1 &form);  // VerifierMails1
void quitFromTray(TForm1 &form);    // Quitter1
void blinkTick(TForm1 &form);       // Timer1
void periodicTick(TForm1 &form);    // Timer2
void trayActivated(TForm1 &form, QSystemTrayIcon::ActivationReason reason);
