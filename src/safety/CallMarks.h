#pragma once

#include "SafetySettings.h"

#include <QString>

#include <optional>

namespace kalvora {

struct CallState;

// The event a call started with, which says the sound it started with: a
// plain call (type 8) plays "bill.wav", a call with bill request (type 4)
// "call.wav" (the console's two sound files are named the other way round).
enum class CallKind { Plain, WithBill };

// What the safety options keep about one listed call, beside its call
// state: how it started, and whether it has been acknowledged. A new call
// starts with new marks, so a bed called again after its call ended starts
// unacknowledged.
struct CallMarks {
    CallKind kind = CallKind::Plain;
    bool acknowledged = false;
};

// What a left click on a bed in normal mode does with its call.
enum class ClickOutcome {
    End, // ends the call (on an idle bed: shows it idle again)
    Acknowledge, // marks the call acknowledged; the bed keeps its picture
};

// With ClickAction "acknowledge" the first left click on a calling or overdue
// bed acknowledges its call and the second one ends it; with "cancel", and on
// a bed with no active call, a click ends the call as it always did.
// `marks` are those of the bed's listed call, or null when none is listed.
//   (Acknowledge, calling, not acknowledged) => Acknowledge
//   (Acknowledge, calling, acknowledged) => End
//   (Cancel, calling, ...) => End
ClickOutcome leftClickOutcome(OnClick action, bool calling, const CallMarks *marks);

// The first column of a call list line: the responsible text, after a check
// mark once the call is acknowledged.
//   ("Nurse A", false) => "Nurse A"     ("Nurse A", true) => "✓ Nurse A"
QString responsibleText(const QString &responsible, bool acknowledged);

// The sounds of one one-second tick, gathered while the tick walks the call
// list after advancing each call:
//   - the reminder: with ReminderSec > 0, the newest active call that is not
//     acknowledged (the shortest call time; of equal ones the later in the
//     list) sets the rhythm: whenever its call time is a whole multiple of
//     ReminderSec its sound plays again. Counting from that call's start means
//     that a new call, which sounds as it comes in, does not double the sound.
//     No reminder once every active call is acknowledged or ended.
//   - the overdue sound: with OverdueSound set, once on a tick on which at
//     least one call turned overdue.
// The window plays the reminder first and then the overdue sound, which
// replaces it when both fall on one tick (a missing overdue file plays
// nothing and leaves the reminder playing).
class TickSounds {
public:
    explicit TickSounds(const SafetySettings &settings);

    // One listed call, after its second of call time; turnedOverdue is what
    // that second did. Calls that are not active are passed over.
    void call(const CallState &state, const CallMarks &marks, bool turnedOverdue);

    // The kind of call whose sound plays again on this tick, if any.
    std::optional<CallKind> reminder() const;
    // Whether the overdue sound plays on this tick.
    bool overdue() const { return m_overdue; }

private:
    qint32 m_reminderSec = 0;
    bool m_overdueSound = false;
    bool m_overdue = false;
    bool m_anyUnacknowledged = false;
    qint32 m_newestTime = 0;
    CallKind m_newestKind = CallKind::Plain;
};

} // namespace kalvora
