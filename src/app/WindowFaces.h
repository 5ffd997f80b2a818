// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <memory>

class ScanDisplay;
class TForm1;
class TrayWindow;

// The main window as each feature sees it: the faces the features define, over its controls.

// Counter Edit10, ProgressBar1, SG1's colour and scroll, StatusBar1, P.J. (CheckBox1), and the
// window's scanEnded signal.
std::unique_ptr<ScanDisplay> scanDisplayOf(TForm1 &form);

// The icon in trayIcon (its clicks to TrayMessage) and the pictures of Image1 and Image2, Timer1
// and Timer2, StatusBar1, the window itself and PopupMenu1, the notifier in notifier (its
// restore request to Restaurer1). A child of the window.
TrayWindow *trayWindowOf(TForm1 &form);
