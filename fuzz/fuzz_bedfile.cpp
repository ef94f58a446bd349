// Bed files: the bytes of a "tables.txt" are decoded, every bed line is parsed,
// written back as the console writes it and parsed again to exactly the same
// bed (control characters included: only line ends and NUL, which no decoded
// line holds, are replaced on saving); the encodings round trip; and the real
// save writes a bed file that loads back to the same beds and a backup that is
// the old file byte for byte.

#include "FuzzSupport.h"
#include "plan/BedFile.h"
#include "plan/BedLine.h"
#include "settings/TextFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

using namespace kalvora;
using kalvora::fuzz::check;
using kalvora::fuzz::visible;

namespace {

QByteArray show(const BedRecord &b)
{
    return visible(b.code) + " | " + QByteArray::number(b.dx) + " | " + QByteArray::number(b.dy)
        + " | " + QByteArray::number(b.imagenumber) + " | " + visible(b.l) + " | "
        + visible(b.cancelcode);
}

QString dataDir()
{
    // In memory where the system has it: the save syncs every file it writes.
    static const std::unique_ptr<QTemporaryDir> dir = [] {
        const QString shm = QStringLiteral("/dev/shm");
        return std::make_unique<QTemporaryDir>((QDir(shm).exists() ? shm : QDir::tempPath())
                                               + QLatin1String("/kalvora-fuzz-XXXXXX"));
    }();
    return dir->path();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const TextLines decoded = decodeTextLines(bytes);

    // 1. Each bed line: parse, format, parse again.
    QStringList bedLines;
    QList<BedRecord> beds;
    bool allParse = true;
    for (const QString &line : decoded.lines) {
        check(!line.contains(u'\r') && !line.contains(u'\n') && !line.contains(QChar(0)),
              "a decoded line holds a line end or NUL", visible(line));
        if (!isBedLine(line))
            continue;
        bedLines.append(line);
        const auto record = parseBedLine(line);
        if (!record) {
            allParse = false;
            check(record.error().endsWith(QLatin1String("' is not a valid integer value")),
                  "a bed line fails with another error", visible(record.error()));
            continue;
        }
        const QString saved = formatBedLine(*record);
        check(isBedLine(saved), "a saved bed line is blank", visible(saved));
        check(!saved.contains(u'\r') && !saved.contains(u'\n') && !saved.contains(QChar(0)),
              "a saved bed line holds a line end or NUL", visible(saved));
        const auto again = parseBedLine(saved);
        check(again.ok(), "a saved bed line does not parse", visible(saved));
        check(*again == *record, "a saved bed line parses to another bed",
              "line:  " + visible(line) + "\nsaved: " + visible(saved) + "\nfirst: " + show(*record)
                  + "\nagain: " + show(*again));
        beds.append(*record);
    }

    // 2. Lines as read, written in their encoding and read again: the backup.
    {
        const QByteArray encoded = encodeTextLines(decoded.lines, decoded.encoding);
        const TextLines back = decodeTextLines(encoded);
        // The byte 0x98 means nothing in Windows-1251: it reads as U+FFFD and
        // is written back as "?", like any character the code page lacks.
        // Without it the bytes may turn into valid UTF-8 (accepted: a
        // Windows-1251 file never holds that byte).
        const bool undefinedByte = decoded.encoding == TextEncoding::Cp1251
            && decoded.lines.join(QString()).contains(QChar::ReplacementCharacter);
        QStringList expected = decoded.lines;
        if (undefinedByte)
            expected.replaceInStrings(QString(QChar::ReplacementCharacter), QStringLiteral("?"));
        check(undefinedByte || back.lines == expected, "lines do not survive their encoding",
              "encoding " + QByteArray::number(int(decoded.encoding))
                  + "\nread:  " + visible(decoded.lines) + "\nagain: " + visible(back.lines));
    }

    // 3. The real save, over a bed file holding these bytes, when they load.
    if (!allParse)
        return 0;
    const BedFile file { dataDir() };
    QFile::remove(file.backupPath());
    check(writeFile(file.path(), bytes), "cannot write the bed file");
    const auto loaded = file.loadLines();
    check(loaded.ok() && *loaded == bedLines, "the bed file loads other lines than it holds",
          visible(loaded.ok() ? *loaded : QStringList { loaded.error() }));
    QStringList savedLines;
    for (const BedRecord &bed : std::as_const(beds))
        savedLines.append(formatBedLine(bed));
    const Status saved = file.save(savedLines);
    check(!saved, "the save fails", saved ? visible(*saved) : QByteArray());

    QFile backup(file.backupPath());
    check(backup.open(QIODevice::ReadOnly) && backup.readAll() == bytes,
          "the backup is not the old file byte for byte");

    const auto reloaded = file.loadLines();
    check(reloaded.ok(), "the saved bed file cannot be read");
    check(reloaded->size() == beds.size(), "the saved bed file holds another number of beds",
          "beds " + QByteArray::number(beds.size()) + ", lines " + visible(*reloaded));
    for (qsizetype i = 0; i < beds.size(); ++i) {
        const auto bed = parseBedLine(reloaded->at(i));
        check(bed.ok() && *bed == beds[i], "a saved bed loads back as another bed",
              "saved:  " + show(beds[i]) + "\nloaded: " + visible(reloaded->at(i)));
    }
    return 0;
}
