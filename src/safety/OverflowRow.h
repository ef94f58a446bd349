#pragma once

#include "calls/CallListLayout.h"

#include <QString>

namespace kalvora {

// The call list with its overflow row (ShowOverflow=1). When more calls are
// active than rows fit (c calls, k = maxn rows, c > k), rows 1 to k - 1 show
// the k - 1 newest calls and row k reads "+N вызовов не показано" for the
// N = c - k + 1 calls not shown; it is maroon when any of those is overdue.
// With c <= k, or no row at all (k <= 0), nothing changes. With k = 1 the one
// row is the overflow row, standing for every call.
struct OverflowRows {
    CallListRows rows; // which entries are shown and hidden, as layCallList says
    qint32 notShown = 0; // N; 0: no overflow row
    bool overdue = false; // one of the calls it stands for is overdue

    // The display row of the overflow row (row 0 holds the column titles).
    qint32 row() const { return rows.shown + 1; }
};

// Extends layCallList's rows with the overflow row. The entries it stands for
// are list positions 0 to N - 1, the oldest; isOverdue(listPosition) says
// whether one is overdue and is asked until one is.
//   layCallList(8, 5) = { hidden 3, shown 5 } => { hidden 4, shown 4 }, N 4, row 5
//   layCallList(5, 5) = { hidden 0, shown 5 } => unchanged, N 0
template<class IsOverdue> OverflowRows withOverflowRow(CallListRows rows, IsOverdue &&isOverdue)
{
    OverflowRows out { rows };
    if (rows.hidden <= 0 || rows.shown <= 0)
        return out;
    out.rows = { rows.hidden + 1, rows.shown - 1 };
    out.notShown = out.rows.hidden;
    for (qint32 i = 0; i < out.notShown && !out.overdue; ++i)
        out.overdue = isOverdue(i);
    return out;
}

// The overflow row's text.   4 => "+4 вызовов не показано"
QString overflowText(qint32 notShown);

} // namespace kalvora
