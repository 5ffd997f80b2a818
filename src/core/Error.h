// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>
#include <exception>
#include <utility>

#include "core/Prompter.h"

// An error with a text for the user; raised by every failing operation of the program.
class Error : public std::exception
{
public:
    explicit Error(QString text, QString cause = {})
        : m_text(std::move(text)), m_cause(std::move(cause)), m_utf8(m_text.toUtf8())
    {
    }
    // What happened, where: "Connexion impossible au serveur pop.example:110 : …".
    const QString &text() const noexcept { return m_text; }
    // The cause in one line for a user, added under an operation's own box ("Serveur
    // introuvable"); empty when there is none to tell.
    const QString &cause() const noexcept { return m_cause; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QString m_cause;
    QByteArray m_utf8;
};

// Runs one event handler: nothing escapes into the Qt event loop; an escaping error goes
// to the standard error report and the loop goes on.
template <typename F>
void guarded(F &&handler) noexcept
{
    try {
        handler();
    } catch (const Error &e) {
        reportError(e.text());
    } catch (const std::exception &e) {
        reportError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        reportError(QString());
    }
}
