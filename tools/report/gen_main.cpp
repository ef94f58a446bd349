// kalvora-journal-gen: writes a journal of made-up calls, for the report's
// benchmark and screenshot.
//   kalvora-journal-gen FILE [DAYS [BEDS]]

#include "JournalGenerator.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (args.size() < 2 || args.size() > 4) {
        err << "Usage: kalvora-journal-gen FILE [DAYS [BEDS]]" << Qt::endl;
        return 2;
    }
    kalvora::report::GeneratorOptions options;
    if (args.size() > 2)
        options.days = args[2].toInt();
    if (args.size() > 3)
        options.beds = args[3].toInt();
    if (options.days <= 0 || options.beds <= 0) {
        err << "kalvora-journal-gen: DAYS and BEDS must be positive numbers" << Qt::endl;
        return 2;
    }
    // Up to the last whole hour, so that the journal ends "now".
    options.endUtc = QDateTime::currentMSecsSinceEpoch() / 3600000 * 3600000;
    const auto written = kalvora::report::generateJournal(args[1], options);
    if (!written) {
        err << "kalvora-journal-gen: " << written.error() << Qt::endl;
        return 1;
    }
    QTextStream(stdout) << *written << " calls written to " << args[1] << Qt::endl;
    return 0;
}
