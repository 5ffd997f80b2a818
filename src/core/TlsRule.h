// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

// The port field drives the TLS box: TLS exactly when the port number is above 900.
namespace accounts {

inline constexpr int kDefaultPort = 110;
inline constexpr int kHighestPlainPort = 900;

// The port field read as a decimal integer: blanks around it ignored, an optional '+' or '-'
// then one or more ASCII digits, nothing else (no blank inside, no "$1F" or "0x1F"
// hexadecimal), within the range of a 32-bit int. Any other text, the empty one included, gives 110. The value is not range
// checked as a port: the POP3 session refuses what it cannot connect to.
int portNumber(const QString &portText);
// True when portNumber reads a number in portText rather than giving its default.
bool isPortNumber(const QString &portText);

// The TLS rule: portNumber(portText) > 900.
bool usesTls(const QString &portText);

} // namespace accounts
