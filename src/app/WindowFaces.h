// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <memory>

class ScanDisplay;
class TForm1;

// The main window as each feature sees it: the faces the features define, over its controls.

// Counter Edit10, ProgressBar1, SG1's colour and scroll, StatusBar1, P.J. (CheckBox1), and the
// window's scanEnded signal.
std::unique_ptr<ScanDisplay> scanDisplayOf(TForm1 &form);
