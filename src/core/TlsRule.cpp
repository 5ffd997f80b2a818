// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TlsRule.h"

namespace accounts {

int portNumber(const QString &text)
{
    // A blank pasted or typed around the digits must not turn 995 into a clear-text 110.
    const QString portText = text.trimmed();
    qsizetype digitsFrom = 0;
    if (portText.startsWith(QLatin1Char('+')) || portText.startsWith(QLatin1Char('-')))
        digitsFrom = 1;
    if (digitsFrom == portText.size())
        return kDefaultPort;
    for (qsizetype i = digitsFrom; i < portText.size(); ++i) {
        const char16_t c = portText.at(i).unicode();
        if (c < u'0' || c > u'9')
            return kDefaultPort;
    }
    bool ok = false;
    const int value = portText.toInt(&ok, 10);
    return ok ? value : kDefaultPort;
}

bool usesTls(const QString &portText)
{
    return portNumber(portText) > kHighestPlainPort;
}

} // namespace accounts
