#include "LinkSupervisor.h"

#include "calls/CallListLayout.h"

#include <algorithm>
#include <limits>

namespace kalvora {

namespace {

constexpr qint64 kSecondMs = 1000;

} // namespace

LinkSupervisor::LinkSupervisor(qint32 lossSec, qint64 startMs)
    : m_lossMs(lossSec > 0 ? qint64(lossSec) * kSecondMs : 0)
    , m_lastReplyMs(startMs)
{
}

LinkSupervisor::Step LinkSupervisor::reply(qint64 nowMs)
{
    m_lastReplyMs = std::max(m_lastReplyMs, nowMs);
    const bool restored = m_lost;
    m_lost = false;
    return { false, restored, false };
}

LinkSupervisor::Step LinkSupervisor::tick(qint64 nowMs)
{
    if (!enabled())
        return {};
    Step step;
    if (!m_lost && silenceMs(nowMs) >= m_lossMs) {
        m_lost = true;
        step.changed = true;
        step.playFault = true;
        m_nextFaultMs = nowMs + kFaultRepeatMs;
    } else if (m_lost && nowMs >= m_nextFaultMs) {
        // A late timer plays the sound once, not once for every period missed.
        step.playFault = true;
        const qint64 periods = (nowMs - m_nextFaultMs) / kFaultRepeatMs + 1;
        m_nextFaultMs += periods * kFaultRepeatMs;
    }
    step.lost = m_lost;
    return step;
}

qint64 LinkSupervisor::silenceMs(qint64 nowMs) const
{
    return std::max<qint64>(0, nowMs - m_lastReplyMs);
}

QString LinkSupervisor::bannerText(qint64 nowMs) const
{
    const qint64 secs =
        std::min<qint64>(silenceMs(nowMs) / kSecondMs, std::numeric_limits<qint32>::max());
    return QStringLiteral("Нет связи с сервером вызовов\nнет ответа ")
        + SecondsToText(qint32(secs));
}

std::optional<qint64> LinkSupervisor::nextDueMs(qint64 nowMs) const
{
    if (!enabled())
        return std::nullopt;
    if (!m_lost)
        return m_lastReplyMs + m_lossMs;
    const qint64 nextSecond = m_lastReplyMs + (silenceMs(nowMs) / kSecondMs + 1) * kSecondMs;
    return std::min(nextSecond, m_nextFaultMs);
}

QString linkLostTitle()
{
    return QStringLiteral("Kalvora: Нет связи с сервером.");
}

std::optional<QString> linkTitle(TitleMoment moment, bool moveMode, bool linkLost, bool replied)
{
    if (moveMode)
        return std::nullopt;
    switch (moment) {
    case TitleMoment::SearchTick:
        if (linkLost)
            return linkLostTitle();
        return replied ? QStringLiteral("Kalvora: Сервер найден.")
                       : QStringLiteral("Kalvora: Не найден сервер.");
    case TitleMoment::LinkLost:
        return linkLostTitle();
    case TitleMoment::LinkRestored:
        return QStringLiteral("Kalvora: Сервер найден.");
    case TitleMoment::MoveModeLeft:
        return linkLost ? linkLostTitle() : QStringLiteral("Kalvora.");
    }
    return std::nullopt;
}

} // namespace kalvora
