#pragma once

#include "journal/JournalReader.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kalvora::report {

struct Options {
    QString journal;
    journal::JournalReader::Filter filter;
    QString html; // write the HTML report here
    QString csv; // write the CSV figures here
};

struct ParseOutcome {
    enum class Action { Run, Help, Version, Error } action = Action::Error;
    Options options;
    QString text; // help, version or the error
};

// kalvora-report JOURNAL [--from DATE] [--to DATE] [--bed CODE] [--html FILE] [--csv FILE]
ParseOutcome parseArguments(const QStringList &arguments);

// A date or a moment in local time: "2025-03-01", "2025-03-01 14:30" or
// "2025-03-01T14:30:15". A date alone is the start of that day, or with
// endOfDay the start of the next (so that --to includes the day).
//   "2025-03-01", endOfDay => 2025-03-02 00:00 local
std::optional<journal::UtcMs> parseMoment(const QString &text, bool endOfDay);

} // namespace kalvora::report
