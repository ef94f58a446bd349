#pragma once

#include <QtGlobal>

#include <algorithm>
#include <limits>

namespace kalvora {

// A window coordinate made of settings and bed positions, any of which may be
// any 32-bit number: summed without overflow and kept within what a window
// can place (half the 32-bit range either way).
//   at(2147483647, 30) => 1073741823
inline int at(qint64 a, qint64 b = 0, qint64 c = 0)
{
    constexpr qint64 limit = std::numeric_limits<int>::max() / 2;
    return int(std::clamp<qint64>(a + b + c, -limit, limit));
}

} // namespace kalvora
