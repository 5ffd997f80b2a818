// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the benchmarks read about their own process: resident memory and what is mapped.
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <malloc.h>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

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

// The program's data and temporary folders (APPDATA, TEMP) made inside root, so that a run
// never touches the user's own.
inline void usePrivateDataFolders(const QString &root)
{
    for (const char *dir : {"appdata", "temp"})
        QDir(root).mkpath(QLatin1String(dir));
    qputenv("APPDATA", QDir(root).filePath(QStringLiteral("appdata")).toLocal8Bit());
    qputenv("TEMP", QDir(root).filePath(QStringLiteral("temp")).toLocal8Bit());
}

inline double rssMb() { return statusMb("VmRSS"); }
inline double peakRssMb() { return statusMb("VmHWM"); }

// A field of /proc/<pid>/smaps_rollup in MiB, this process by default: "Pss" is the proportional
// share of the resident memory (shared libraries split among their users), "Private_Dirty" and
// "Private_Clean" what no other process shares.
inline double rollupMb(const char *field, const QString &pid = QStringLiteral("self"))
{
    QFile f(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

inline double pssMb(const QString &pid = QStringLiteral("self")) { return rollupMb("Pss", pid); }

// This process and every process it started, however deep (the web engine's helpers), but for
// those in leaveOut and what they started.
inline QStringList processTree(const QStringList &leaveOut = {})
{
    QHash<QString, QStringList> children;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        // After the command name, which is in parentheses and may hold spaces: state, parent.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        children[QString::fromLatin1(fields.value(1))] << pid;
    }
    QStringList tree{QString::number(getpid())};
    for (qsizetype i = 0; i < tree.size(); ++i)
        for (const QString &child : children.value(tree[i]))
            if (!leaveOut.contains(child))
                tree << child;
    return tree;
}

// A rollup field summed over this process and all it started; their number in count.
inline double treeMb(const char *field, const QStringList &leaveOut = {}, int *count = nullptr)
{
    double sum = 0;
    int n = 0;
    for (const QString &pid : processTree(leaveOut)) {
        const double mb = rollupMb(field, pid);
        if (mb < 0)
            continue; // ended meanwhile
        sum += mb;
        ++n;
    }
    if (count)
        *count = n;
    return sum;
}

// Lets every thread of this process run on the CPUs of set only; the processes it starts
// afterwards begin there.
inline bool runOn(const cpu_set_t &set)
{
    bool pinned = true;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        pinned = sched_setaffinity(pid_t(task.toInt()), sizeof set, &set) == 0 && pinned;
    return pinned;
}

// Moves every thread of this process to one CPU. False when the machine has no such CPU.
inline bool pinTo(int cpu)
{
    if (cpu < 0 || unsigned(cpu) >= std::thread::hardware_concurrency())
        return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return runOn(set);
}

// Lets every thread of this process run on any CPU again.
inline void unpin()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (unsigned cpu = 0; cpu < std::thread::hardware_concurrency(); ++cpu)
        CPU_SET(cpu, &set);
    runOn(set);
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

// The share of the machine's processor time spent idle since it was made (all CPUs,
// /proc/stat): a client that waits on a server whose CPU it shares shows whether the two
// together were short of processor time.
class IdleMeter
{
public:
    IdleMeter() { read(m_idle, m_total); }
    double share() const
    {
        double idle = 0, total = 0;
        read(idle, total);
        return total > m_total ? (idle - m_idle) / (total - m_total) : 0;
    }

private:
    static void read(double &idle, double &total)
    {
        QFile f(QStringLiteral("/proc/stat"));
        if (!f.open(QIODevice::ReadOnly))
            return;
        const QList<QByteArray> fields = f.readLine().simplified().split(' '); // "cpu user nice system idle iowait ..."
        idle = total = 0;
        for (qsizetype i = 1; i < fields.size(); ++i) {
            total += fields[i].toDouble();
            if (i == 4 || i == 5)
                idle += fields[i].toDouble();
        }
    }

    double m_idle = 0;
    double m_total = 0;
};

} // namespace benchprocess
