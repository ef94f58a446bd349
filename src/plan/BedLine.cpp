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

QString withoutControls(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20)
            c = u' ';
    }
    return text;
}

} // namespace

QString formatBedLine(const BedRecord &bed)
{
    return withoutControls(bed.code) + u';' + QString::number(bed.dx) + u';'
        + QString::number(bed.dy) + u';' + QString::number(bed.imagenumber) + u';'
        + withoutControls(bed.l) + u';' + withoutControls(bed.cancelcode);
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
