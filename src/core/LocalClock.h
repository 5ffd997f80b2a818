// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

// Local date and time texts of many instants at little cost. A QDateTime in local time reads
// the system's time zone again at each conversion (a file status call every time); these read
// it when told to, once for a whole scan, convert with the C library as QDateTime does, and
// write the digits by hand.
namespace localclock {

// Reads the system's time zone (TZ, /etc/localtime) again; the texts follow the zone read last.
void readZone();

// The list's "dd/MM/yyyy  HH:mm:ss" of secs (seconds since 1970-01-01 UTC) in local time, as
// QDateTime::fromSecsSinceEpoch(secs) gives its date and time; date, when given, receives
// the date alone.
QString dateTimeText(qint64 secs, QString *date = nullptr);

} // namespace localclock
