#pragma once

#include <QString>

namespace kalvora {

// What a left click on a calling bed does in normal mode.
enum class OnClick {
    Cancel, // ends the call at once
    Acknowledge, // the first click acknowledges the call, the next one ends it
};

// The [Safety] section of the settings file. Every option is off by default,
// so a settings file without the section keeps the console as it always was;
// the first start writes nothing for it.
//
//   [Safety]
//   LinkLossSec=5          lost link after 5 s without a presence reply
//   FaultSound=fault.wav   played when it is lost and every 10 s while it is
//   ReminderSec=30         an unanswered call sounds again every 30 s
//   ClickAction=acknowledge
//   KeepUntilCancelled=1   maxSec no longer ends calls
//   ShowOverflow=1         "+N вызовов не показано" on the last row that fits
//   OverdueSound=overdue.wav
struct SafetySettings {
    // > 0: the link to the call server counts as lost once no presence reply
    // has come for this many seconds; 0 or less: never.
    qint32 LinkLossSec = 0;
    // The file in the data folder played when the link is lost.
    QString FaultSound = QStringLiteral("fault.wav");
    // > 0: while a call is active and not acknowledged, the sound of the
    // newest such call plays again every this many seconds.
    qint32 ReminderSec = 0;
    // "cancel" or "acknowledge", in any letter case; any other value cancels.
    OnClick ClickAction = OnClick::Cancel;
    // Any integer but 0 switches these on.
    bool KeepUntilCancelled = false;
    bool ShowOverflow = false;
    // The file in the data folder played once when a call turns overdue;
    // empty: none.
    QString OverdueSound;
};

// Reads the [Safety] section with the rules of every other setting: names
// ignore letter case, a missing or malformed value takes its default,
// integers are decimal or hexadecimal ("$1F", "0x1F"), strings keep at most
// 2047 characters. A missing file gives every default.
SafetySettings readSafetySettings(const QString &settingsFile);

// The path of a sound the settings name, a file in the data folder; an empty
// name is no file.
//   ("/opt/kalvora/data", "fault.wav") => "/opt/kalvora/data/fault.wav"
//   ("/opt/kalvora/data", "") => ""
QString dataSoundFile(const QString &dataDir, const QString &name);

// The call length after which a call ends by itself: maxSec, or never (the
// largest call time there is) while calls are kept until cancelled. A call's
// time stops growing at that largest value, so it is never exceeded.
//   (60, false) => 60     (60, true) => 2147483647
qint32 effectiveMaxSec(qint32 maxSec, bool keepUntilCancelled);

} // namespace kalvora
