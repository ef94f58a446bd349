#pragma once

#include "journal/JournalReader.h"
#include "settings/Expected.h"

#include <QList>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace kalvora::report {

// The figures of one group of calls (the ward, one bed, one hour of the day).
// Answered: ended by a click on the console or by the server's cancel; the
// time to answer runs from the call's start to that end.
struct Stats {
    qint64 calls = 0;
    qint64 answered = 0;
    qint64 overdue = 0; // turned overdue
    qint64 timeouts = 0; // ended unanswered by maxSec
    qint64 bills = 0; // with a bill request, at the start or by a repeat
    std::optional<double> medianMs; // of the times to answer; none without answers
    std::optional<double> p90Ms;
};

struct BedStats {
    QString code;
    QString name;
    Stats stats;
};

struct Report {
    QString journal;
    journal::JournalReader::Filter filter;
    std::optional<journal::UtcMs> firstCall; // start of the earliest call in the report
    std::optional<journal::UtcMs> lastCall;
    std::optional<qint32> overdueSec; // redSec recorded by the console
    Stats ward;
    QList<BedStats> beds; // by code
    std::array<Stats, 24> hours; // by the local hour of the call's start
    std::vector<qint64> waitsMs; // every time to answer, sorted
    QList<journal::JournalReader::CallDetails> unanswered;
};

// A percentile of sorted values by linear interpolation between the two
// nearest ranks (a spreadsheet's PERCENTILE.INC); the 50th is the median.
//   {10, 20, 30, 40}, 50 => 25     {10, 20, 30, 40}, 90 => 37
std::optional<double> percentile(const std::vector<qint64> &sorted, double p);

// Reads the journal's calls of the filter and works out every figure.
Expected<Report> buildReport(journal::JournalReader &reader, const QString &journalPath,
                             const journal::JournalReader::Filter &filter);

} // namespace kalvora::report
