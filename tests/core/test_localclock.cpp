// SPDX-License-Identifier: GPL-3.0-or-later
// The list's date texts written by hand: what QDateTime shows in local time, across daylight
// saving changes, in zones read from files and from rules, and at the ends of the years shown.
#include <QtTest>

#include "core/LocalClock.h"

class LocalClockTest : public QObject
{
    Q_OBJECT
private slots:
    void asQDateTime_data()
    {
        QTest::addColumn<QByteArray>("zone");
        for (const char *zone : {"Europe/Paris", "CET-1CEST,M3.5.0,M10.5.0/3", "Australia/Lord_Howe", "America/St_Johns", "UTC"})
            QTest::newRow(zone) << QByteArray(zone);
    }
    void asQDateTime()
    {
        QFETCH(QByteArray, zone);
        const std::optional<QByteArray> saved =
            qEnvironmentVariableIsSet("TZ") ? std::optional(qgetenv("TZ")) : std::nullopt;
        qputenv("TZ", zone);
        localclock::readZone();
        // Both sides of the changes of 2026 in Europe and Australia, the epoch, years 1 and 9999.
        for (const qint64 at : {1774746000LL, 1792890000LL, 1775314800LL, 1791041400LL, 0LL, -62135596800LL, 253402300799LL})
            for (const qint64 step : {-3600, -1801, -1, 0, 1, 1799, 3600}) {
                const qint64 secs = at + step;
                const QDateTime when = QDateTime::fromSecsSinceEpoch(secs);
                QString date;
                QCOMPARE(localclock::dateTimeText(secs, &date), when.toString(QStringLiteral("dd/MM/yyyy  HH:mm:ss")));
                QCOMPARE(date, when.toString(QStringLiteral("dd/MM/yyyy")));
            }
        if (saved)
            qputenv("TZ", *saved);
        else
            qunsetenv("TZ");
        localclock::readZone();
    }
};

QTEST_GUILESS_MAIN(LocalClockTest)
#include "test_localclock.moc"
