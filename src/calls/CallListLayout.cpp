#include "CallListLayout.h"

#include <algorithm>
#include <limits>

namespace kalvora {

QString SecondsToText(qint32 secs)
{
    QString text;
    if (secs / 60 > 0)
        text += QString::number(secs / 60) + QStringLiteral(" мин. ");
    if (secs % 60 > 0)
        text += QString::number(secs % 60) + QStringLiteral(" сек.");
    return text;
}

qint32 rowsThatFit(qint32 clientHeight, qint32 cy, qint32 lineHeight, qint32 dd)
{
    const qint64 pitch = qint64(lineHeight) + dd;
    if (pitch <= 0)
        return 0;
    const qint64 rows = (qint64(clientHeight) - 2 * qint64(cy)) / pitch - 1;
    return qint32(std::clamp<qint64>(rows, -1, std::numeric_limits<qint32>::max()));
}

qint32 rowTop(qint32 panelTop, qint32 cy, qint32 row, qint32 lineHeight, qint32 dd)
{
    const qint64 top = qint64(panelTop) + cy + qint64(row) * (qint64(lineHeight) + dd);
    return qint32(std::clamp<qint64>(top, std::numeric_limits<qint32>::min() / 2,
                                     std::numeric_limits<qint32>::max() / 2));
}

CallListRows layCallList(qint32 count, qint32 maxn)
{
    const qint32 k = std::max(0, std::min(count, maxn));
    return { count - k, k };
}

} // namespace kalvora
