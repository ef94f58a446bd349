#pragma once

#include "settings/Expected.h"

#include <QString>
#include <QStringView>

namespace kalvora {

// The characters of s from the 1-based position start up to, not including,
// the first delim at or after start, or up to the end of s.
//   CopyField(u"x101;8;Ann;Bed 2", 2, u';') => "101"
//   CopyField(u"x101;8;Ann;Bed 2", 6, u';') => "8"
//   CopyField(u"x101;8;Ann;Bed 2", 20, u';') => ""
QString CopyField(QStringView s, qsizetype start, QChar delim = u';');

// Splits s into count ";"-fields starting at the 1-based position start: each
// field begins one character after the end of the one before; missing fields
// are empty, and text after the last requested field is ignored.
//   splitFields(u"#101;8;Nurse A", 2, 4) => ["101", "8", "Nurse A", ""]
QStringList splitFields(QStringView s, qsizetype start, int count);

// One bed as stored in the bed file: code;dx;dy;imagenumber;l;cancelcode
struct BedRecord {
    QString code;
    qint32 dx = 0;
    qint32 dy = 0;
    qint32 imagenumber = 0;
    QString l;
    QString cancelcode;

    friend bool operator==(const BedRecord &, const BedRecord &) = default;
};

// Parses a bed line. A numeric field that is not an integer fails with the
// integer conversion error naming its text.
//   "101;350;420;3;Ward 1, bed 2;101C" => {101, 350, 420, 3, "Ward 1, bed 2", "101C"}
Expected<BedRecord> parseBedLine(QStringView line);

// The bed line for saving. The characters that would break the file are
// written as spaces: CR and LF (the reader's line ends), so that a name that
// arrived with a line end cannot split its line, and NUL, which would end the
// file. Every other character, a tab or another control character included,
// is written as it is, so a code stays the same code at the next start
// (an unpaired surrogate, which no encoding holds, becomes U+FFFD).
//   {"a\tb", 1, 2, 3, "x\r\ny", "c"} => "a\tb;1;2;3;x  y;c"
QString formatBedLine(const BedRecord &bed);

// Whether a file line holds a bed: it has text left once every character from
// U+0000 to U+0020 is removed from both its ends.
bool isBedLine(QStringView line);

} // namespace kalvora
