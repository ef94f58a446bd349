#include "CallMarks.h"

#include "plan/CallState.h"

namespace kalvora {

ClickOutcome leftClickOutcome(OnClick action, bool calling, const CallMarks *marks)
{
    if (action == OnClick::Acknowledge && calling && marks && !marks->acknowledged)
        return ClickOutcome::Acknowledge;
    return ClickOutcome::End;
}

QString responsibleText(const QString &responsible, bool acknowledged)
{
    return acknowledged ? QStringLiteral("✓ ") + responsible : responsible;
}

TickSounds::TickSounds(const SafetySettings &settings)
    : m_reminderSec(settings.ReminderSec)
    , m_overdueSound(!settings.OverdueSound.isEmpty())
{
}

void TickSounds::call(const CallState &state, const CallMarks &marks, bool turnedOverdue)
{
    // A call that turned overdue and timed out on the same second still did
    // turn overdue.
    if (turnedOverdue && m_overdueSound)
        m_overdue = true;
    if (!state.isOn || marks.acknowledged)
        return;
    if (!m_anyUnacknowledged || state.curT <= m_newestTime) {
        m_anyUnacknowledged = true;
        m_newestTime = state.curT;
        m_newestKind = marks.kind;
    }
}

std::optional<CallKind> TickSounds::reminder() const
{
    if (m_reminderSec <= 0 || !m_anyUnacknowledged || m_newestTime <= 0
        || m_newestTime % m_reminderSec != 0)
        return std::nullopt;
    return m_newestKind;
}

} // namespace kalvora
