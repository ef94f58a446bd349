#pragma once

#include "settings/Expected.h"

#include <QString>
#include <QStringList>

namespace kalvora {

// The bed file "tables.txt" and its backup "tables.bac" in the data folder.
// Neither is ever read or written through a symbolic link, and only a regular
// file is: a link, folder or special file in their place is an error that
// names it.
struct BedFile {
    QString dataDir;

    // The largest bed file read: 100,000 beds of 670 bytes a line.
    static constexpr qint64 kMaxBytes = 64 * 1024 * 1024;

    QString path() const;
    QString backupPath() const;

    struct Contents {
        QStringList lines; // the lines that hold beds, in file order, untrimmed
        qsizetype nulLine = 0; // the line a NUL ended the text in, or 0
        qsizetype linesAfterNul = 0; // lines holding text that the NUL kept from being read
    };
    // A missing or unreadable file fails with the file-open error naming its path.
    Expected<Contents> load() const;
    Expected<QStringList> loadLines() const;

    // Keeps the previous file, byte for byte, as the backup, then writes the
    // given bed lines, each ending in CR LF, as UTF-8 without byte-order mark
    // (with one when the first line starts with U+FEFF, which a reader would
    // otherwise take for the mark). Each file is replaced atomically, or
    // rewritten in place where the folder cannot be written (see
    // replaceFile). A failure leaves the bed file as it was.
    Status save(const QStringList &bedLines) const { return save(bedLines, false).error; }

    struct SaveOutcome {
        Status error;
        bool backupWritten = false;
    };
    // As above; with keepBackup the backup is left as it is. After a save
    // that failed while writing the bed file, the backup holds the last good
    // bed file and the bed file may be incomplete (a failed rewrite in place
    // whose old bytes could not be put back): the next save must not make
    // that file the backup.
    SaveOutcome save(const QStringList &bedLines, bool keepBackup) const;
};

} // namespace kalvora
