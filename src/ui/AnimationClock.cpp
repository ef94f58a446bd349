#include "AnimationClock.h"

namespace kalvora {

AnimationClock::AnimationClock(QObject *parent)
    : QObject(parent)
{
    m_elapsed.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { serve(now()); });
}

qint64 AnimationClock::now() const
{
    return m_manual ? m_manualNow : m_elapsed.elapsed();
}

void AnimationClock::setManual(bool manual)
{
    m_manual = manual;
    m_manualNow = 0;
    m_timer.stop();
}

AnimationClock::Id AnimationClock::start(qint64 delayMs, Advance advance)
{
    const Id id = m_nextId++;
    m_clients.emplace(id, std::move(advance));
    m_queue.push({ onGrid(now() + std::max<qint64>(delayMs, 1)), id });
    rearm();
    return id;
}

void AnimationClock::stop(Id id)
{
    // The queue entry stays until it comes up and is then dropped.
    m_clients.erase(id);
    if (m_clients.empty()) {
        m_queue = {};
        m_timer.stop();
    }
}

void AnimationClock::serve(qint64 nowMs)
{
    if (m_manual)
        m_manualNow = nowMs;
    ++m_wakeUps;
    while (!m_queue.empty() && m_queue.top().at <= nowMs) {
        const Due due = m_queue.top();
        m_queue.pop();
        const auto it = m_clients.find(due.id);
        if (it == m_clients.end())
            continue;
        const qint64 next = it->second();
        if (next < 0) {
            m_clients.erase(due.id);
            continue;
        }
        // Counted from when the frame was due, not from when it was served, so
        // a late wake-up shortens this frame only and the animation does not
        // drift; a frame that is already over when its turn comes is shown
        // until the next step of the grid.
        qint64 at = onGrid(due.at + std::max<qint64>(next, 1));
        if (at <= nowMs)
            at = onGrid(nowMs + 1);
        m_queue.push({ at, due.id });
    }
    rearm();
}

void AnimationClock::dropStopped()
{
    while (!m_queue.empty() && !m_clients.count(m_queue.top().id))
        m_queue.pop();
}

qint64 AnimationClock::nextDue()
{
    dropStopped();
    return m_queue.empty() ? -1 : m_queue.top().at;
}

void AnimationClock::rearm()
{
    if (m_manual)
        return;
    dropStopped();
    if (m_queue.empty()) {
        m_timer.stop();
        return;
    }
    // Rounded up to whole milliseconds: the timer never fires before the
    // frame is due, so each wake-up serves a frame.
    const qint64 waitNs = m_queue.top().at * 1000000 - m_elapsed.nsecsElapsed();
    const qint64 wait = std::max<qint64>(0, (waitNs + 999999) / 1000000);
    if (!m_timer.isActive() || m_timer.remainingTime() > wait)
        m_timer.start(int(std::min<qint64>(wait, 1 << 30)));
}

} // namespace kalvora
