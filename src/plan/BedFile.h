#pragma once

#include "settings/Expected.h"

#include <QString>
#include <QStringList>

namespace kalvora {

// The bed file "tables.txt" and its backup "tables.bac" in the data folder.
struct BedFile {
    QString dataDir;

    QString path() const;
    QString backupPath() const;

    // The lines that hold beds, in file order and untrimmed. A missing or
    // unreadable file fails with the file-open error naming its path.
    Expected<QStringList> loadLines() const;

    // Keeps the previous file as the backup (its lines, blank ones included,
    // each ending in CR LF, in the encoding it was read with), then writes the
    // given bed lines, each ending in CR LF, as UTF-8 without byte-order mark
    // (with one when the first line starts with U+FEFF, which a reader would
    // otherwise take for the mark).
    // Each file is replaced atomically. A failure leaves the bed file as it was.
    Status save(const QStringList &bedLines) const;
};

} // namespace kalvora
