// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QStringList>
#include <functional>

#include "core/Prompter.h"

// Stands in for the message boxes in tests: records every text and beep, answers questions
// from a queue (Oui when the queue is empty). Installs itself for its lifetime. whileShown, when
// set, runs inside every box before it is answered (what the user could do meanwhile).
class RecordingPrompter final : public Prompter
{
public:
    RecordingPrompter() { setPrompter(this); }
    ~RecordingPrompter() override { setPrompter(nullptr); }

    void information(const QString &text) override
    {
        infos << text;
        shown(text);
    }
    bool question(const QString &text, Default byDefault) override
    {
        questions << text;
        questionDefaults << byDefault;
        shown(text);
        return answers.isEmpty() ? true : answers.takeFirst();
    }
    void errorReport(const QString &text) override
    {
        errors << text;
        shown(text);
    }
    void beep() override
    {
        ++beeps;
        if (atBeep)
            atBeep();
    }

    void reset()
    {
        infos.clear();
        questions.clear();
        questionDefaults.clear();
        errors.clear();
        answers.clear();
        beeps = 0;
        whileShown = nullptr;
        atBeep = nullptr;
    }

    QStringList infos;
    QStringList questions;
    QList<Default> questionDefaults;
    QStringList errors;
    QList<bool> answers;
    int beeps = 0;
    std::function<void(const QString &text)> whileShown;
    std::function<void()> atBeep; // runs at every beep

private:
    void shown(const QString &text)
    {
        if (whileShown)
            whileShown(text);
    }
};
