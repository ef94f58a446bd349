#pragma once

#include <QtGlobal>

#include <limits>

namespace kalvora {

// The call state of one bed: idle, calling, or overdue.
//
//   state    isOn   isRed  curT
//   idle     false  false  -1
//   calling  true   false  0 and counting
//   overdue  true   true   redSec and counting
struct CallState {
    enum class Look { Idle, Calling, Overdue };

    // What one second of call time did.
    struct Tick {
        bool turnedRed = false;
        bool ended = false;
    };

    qint32 curT = -1;
    bool isOn = false;
    bool isRed = false;

    Look look() const { return isOn ? (isRed ? Look::Overdue : Look::Calling) : Look::Idle; }

    void startCall()
    {
        isOn = true;
        isRed = false;
        curT = 0;
    }

    void endCall()
    {
        curT = -1;
        isOn = false;
        isRed = false;
    }

    // One second of call time: overdue when curT reaches redSec, ended once
    // curT exceeds maxSec (both on the same tick when redSec is maxSec + 1).
    Tick advance(qint32 redSec, qint32 maxSec)
    {
        Tick tick;
        if (!isOn)
            return tick;
        if (curT < std::numeric_limits<qint32>::max())
            ++curT;
        if (curT == redSec) {
            isRed = true;
            tick.turnedRed = true;
        }
        if (curT > maxSec) {
            endCall();
            tick.ended = true;
        }
        return tick;
    }
};

} // namespace kalvora
