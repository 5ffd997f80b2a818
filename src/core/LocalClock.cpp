// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/LocalClock.h"

#include <QDateTime>
#include <algorithm>
#include <ctime>

namespace localclock {

namespace {

char16_t *digits(char16_t *out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i, value /= 10)
        out[i] = char16_t(u'0' + value % 10);
    return out + width;
}

} // namespace

void readZone()
{
    tzset();
}

QString dateTimeText(qint64 secs, QString *date)
{
    const time_t t = time_t(secs);
    tm local{};
    // Years of four digits and no leap second, as QDateTime shows them; anything else takes its way.
    if (qint64(t) == secs && localtime_r(&t, &local) && local.tm_year >= 1 - 1900 && local.tm_year <= 9999 - 1900
        && local.tm_sec <= 59) {
        QString text(20, Qt::Uninitialized);
        char16_t *out = reinterpret_cast<char16_t *>(text.data());
        out = digits(out, local.tm_mday, 2);
        *out++ = u'/';
        out = digits(out, local.tm_mon + 1, 2);
        *out++ = u'/';
        out = digits(out, local.tm_year + 1900, 4);
        *out++ = u' ';
        *out++ = u' ';
        out = digits(out, local.tm_hour, 2);
        *out++ = u':';
        out = digits(out, local.tm_min, 2);
        *out++ = u':';
        digits(out, local.tm_sec, 2);
        // Written over the previous row's date: no new string for each row.
        if (date) {
            date->resize(10);
            std::copy_n(text.constData(), 10, date->data());
        }
        return text;
    }
    const QDateTime when = QDateTime::fromSecsSinceEpoch(secs);
    const QString day = when.toString(QStringLiteral("dd/MM/yyyy"));
    if (date)
        *date = day;
    return day + QStringLiteral("  ") + when.toString(QStringLiteral("HH:mm:ss"));
}

} // namespace localclock
