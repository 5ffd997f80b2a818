// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QSize>

// The whole start-up of the process; main() only calls this. Always returns 0.
int runPelicorde(int argc, char **argv);

class EngineArguments;

// Settings that must be in place before the web engine starts (EngineArguments): its sandbox
// switched off under root, its chatter off the terminal, no host name ever looked up. Returns
// the command line to build the application with (argc and argv as main() got them, the first
// call's kept for the process).
EngineArguments &prepareApplication(int argc, char **argv);

// Loads Qt's French translations, whatever the locale says.
void installQtTranslations();

// Creates the main window Form1, then the blacklist editor Form2 (hidden), in that order, and
// shows the main window maximised. workArea as for TForm1.
void createWindows(QSize workArea = QSize());
// Destroys Form2 and Form1 (the main window's destroy step runs).
void destroyWindows();
