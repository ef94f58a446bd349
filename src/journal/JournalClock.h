#pragma once

#include <QtGlobal>

#include <atomic>
#include <memory>

namespace kalvora::journal {

// The two clocks the journal reads. Every time it stores is the run's start
// on the wall clock plus the time elapsed since on the monotonic clock, so
// that setting the system clock while the console runs neither moves the
// calls of the run nor distorts how long they lasted. Safe to read from any
// thread.
class JournalClock {
public:
    virtual ~JournalClock() = default;
    // The system's clock: milliseconds since 1970-01-01 00:00 UTC.
    virtual qint64 wallMs() const = 0;
    // A clock that never jumps: milliseconds since an arbitrary start.
    virtual qint64 monotonicMs() const = 0;
};

// The machine's clocks (QDateTime::currentMSecsSinceEpoch, QElapsedTimer).
std::shared_ptr<JournalClock> systemClock();

// Clocks that move only when told to, for the tests.
class ManualClock final : public JournalClock {
public:
    ManualClock(qint64 wallMs, qint64 monotonicMs)
        : m_wall(wallMs)
        , m_mono(monotonicMs)
    {
    }
    qint64 wallMs() const override { return m_wall.load(); }
    qint64 monotonicMs() const override { return m_mono.load(); }

    // Time passes: both clocks move on.
    void advance(qint64 ms)
    {
        m_wall += ms;
        m_mono += ms;
    }
    // Someone sets the system clock: only the wall clock jumps.
    void setWall(qint64 wallMs) { m_wall = wallMs; }

private:
    std::atomic<qint64> m_wall;
    std::atomic<qint64> m_mono;
};

} // namespace kalvora::journal
