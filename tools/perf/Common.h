#pragma once

// Shared pieces of the performance harness: clocks, ward folders, options,
// statistics and the output format the script reads.

#include <QHash>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <vector>

namespace kalvora::perf {

// CLOCK_MONOTONIC in microseconds: the same clock in every process of the
// machine, so a sender's timestamp can be compared with a console's.
qint64 monotonicUs();

// Command-line options: "--key value" pairs and "--flag" switches.
class Options {
public:
    Options(const QStringList &args);
    QString text(const QString &key, const QString &fallback = {}) const;
    qint64 number(const QString &key, qint64 fallback) const;
    double real(const QString &key, double fallback) const;
    bool flag(const QString &key) const { return m_values.contains(key); }

private:
    QHash<QString, QString> m_values;
};

// The code and the name of bed i of a generated ward, the same in the bed
// file and in the events a sender makes.
QString bedCode(int i);
QString bedName(int i);
// The marker's centre of bed i of n on the demo plan (1080 x 760 pixels).
QPoint bedPosition(int i, int n);

// A ward folder: "data" with the demo pictures and a bed file of `beds` beds,
// and "kalvora.ini" with free ports. The GIFs of `pictures` (a folder, when
// given) replace the demo's of the same name; with `animatedIdle` every idle
// bed picture is the (animated) active one. Bed i is of kind i % kinds.
struct WardOptions {
    int beds = 1000;
    QString pictures;
    bool animatedIdle = false;
    int kinds = 20;
    qint32 redSec = 20;
    qint32 maxSec = 60;
};
struct WardFiles {
    QString settingsFile;
    QString dataDir;
    quint16 consolePort = 0;
};
WardFiles makeWard(const QString &dir, const WardOptions &options);

// Resident memory of this process now and at its peak, in kB.
qint64 residentKb(const char *field = "VmRSS:");

// Nearest-rank percentile of sorted values (p in 0..100).
double percentile(const std::vector<double> &sorted, double p);

// Prints one result line: "RESULT name key=value ...". The script collects
// these lines into its table.
void printResult(const QString &name, const QList<std::pair<QString, QString>> &fields);
QString fixed(double value, int decimals = 2);

} // namespace kalvora::perf
