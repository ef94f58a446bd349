#include "Common.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QUdpSocket>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace kalvora::perf {

qint64 monotonicUs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

Options::Options(const QStringList &args)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (!args[i].startsWith(QLatin1String("--")))
            continue;
        const QString key = args[i].mid(2);
        if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1String("--")))
            m_values.insert(key, args[++i]);
        else
            m_values.insert(key, QString());
    }
}

QString Options::text(const QString &key, const QString &fallback) const
{
    return m_values.value(key, fallback);
}

qint64 Options::number(const QString &key, qint64 fallback) const
{
    bool ok = false;
    const qint64 value = m_values.value(key).toLongLong(&ok);
    return ok ? value : fallback;
}

double Options::real(const QString &key, double fallback) const
{
    bool ok = false;
    const double value = m_values.value(key).toDouble(&ok);
    return ok ? value : fallback;
}

QString bedCode(int i)
{
    return QString::number(1000 + i);
}

QString bedName(int i)
{
    return QStringLiteral("Палата %1, койка %2").arg(i / 3 + 1).arg(i % 3 + 1);
}

QPoint bedPosition(int i, int n)
{
    // A grid over the plan with a margin of 20 pixels, about as many columns
    // per pixel of width as rows per pixel of height.
    const double w = 1040, h = 720;
    const int cols = std::max(1, int(std::ceil(std::sqrt(n * w / h))));
    const int rows = std::max(1, (n + cols - 1) / cols);
    const double sx = cols > 1 ? w / (cols - 1) : 0;
    const double sy = rows > 1 ? h / (rows - 1) : 0;
    return { 20 + int((i % cols) * sx), 20 + int((i / cols) * sy) };
}

namespace {

quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress);
    return probe.localPort();
}

} // namespace

WardFiles makeWard(const QString &dir, const WardOptions &options)
{
    WardFiles files;
    files.dataDir = dir + QLatin1String("/data");
    files.settingsFile = dir + QLatin1String("/kalvora.ini");
    QDir().mkpath(files.dataDir);
    QDirIterator it(QStringLiteral(KALVORA_DEMO_DATA), QDir::Files);
    while (it.hasNext()) {
        it.next();
        if (it.fileName() == u"tables.txt")
            continue;
        const QString target = files.dataDir + u'/' + it.fileName();
        QFile::remove(target);
        QFile::copy(it.filePath(), target);
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    }
    if (!options.pictures.isEmpty()) {
        QDirIterator own(options.pictures, { QStringLiteral("*.gif") }, QDir::Files);
        while (own.hasNext()) {
            own.next();
            const QString target = files.dataDir + u'/' + own.fileName();
            QFile::remove(target);
            QFile::copy(own.filePath(), target);
        }
    }
    if (options.animatedIdle) {
        for (int k = 0; k < 20; ++k) {
            const QString bed = files.dataDir + QStringLiteral("/bed%1.gif").arg(k);
            QFile::remove(bed);
            QFile::copy(files.dataDir + QStringLiteral("/greenbed%1.gif").arg(k), bed);
        }
    }
    QFile tables(files.dataDir + QLatin1String("/tables.txt"));
    if (!tables.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(tables.fileName()));
    for (int i = 0; i < options.beds; ++i) {
        const QPoint p = bedPosition(i, options.beds);
        const QString line = bedCode(i) + u';' + QString::number(p.x()) + u';'
            + QString::number(p.y()) + u';' + QString::number(i % std::max(1, options.kinds)) + u';'
            + bedName(i) + u';' + bedCode(i) + u'C';
        tables.write(line.toUtf8() + "\r\n");
    }
    tables.close();

    files.consolePort = freePort();
    QFile ini(files.settingsFile);
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(ini.fileName()));
    ini.write("[Server]\nFromServerPort=" + QByteArray::number(files.consolePort)
              + "\nToServerPort=" + QByteArray::number(freePort())
              + "\n[Logic]\nredSec=" + QByteArray::number(options.redSec)
              + "\nmaxSec=" + QByteArray::number(options.maxSec) + "\n");
    return files;
}

qint64 residentKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray wanted(field);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(wanted))
            return line.mid(wanted.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

double percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    const size_t rank = size_t(std::ceil(p / 100.0 * double(sorted.size())));
    return sorted[std::min(sorted.size() - 1, rank == 0 ? 0 : rank - 1)];
}

void printResult(const QString &name, const QList<std::pair<QString, QString>> &fields)
{
    QString line = QLatin1String("RESULT ") + name;
    for (const auto &[key, value] : fields)
        line += u' ' + key + u'=' + value;
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

} // namespace kalvora::perf
