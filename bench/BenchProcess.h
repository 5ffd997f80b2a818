// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the benchmarks read about their own process: resident memory and what is mapped.
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <malloc.h>
#include <sys/resource.h>

namespace benchprocess {

// A field of /proc/self/status in MiB ("VmRSS", "VmHWM"); -1 when unreadable.
inline double statusMb(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Processor time of this process so far (user and system), in seconds: on a busy machine it
// tells the program's own cost apart from the wait for the processor.
inline double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Processor time of the calling thread so far: the program's own work, without the threads a
// benchmark runs beside it (a relay).
inline double threadCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline double rssMb() { return statusMb("VmRSS"); }
inline double peakRssMb() { return statusMb("VmHWM"); }

// Proportional share of the resident memory (shared libraries split among their users).
inline double pssMb()
{
    QFile f(QStringLiteral("/proc/self/smaps_rollup"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Gives freed heap back and starts the peak over from the current resident size.
inline void resetPeak()
{
    malloc_trim(0);
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// Whether a library whose file name matches pattern is mapped into the process.
inline bool mapped(const QString &pattern)
{
    QFile f(QStringLiteral("/proc/self/maps"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QRegularExpression re(pattern);
    return re.match(QString::fromLatin1(f.readAll())).hasMatch();
}

} // namespace benchprocess
