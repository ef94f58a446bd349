#include "BedFile.h"

#include "BedLine.h"
#include "settings/TextFile.h"

#include <QFileInfo>

namespace kalvora {

QString BedFile::path() const
{
    return dataDir + QLatin1String("/tables.txt");
}

QString BedFile::backupPath() const
{
    return dataDir + QLatin1String("/tables.bac");
}

Expected<QStringList> BedFile::loadLines() const
{
    auto text = readTextLines(path());
    if (!text)
        return Expected<QStringList>::failure(text.error());
    QStringList beds;
    for (const QString &line : std::as_const(text->lines)) {
        if (isBedLine(line))
            beds.append(line);
    }
    return beds;
}

Status BedFile::save(const QStringList &bedLines) const
{
    if (QFileInfo::exists(path())) {
        auto previous = readTextLines(path());
        if (!previous)
            return previous.error();
        if (auto error = writeFileAtomically(backupPath(),
                                             encodeTextLines(previous->lines, previous->encoding)))
            return error;
    }
    // A file that starts with U+FEFF reads as one with a byte-order mark, so a
    // first line that starts with that character gets a mark of its own.
    const bool markFirst = !bedLines.isEmpty() && bedLines.first().startsWith(QChar(0xFEFF));
    const TextEncoding encoding = markFirst ? TextEncoding::Utf8Bom : TextEncoding::Utf8;
    return writeFileAtomically(path(), encodeTextLines(bedLines, encoding));
}

} // namespace kalvora
