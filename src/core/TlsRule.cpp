// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TlsRule.h"

#include <optional>

namespace accounts {

namespace {
std::optional<int> parsed(const QString &text)
{
    // A blank pasted or typed around the digits must not turn 995 into a clear-text 110.
    const QString portText = text.trimmed();
    qsizetype digitsFrom = 0;
    if (portText.startsWith(QLatin1Char('+')) || portText.startsWith(QLatin1Char('-')))
        digitsFrom = 1;
    if (digitsFrom == portText.size())
        return std::nullopt;
    for (qsizetype i = digitsFrom; i < portText.size(); ++i) {
        const char16_t c = portText.at(i).unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const int value = portText.toInt(&ok, 10);
    return ok ? std::optional(value) : std::nullopt;
}
} // namespace

int portNumber(const QString &text)
{
    return parsed(text).value_or(kDefaultPort);
}

bool isPortNumber(const QString &text)
{
    return parsed(text).has_value();
}

bool usesTls(const QString &portText)
{
    return portNumber(portText) > kHighestPlainPort;
}

} // namespace accounts
