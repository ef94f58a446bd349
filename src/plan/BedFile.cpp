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

Status BedFile::save(const QStringList &bedLines) const
{
    // The backup is the previous file's bytes, not its decoded lines: text
    // after a NUL, bytes that did not decode, its encoding all stay as they were.
    const FileRead previous = readRegularFile(path(), kMaxBytes, Links::Refuse);
    if (!previous.ok() && !previous.missing())
        return readFailureText(path(), previous);
    if (previous.ok()) {
        if (auto error = replaceFile(backupPath(), previous.bytes))
            return error;
    }
    // A file that starts with U+FEFF reads as one with a byte-order mark, so a
    // first line that starts with that character gets a mark of its own.
    const bool markFirst = !bedLines.isEmpty() && bedLines.first().startsWith(QChar(0xFEFF));
    const TextEncoding encoding = markFirst ? TextEncoding::Utf8Bom : TextEncoding::Utf8;
    return replaceFile(path(), encodeTextLines(bedLines, encoding));
}

} // namespace kalvora
