// Idle cost of a running process, read from /proc: CPU time (the sum of its
// threads' run time from schedstat, in nanoseconds) and wake-ups (voluntary
// plus involuntary context switches of all its threads) over a time window.

#include "Common.h"

#include <QDir>
#include <QFile>
#include <QThread>

namespace kalvora::perf {

namespace {

struct Usage {
    qint64 cpuNs = 0;
    qint64 switches = 0;
    qint64 mainSwitches = 0;
    int threads = 0;
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

qint64 switchesOf(const QByteArray &status)
{
    qint64 total = 0;
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:")
            || line.startsWith("nonvoluntary_ctxt_switches:"))
            total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return total;
}

// Threads that ended during the window are missing from the second reading;
// the console's threads live as long as it does, so this does not matter here.
Usage usageOf(qint64 pid)
{
    Usage u;
    const QString base = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList tasks = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        const QList<QByteArray> sched =
            readAll(base + u'/' + task + QLatin1String("/schedstat")).split(' ');
        u.cpuNs += sched.value(0).toLongLong();
        const qint64 sw = switchesOf(readAll(base + u'/' + task + QLatin1String("/status")));
        u.switches += sw;
        if (task == QString::number(pid))
            u.mainSwitches = sw;
        ++u.threads;
    }
    return u;
}

} // namespace

// sample --pid P --seconds S --name NAME [--xpid X]
int runSample(const Options &o)
{
    const qint64 pid = o.number(QStringLiteral("pid"), 0);
    const qint64 xpid = o.number(QStringLiteral("xpid"), 0);
    const double seconds = o.real(QStringLiteral("seconds"), 30);
    if (!QFile::exists(QStringLiteral("/proc/%1").arg(pid))) {
        std::fprintf(stderr, "sample: no process %lld\n", pid);
        return 1;
    }
    const Usage a = usageOf(pid);
    const Usage xa = xpid ? usageOf(xpid) : Usage {};
    const qint64 t0 = monotonicUs();
    QThread::usleep(quint64(seconds * 1e6));
    const Usage b = usageOf(pid);
    const Usage xb = xpid ? usageOf(xpid) : Usage {};
    const double wall = double(monotonicUs() - t0) / 1e6;
    if (!QFile::exists(QStringLiteral("/proc/%1").arg(pid))) {
        std::fprintf(stderr, "sample: process %lld ended while sampled\n", pid);
        return 1;
    }
    printResult(
        o.text(QStringLiteral("name"), QStringLiteral("sample")),
        { { QStringLiteral("cpu_pct"), fixed(double(b.cpuNs - a.cpuNs) / 1e9 / wall * 100.0) },
          { QStringLiteral("wakeups_per_s"), fixed(double(b.switches - a.switches) / wall, 1) },
          { QStringLiteral("main_wakeups_per_s"),
            fixed(double(b.mainSwitches - a.mainSwitches) / wall, 1) },
          { QStringLiteral("threads"), QString::number(b.threads) },
          { QStringLiteral("x_cpu_pct"),
            xpid ? fixed(double(xb.cpuNs - xa.cpuNs) / 1e9 / wall * 100.0) : QStringLiteral("-") },
          { QStringLiteral("seconds"), fixed(wall, 1) } });
    return 0;
}

} // namespace kalvora::perf
