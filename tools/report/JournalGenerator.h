#pragma once

#include "journal/JournalTypes.h"
#include "settings/Expected.h"

#include <QString>

namespace kalvora::report {

// A journal of made-up but plausible calls: a ward of `beds` beds over
// `days` days before `endUtc`, about `callsPerBedPerDay` calls a bed a day,
// busier by day than by night, answered later at night, a few timing out;
// a console run a week, one of them ended by a crash. The same seed gives
// the same journal.
struct GeneratorOptions {
    int beds = 40;
    int days = 365;
    double callsPerBedPerDay = 34.25; // 40 beds over a year: about 500,000 calls
    journal::UtcMs endUtc = 0;
    quint32 seed = 1;
    qint32 redSec = 60;
    qint32 maxSec = 600;
};

// Writes the journal into a new file (an existing one is replaced).
// Returns the number of calls written.
Expected<qint64> generateJournal(const QString &path, const GeneratorOptions &options);

} // namespace kalvora::report
