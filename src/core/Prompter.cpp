// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Prompter.h"

#include "core/ServerOperation.h"

namespace {

// Without a window nothing can be shown: nothing is, and a question answers Annuler, the
// answer that changes nothing.
class SilentPrompter final : public Prompter
{
public:
    void information(const QString &) override {}
    bool question(const QString &, Default) override { return false; }
    void errorReport(const QString &) override {}
    void beep() override {}
};

SilentPrompter g_silent;
Prompter *g_default = &g_silent;
Prompter *g_current = g_default;

// Whatever shows the boxes: while one waits for its answer no scan starts (the list must stay
// what the answer acts on), and once the window is closed no box appears any more.
class ModalPrompter final : public Prompter
{
public:
    void information(const QString &text) override
    {
        if (ServerOperation::abandoned())
            return;
        const ServerOperation::BoxShown shown;
        g_current->information(text);
    }

    bool question(const QString &text, Default byDefault) override
    {
        if (ServerOperation::abandoned())
            return false;
        const ServerOperation::BoxShown shown;
        return g_current->question(text, byDefault);
    }

    void errorReport(const QString &text) override
    {
        if (ServerOperation::abandoned())
            return;
        const ServerOperation::BoxShown shown;
        g_current->errorReport(text);
    }

    void beep() override
    {
        if (!ServerOperation::abandoned())
            g_current->beep();
    }
};

ModalPrompter g_modal;

} // namespace

Prompter &prompter() { return g_modal; }

void setPrompter(Prompter *p) { g_current = p ? p : g_default; }

void setDefaultPrompter(Prompter *p)
{
    const bool wasDefault = g_current == g_default;
    g_default = p ? p : &g_silent;
    if (wasDefault)
        g_current = g_default;
}

QString errorReportText(const QString &text)
{
    if (!text.isEmpty() && text.back().isLetterOrNumber())
        return text + QLatin1Char('.');
    return text;
}

void reportError(const QString &text) { prompter().errorReport(errorReportText(text)); }
