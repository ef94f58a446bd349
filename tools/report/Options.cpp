#include "Options.h"

#include <QCommandLineParser>
#include <QDateTime>

namespace kalvora::report {

namespace {

const QString kProgram = QStringLiteral("kalvora-report");

const QString kHelp = QStringLiteral(
    "Usage: kalvora-report JOURNAL [--from DATE] [--to DATE] [--bed CODE]\n"
    "                      [--html FILE] [--csv FILE]\n"
    "\n"
    "Reads a Kalvora call journal (the [Journal] File of the console's settings) and\n"
    "reports, for the ward, each bed and each hour of the day: calls, median and\n"
    "90th-percentile time to answer (from the call's start to a click on the console\n"
    "or the server's cancel), calls that turned overdue, calls that ended unanswered\n"
    "by timeout, and bill calls. Without --html or --csv it prints a summary table.\n"
    "The journal may be read while the console writes it.\n"
    "\n"
    "Options:\n"
    "  --from DATE    Only calls that started at or after DATE (local time):\n"
    "                 2025-03-01, 2025-03-01 08:00 or 2025-03-01T08:00:00.\n"
    "  --to DATE      Only calls that started before DATE; a date alone includes\n"
    "                 that whole day.\n"
    "  --bed CODE     Only the calls of the bed with this code.\n"
    "  --html FILE    Write the report as one self-contained HTML file.\n"
    "  --csv FILE     Write the figures as CSV (UTF-8, \";\"-separated, decimal comma).\n"
    "  -h, --help     Show this help.\n"
    "  -v, --version  Show the version.\n"
    "\n"
    "Exit status: 0 done, 1 the journal cannot be read or a file cannot be written,\n"
    "2 bad command line.\n");

} // namespace

std::optional<journal::UtcMs> parseMoment(const QString &text, bool endOfDay)
{
    const QString t = text.trimmed();
    const QDate date = QDate::fromString(t, QStringLiteral("yyyy-MM-dd"));
    if (date.isValid()) {
        const QDateTime start = (endOfDay ? date.addDays(1) : date).startOfDay();
        return start.isValid() ? std::optional(start.toMSecsSinceEpoch()) : std::nullopt;
    }
    for (const char *format :
         { "yyyy-MM-dd HH:mm", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm", "yyyy-MM-ddTHH:mm:ss" }) {
        const QDateTime moment = QDateTime::fromString(t, QString::fromLatin1(format));
        if (moment.isValid())
            return moment.toMSecsSinceEpoch();
    }
    return std::nullopt;
}

ParseOutcome parseArguments(const QStringList &arguments)
{
    ParseOutcome outcome;
    const auto fail = [&](const QString &message) {
        outcome.action = ParseOutcome::Action::Error;
        outcome.text = kProgram + QStringLiteral(": ") + message + QStringLiteral("\nTry '")
            + kProgram + QStringLiteral(" --help'.");
        return outcome;
    };

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") }, QString());
    const QCommandLineOption version({ QStringLiteral("v"), QStringLiteral("version") }, QString());
    const QCommandLineOption from(QStringLiteral("from"), QString(), QStringLiteral("DATE"));
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("DATE"));
    const QCommandLineOption bed(QStringLiteral("bed"), QString(), QStringLiteral("CODE"));
    const QCommandLineOption html(QStringLiteral("html"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption csv(QStringLiteral("csv"), QString(), QStringLiteral("FILE"));
    parser.addOptions({ help, version, from, to, bed, html, csv });
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        outcome.action = ParseOutcome::Action::Help;
        outcome.text = kHelp;
        return outcome;
    }
    if (parser.isSet(version)) {
        outcome.action = ParseOutcome::Action::Version;
        outcome.text = kProgram + QStringLiteral(" " KALVORA_VERSION "\n");
        return outcome;
    }
    for (const QCommandLineOption &option : { from, to, bed, html, csv }) {
        if (parser.values(option).size() > 1)
            return fail(QStringLiteral("--%1 is given more than once").arg(option.names().first()));
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return fail(QStringLiteral("no journal file given"));
    if (positional.size() > 1)
        return fail(
            QStringLiteral("one journal file only, not '%1'").arg(positional.mid(1).join(u' ')));

    Options &o = outcome.options;
    o.journal = positional.first();
    if (parser.isSet(from)) {
        o.filter.from = parseMoment(parser.value(from), false);
        if (!o.filter.from)
            return fail(QStringLiteral("cannot read the date '%1' (for example 2025-03-01 or "
                                       "2025-03-01 08:00)")
                            .arg(parser.value(from)));
    }
    if (parser.isSet(to)) {
        o.filter.to = parseMoment(parser.value(to), true);
        if (!o.filter.to)
            return fail(QStringLiteral("cannot read the date '%1' (for example 2025-03-31 or "
                                       "2025-03-31 20:00)")
                            .arg(parser.value(to)));
    }
    if (o.filter.from && o.filter.to && *o.filter.from >= *o.filter.to)
        return fail(QStringLiteral("--from must be earlier than --to"));
    o.filter.bedCode = parser.value(bed);
    if (parser.isSet(bed) && o.filter.bedCode.isEmpty())
        return fail(QStringLiteral("--bed needs a bed code"));
    o.html = parser.value(html);
    o.csv = parser.value(csv);
    if ((parser.isSet(html) && o.html.isEmpty()) || (parser.isSet(csv) && o.csv.isEmpty()))
        return fail(QStringLiteral("--html and --csv need a file name"));
    outcome.action = ParseOutcome::Action::Run;
    return outcome;
}

} // namespace kalvora::report
