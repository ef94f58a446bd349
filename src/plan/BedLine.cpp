#include "BedLine.h"

#include "settings/IntConvert.h"

#include <QStringList>

namespace kalvora {

QString CopyField(QStringView s, qsizetype start, QChar delim)
{
    if (start < 1 || start > s.size())
        return {};
    const QStringView rest = s.mid(start - 1);
    const qsizetype end = rest.indexOf(delim);
    return (end < 0 ? rest : rest.left(end)).toString();
}

QStringList splitFields(QStringView s, qsizetype start, int count)
{
    QStringList fields;
    fields.reserve(count);
    for (int i = 0; i < count; ++i) {
        fields.append(CopyField(s, start, u';'));
        start += fields.last().size() + 1;
    }
    return fields;
}

Expected<BedRecord> parseBedLine(QStringView line)
{
    const QStringList f = splitFields(line, 1, 6);
    BedRecord bed;
    bed.code = f[0];
    qint32 *numbers[] = { &bed.dx, &bed.dy, &bed.imagenumber };
    for (int i = 0; i < 3; ++i) {
        const auto v = StrToInt(f[i + 1]);
        if (!v)
            return Expected<BedRecord>::failure(invalidIntegerError(f[i + 1]));
        *numbers[i] = *v;
    }
    bed.l = f[4];
    bed.cancelcode = f[5];
    return bed;
}

namespace {

// The reader ends a line at CR or LF and the text at a NUL; everything else,
// tabs and other control characters included, reads back as it was written.
// An unpaired surrogate cannot be written in UTF-8 at all: it is written as
// U+FFFD, which a UTF-16 file's unpaired surrogate also reads as.
QString fileSafe(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar &c = text[i];
        if (c == u'\r' || c == u'\n' || c == u'\0')
            c = u' ';
        else if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            c = QChar::ReplacementCharacter;
    }
    return text;
}

} // namespace

QString formatBedLine(const BedRecord &bed)
{
    return fileSafe(bed.code) + u';' + QString::number(bed.dx) + u';' + QString::number(bed.dy)
        + u';' + QString::number(bed.imagenumber) + u';' + fileSafe(bed.l) + u';'
        + fileSafe(bed.cancelcode);
}

bool isBedLine(QStringView line)
{
    for (QChar c : line) {
        if (c.unicode() > 0x20)
            return true;
    }
    return false;
}

} // namespace kalvora
