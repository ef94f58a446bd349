#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace kalvora::callsim {

// The console ignores longer datagrams.
inline constexpr qsizetype kMaxDatagramSize = 8192;

// What a datagram sent to the console says. Raw is any text, sent as it is.
enum class EventKind { Call, Bill, Cancel, Announce, Raw };

// "call", "bill", "cancel", "announce", "raw".
QString kindName(EventKind kind);
std::optional<EventKind> kindFromName(const QString &name);
// "call, bill, cancel, announce or raw" (without raw if withRaw is false), for messages.
QString kindNames(bool withRaw);

struct Event {
    EventKind kind = EventKind::Call;
    QString code;
    QString responsible;
    QString name;
    QString cancelCode;
    QByteArray raw; // the whole datagram of a Raw event

    bool operator==(const Event &) const = default;
};

// Why the event cannot be sent (no code, or ';' inside a field), or an empty string.
QString eventError(const Event &event);

// The datagram: "#code;type;responsible;name", then ";cancelcode" when there is one.
QByteArray eventDatagram(const Event &event);

// One line for the log: "call 101 (Nurse A / Bed 2)".
QString describeEvent(const Event &event);

// A text for a log line: control characters escaped ("\n", "\x01"), long texts cut.
QString printable(const QString &text, qsizetype maxLength = 60);

// Expands a list such as "101,102,110-130" into single codes. Ranges are numeric and keep
// the width of a start with leading zeros ("01-03" gives 01, 02, 03).
std::optional<QStringList> expandCodes(const QString &list, QString *error);

// An evenly paced load: event i is due i / rate seconds after the start. The codes are
// taken in turn, and each pass over all of them uses the next kind of the mix, so with the
// mix call,cancel every bed is called once and then cancelled once.
struct LoadPlan {
    double rate = 1;
    qint64 count = 0;
    QStringList codes;
    QList<EventKind> mix;

    qint64 dueNsecs(qint64 index) const;
    Event eventAt(qint64 index) const;
};

} // namespace kalvora::callsim
