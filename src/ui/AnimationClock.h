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
// tells the clock when its next frame is due; the clock wakes only when some
// frame is due (on a 10 ms grid, so controls whose frames change together are
// served by one wake-up) and advances only those controls. A plan full of
// animated beds costs one timer, not one per bed, and nothing while no frame
// changes.
//
// On its own timer the clock wakes at most once every kMinInterval ms: a frame
// that falls due sooner after the last wake-up changes at the next one, some
// 15 ms late at most (less than one refresh of a 60 Hz screen), and the frames
// after it keep their times (only a frame shorter than kMinInterval lasts
// longer, kMinInterval). Every wake-up repaints the pictures it changed, and a
// ward's calls, started at random moments, have frames due in every 10 ms
// slot: without the limit a plan of a thousand beds would repaint a hundred
// times a second.
class AnimationClock : public QObject {
    Q_OBJECT
public:
    using Id = quint64;
    // Called when a client's frame is due; returns the delay until its next
    // frame, or a negative value to stop.
    using Advance = std::function<qint64()>;

    // The shortest time between two wake-ups of the clock's own timer.
    static constexpr qint64 kMinInterval = 25;

    explicit AnimationClock(QObject *parent = nullptr);

    // Schedules a client's first frame change delayMs from now. Returns its id.
    Id start(qint64 delayMs, Advance advance);
    // Forgets a client; safe to call for ids that already stopped.
    void stop(Id id);

    // Milliseconds on the clock (since it was created).
    qint64 now() const;
    // Serves every client due at `nowMs`; the timer calls it, tests may too.
    void serve(qint64 nowMs);

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
    static qint64 onGrid(qint64 ms) { return (ms + 9) / 10 * 10; }
    void rearm();

    QTimer m_timer;
    QElapsedTimer m_elapsed;
    bool m_manual = false;
    qint64 m_manualNow = 0;
    qint64 m_lastServed = -kMinInterval; // when serve() last ran, on the clock
    Id m_nextId = 1;
    quint64 m_wakeUps = 0;
    std::unordered_map<Id, Advance> m_clients;
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> m_queue;
};

} // namespace kalvora
