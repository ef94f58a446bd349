#pragma once

#include <QString>

namespace kalvora {

// What a screen reader says for the console's beds and call list lines, and
// the alerts it hears. The texts are the console's own: Russian, in the words
// the ward uses.
//
// A bed is its shown name and code, then its state: "нет вызова" (idle),
// "вызов" (calling), "вызов просрочен" (overdue); then ", счёт" while the bill
// overlay shows, ", принят" once the call is acknowledged, and the waiting
// time as the call list writes it.
//   {"Палата 1, койка 2", "101", Calling, 75 s} => "Палата 1, койка 2 (101): вызов, 1 мин. 15 сек."
//   {"Палата 1, койка 2", "101", Idle} => "Палата 1, койка 2 (101): нет вызова"
//   {"", "101", Overdue, bill, 120 s} => "101: вызов просрочен, счёт, 2 мин."
struct BedSpeech {
    enum class State { Idle, Calling, Overdue };

    QString name; // as the label shows it
    QString code;
    State state = State::Idle;
    bool bill = false; // the bill overlay shows
    bool acknowledged = false;
    qint32 seconds = -1; // the call's time; nothing said for 0 or less
};
QString bedAccessibleName(const BedSpeech &bed);

// A call list line: its three columns as shown, separated by "; " (bed
// names hold commas), then "вызов просрочен" while the line is maroon and
// "принят" once the call is acknowledged (the responsible is given without
// the check mark the first column shows then).
//   ("Медсестра Иванова", "Палата 1, койка 1", "15 сек.") => "Медсестра Иванова; Палата 1, койка 1;
//   15 сек." (…, "2 мин. ", overdue, acknowledged) => "…; 2 мин.; вызов просрочен, принят"
QString callLineAccessibleName(const QString &responsible, const QString &bedText,
                               const QString &time, bool overdue, bool acknowledged);

// The alert of a new call and of a call that has turned overdue, naming the
// bed by its shown name and code.
//   (NewCall, "Палата 1, койка 2", "101") => "Новый вызов: Палата 1, койка 2 (101)"
//   (NewBillCall, …) => "Новый вызов, счёт: Палата 1, койка 2 (101)"
//   (Overdue, …) => "Вызов просрочен: Палата 1, койка 2 (101)"
enum class CallAlert { NewCall, NewBillCall, Overdue };
QString callAlertText(CallAlert alert, const QString &name, const QString &code);

} // namespace kalvora
