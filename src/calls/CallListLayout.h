#pragma once

#include <QString>

namespace kalvora {

// The waiting-time text of a call list line.
//   75 => "1 мин. 15 сек."   120 => "2 мин. "   59 => "59 сек."   0, -1 => ""
QString SecondsToText(qint32 secs);

// How many call list rows fit under the column titles: (clientHeight - 2 cy)
// div (lineHeight + dd) - 1, truncating toward zero. A row pitch of zero or
// less fits no row.
//   (1050, 20, 19, 5) => 41
qint32 rowsThatFit(qint32 clientHeight, qint32 cy, qint32 lineHeight, qint32 dd);

// Top of display row r (row 0 holds the column titles).
qint32 rowTop(qint32 panelTop, qint32 cy, qint32 row, qint32 lineHeight, qint32 dd);

// Which entries the list shows: with c entries in arrival order and maxn rows,
// the newest k = min(c, maxn) (at least 0) are shown, newest on row 1; the
// oldest c - k are hidden.
struct CallListRows {
    qint32 hidden = 0; // list positions 0 .. hidden-1 are hidden
    qint32 shown = 0; // row j+1 shows list position count-1-j, for j < shown
};
CallListRows layCallList(qint32 count, qint32 maxn);

} // namespace kalvora
