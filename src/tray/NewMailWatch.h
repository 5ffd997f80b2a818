// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class TForm1;

// The handler of the first show that starts the idle watch of the window's mailbox, for an IMAP
// account whose server offers IDLE: new mail runs the check the minute timer and the tray menu
// run, within seconds rather than at the next sixth minute (the watcher gathers what the server
// announces together). It follows the account at the end of every scan, ends as soon as the
// fields no longer hold the watched account, and ends with the window, for good. It trusts what
// the window's scans trust and never asks: a certificate still to confirm means no watch until a
// scan has got through. The watcher is the window's (watcher), nullptr before the first show.
void watchNewMail(TForm1 &form);
