// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

#include "mailbox/SeenMail.h"

// Where the checking of the mailbox stands between two scans: what the scans and the user have
// seen, the minutes since the last check, and what the status line and the tray's tip say of it.
// The window owns it; the scan and the tray read and write it.
struct CheckState
{
    int lastMessageCount = 0;
    SeenMail scannedMail;       // what the scans have read: new mail is what it does not hold
    SeenMail seenMail;          // what the user has seen, which notifications count from; null before the first scan
    int minuteCounter = 0;      // ticks of Timer2 since the last scan: the sixth scans again
    int minutesSinceCheck = -1; // ticks of Timer2 since the last scan that got through; -1: none yet
    // Said by the status line after the check time of the last scan ("Connexion non chiffrée").
    QString scanNote;
    // What stopped the last scan and when (a failure, a certificate to confirm, the server's
    // login delay): the status line says it, rather than a check time, until a scan gets through.
    QString scanStop;
    bool blinkPhase = false;
    QString trayTipText = QStringLiteral("Pelicorde");
};
