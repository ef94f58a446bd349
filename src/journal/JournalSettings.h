#pragma once

#include <QString>

namespace kalvora::journal {

// The section [Journal] of the settings file. Absent keys keep the journal
// off, so a settings file without the section behaves as before.
//
//   [Journal]
//   File=journal.sqlite     the database; relative to the data folder
//   RestoreCalls=1          restore the calls an unclean end left open
//   KeepDays=365            delete calls older than this at start-up
struct JournalSettings {
    QString file; // absolute path; empty: no journal
    bool restoreCalls = false;
    qint32 keepDays = 0; // 0 or less: keep everything

    bool enabled() const { return !file.isEmpty(); }
    friend bool operator==(const JournalSettings &, const JournalSettings &) = default;
};

// Reads [Journal] with the rules of the other sections: key names ignore
// case, a string is cut to 2047 characters, a missing or malformed integer
// takes its default. File is taken from the data folder unless absolute;
// RestoreCalls is on for any integer other than 0.
//   File=journal.sqlite, dataDir /opt/kalvora/data => /opt/kalvora/data/journal.sqlite
JournalSettings readJournalSettings(const QString &settingsFile, const QString &dataDir);

} // namespace kalvora::journal
