#include "tray/Tray.h"

// Placeholders: the tray icon and periodic check code replaces these.
void trayUpdate(TForm1 &, TrayRequest) {}
void reduceToTray(TForm1 &) {}
void restoreFromTray(TForm1 &) {}
void verifyFromTray(TForm1 &) {}
void quitFromTray(TForm1 &) {}
void blinkTick(TForm1 &) {}
void periodicTick(TForm1 &) {}
void trayActivated(TForm1 &, QSystemTrayIcon::ActivationReason) {}
