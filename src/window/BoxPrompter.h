// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class Prompter;
class QWidget;

// The program's message boxes: what the prompter shows once the windows exist.
Prompter &messageBoxes();
// Parent of those boxes.
void setPrompterParent(QWidget *parent);
