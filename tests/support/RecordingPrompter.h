#pragma once
#include <QStringList>

#include "app/Prompter.h"

// Stands in for the message boxes in tests: records every text and beep, answers questions
// from a queue (Oui when the queue is empty). Installs itself for its lifetime.
class RecordingPrompter final : public Prompter
{
public:
    RecordingPrompter() { setPrompter(this); }
    ~RecordingPrompter() override { setPrompter(nullptr); }

    void information(const QString &text) override { infos << text; }
    bool question(const QString &text) override
    {
        questions << text;
        return answers.isEmpty() ? true : answers.takeFirst();
    }
    void errorReport(const QString &text) override { errors << text; }
    void beep() override { ++beeps; }

    void reset()
    {
        infos.clear();
        questions.clear();
        errors.clear();
        answers.clear();
        beeps = 0;
    }

    QStringList infos;
    QStringList questions;
    QStringList errors;
    QList<bool> answers;
    int beeps = 0;
};
