// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QSize>

// How the window first appears: maximised, or (started with the session, "--tray") straight in
// the notification area, minimised when there is none; the checks run alike.
enum class StartMode { Window, Tray };

// The whole start-up of the process; main() only calls this. Always returns 0. Should the program
// already run on the same data folder, that one comes to the front and this one ends.
int runPelicorde(int argc, char **argv, StartMode mode = StartMode::Window);

class EngineArguments;

// Settings that must be in place before the web engine starts (EngineArguments): its sandbox
// switched off under root, its chatter off the terminal, no host name ever looked up. Returns
// the command line to build the application with (argc and argv as main() got them, the first
// call's kept for the process).
EngineArguments &prepareApplication(int argc, char **argv);

// Loads Qt's French translations, whatever the locale says.
void installQtTranslations();

// Creates the main window Form1, then the blacklist editor Form2 (hidden), in that order, and
// shows the main window as mode says. workArea as for TForm1.
void createWindows(QSize workArea = QSize(), StartMode mode = StartMode::Window);
// Destroys Form2 and Form1 (the main window's destroy step runs).
void destroyWindows();
