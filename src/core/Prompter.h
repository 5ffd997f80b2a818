// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

// Every message box, question and beep of the program goes through here, so that tests
// can record what the user would see and give the answers.
class Prompter
{
public:
    virtual ~Prompter() = default;
    // Information box titled "Pelicorde" with one OK button.
    virtual void information(const QString &text) = 0;
    // Warning question titled "Avertissement", buttons "Oui" and "Annuler", byDefault the one
    // that Return presses. True for Oui; Escape and the close box mean Annuler.
    enum class Default { Oui, Annuler };
    virtual bool question(const QString &text, Default byDefault = Default::Oui) = 0;
    // The standard error report: critical box titled "Pelicorde"; text already completed.
    virtual void errorReport(const QString &text) = 0;
    virtual void beep() = 0;
};

// The process-wide prompter: the default one (the window's message boxes once the window
// program has installed them; nothing shown otherwise), or one a test installs. While one of its
// boxes waits for an answer no scan starts; once the main window is closed none is shown (a
// question then answers Annuler).
Prompter &prompter();
// Installs p (not owned); nullptr puts the default back.
void setPrompter(Prompter *p);
// The default (not owned); nullptr: nothing is shown, questions answer Annuler.
void setDefaultPrompter(Prompter *p);

// The standard error report's text: a full stop is added when the text ends in a letter or digit.
QString errorReportText(const QString &text);
// Shows the standard error report for text.
void reportError(const QString &text);
