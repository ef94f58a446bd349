#pragma once

#include "JournalTypes.h"

#include <functional>

namespace kalvora::journal {

// A call the console shows again after a restart, and how.
struct RestoredCall {
    RestorableCall call;
    qint32 elapsedSec = 0; // the call time to continue from (the bed's curT)
    bool overdue = false; // show the overdue picture and the maroon line
};

// Which of the calls an unclean end left open the console takes up again:
// those whose bed it has (and that has no call of its own by now), and that
// have not lasted longer than maxSec (any age with keepUntilCancelled), the
// newest per bed only. The age is counted from the call's original start to
// `now` in whole seconds, as the one-second tick counts it; a call past
// redSec is overdue. The result is in the order of the calls' starts, the
// order in which they go into the call list (the newest ends on top).
//   start 45 s ago, redSec 20, maxSec 60   => restored, elapsedSec 45, overdue
//   start 61 s ago, maxSec 60              => not restored (it would have ended)
QList<RestoredCall> planRestore(const QList<RestorableCall> &calls, UtcMs now, qint32 redSec,
                                qint32 maxSec, bool keepUntilCancelled,
                                const std::function<bool(const QString &bedCode)> &canTake);

} // namespace kalvora::journal
