#include "Restore.h"

#include <QSet>

#include <algorithm>
#include <limits>

namespace kalvora::journal {

QList<RestoredCall> planRestore(const QList<RestorableCall> &calls, UtcMs now, qint32 redSec,
                                qint32 maxSec, bool keepUntilCancelled,
                                const std::function<bool(const QString &bedCode)> &canTake)
{
    QList<RestorableCall> byStart = calls;
    std::stable_sort(byStart.begin(), byStart.end(),
                     [](const auto &a, const auto &b) { return a.startedUtc < b.startedUtc; });
    QList<RestoredCall> plan;
    QSet<QString> taken; // bed codes, folded as the bed list compares them
    for (auto it = byStart.crbegin(); it != byStart.crend(); ++it) {
        const QString key = it->bedCode.toCaseFolded();
        if (taken.contains(key))
            continue;
        taken.insert(key);
        const qint64 age = std::max<qint64>(0, now - it->startedUtc) / 1000;
        const qint32 elapsed = qint32(std::min<qint64>(age, std::numeric_limits<qint32>::max()));
        if (!keepUntilCancelled && elapsed > maxSec)
            continue;
        if (!canTake(it->bedCode))
            continue;
        plan.prepend({ *it, elapsed, redSec > 0 && elapsed >= redSec });
    }
    return plan;
}

} // namespace kalvora::journal
