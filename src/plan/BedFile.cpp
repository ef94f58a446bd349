#include "BedFile.h"

#include "BedLine.h"
#include "settings/FileAccess.h"
#include "settings/TextFile.h"

namespace kalvora {

QString BedFile::path() const
{
    return dataDir + QLatin1String("/tables.txt");
}

QString BedFile::backupPath() const
{
    return dataDir + QLatin1String("/tables.bac");
}

Expected<BedFile::Contents> BedFile::load() const
{
    auto text = readTextLines(path(), kMaxBytes, Links::Refuse);
    if (!text)
        return Expected<Contents>::failure(text.error());
    Contents contents;
    contents.nulLine = text->nulLine;
    contents.linesAfterNul = text->linesAfterNul;
    for (const QString &line : std::as_const(text->lines)) {
        if (isBedLine(line))
            contents.lines.append(line);
    }
    return contents;
}

Expected<QStringList> BedFile::loadLines() const
{
    auto contents = load();
    if (!contents)
        return Expected<QStringList>::failure(contents.error());
    return std::move(contents).value().lines;
}

BedFile::SaveOutcome BedFile::save(const QStringList &bedLines, bool keepBackup) const
{
    SaveOutcome outcome;
    if (!keepBackup) {
        // The backup is the previous file's bytes, not its decoded lines: text
        // after a NUL, bytes that did not decode, its encoding all stay as they were.
        const FileRead previous = readRegularFile(path(), kMaxBytes, Links::Refuse);
        if (!previous.ok() && !previous.missing()) {
            outcome.error = readFailureText(path(), previous);
            return outcome;
        }
        if (previous.ok()) {
            if ((outcome.error = replaceFile(backupPath(), previous.bytes)))
                return outcome;
            outcome.backupWritten = true;
        }
    }
    // A file that starts with U+FEFF reads as one with a byte-order mark, so a
    // first line that starts with that character gets a mark of its own.
    const bool markFirst = !bedLines.isEmpty() && bedLines.first().startsWith(QChar(0xFEFF));
    const TextEncoding encoding = markFirst ? TextEncoding::Utf8Bom : TextEncoding::Utf8;
    outcome.error = replaceFile(path(), encodeTextLines(bedLines, encoding));
    return outcome;
}

} // namespace kalvora
