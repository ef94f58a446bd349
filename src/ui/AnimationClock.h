#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <queue>

#include <functional>
#include <unordered_map>
#include <vector>

namespace kalvora {

// One clock for every animated picture of a window. Each animated control
// tells the clock when its next frame is due; frames fall due on a 10 ms grid,
// so controls whose frames change together are served by one wake-up. The
// clock wakes exactly when the next frame is due, never before and never in
// between, and advances only the controls whose frame is due: a frame is
// shown for exactly its delay, a plan full of animated beds costs one timer,
// and nothing while no frame changes.
class AnimationClock : public QObject {
    Q_OBJECT
public:
    using Id = quint64;
    // Called when a client's frame is due; returns the delay until its next
    // frame, or a negative value to stop.
    using Advance = std::function<qint64()>;

    // Frames change on this grid, in milliseconds.
    static constexpr qint64 kGrid = 10;

    explicit AnimationClock(QObject *parent = nullptr);

    // Schedules a client's first frame change delayMs from now. Returns its id.
    Id start(qint64 delayMs, Advance advance);
    // Forgets a client; safe to call for ids that already stopped.
    void stop(Id id);

    // Milliseconds on the clock (since it was created).
    qint64 now() const;
    // Serves every client due at `nowMs`; the timer calls it, tests may too.
    void serve(qint64 nowMs);
    // When the next frame is due, on the clock; -1 when none is.
    qint64 nextDue();

    // Tests drive the clock themselves: it then reads time only from serve().
    void setManual(bool manual);
    qsizetype activeCount() const { return qsizetype(m_clients.size()); }
    quint64 wakeUps() const { return m_wakeUps; }

private:
    struct Due {
        qint64 at;
        Id id;
        bool operator>(const Due &o) const { return at > o.at; }
    };
    static qint64 onGrid(qint64 ms) { return (ms + kGrid - 1) / kGrid * kGrid; }
    void dropStopped();
    void rearm();

    QTimer m_timer;
    QElapsedTimer m_elapsed;
    bool m_manual = false;
    qint64 m_manualNow = 0;
    Id m_nextId = 1;
    quint64 m_wakeUps = 0;
    std::unordered_map<Id, Advance> m_clients;
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> m_queue;
};

} // namespace kalvora
