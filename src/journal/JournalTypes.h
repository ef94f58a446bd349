#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QMetaType>
#include <QString>
#include <QStringView>

#include <optional>

namespace kalvora {

Q_DECLARE_LOGGING_CATEGORY(lcJournal) // "kalvora.journal": the call journal and its writer

namespace journal {

// A call as the journal knows it, from the moment the console hands it over:
// its number within the console's run. 0 is "no call" (the journal is off).
using CallId = quint64;
constexpr CallId kNoCall = 0;

// Times are milliseconds since 1970-01-01 00:00 UTC.
using UtcMs = qint64;

// What the server asked for: a call (event type "8") or a call with a bill
// request (event type "4").
enum class CallType : quint8 { Call, Bill };

// How a call ended. The names are the values of calls.end_reason.
enum class EndReason : quint8 {
    ServerCancel, // "server_cancel": the server's cancel event (type "2")
    Click, // "click": a left click on the calling bed
    Timeout, // "timeout": the call lasted longer than maxSec
    BedDeleted, // "bed_deleted": its bed was deleted from the plan
    ConsoleClosed, // "console_closed": the console was closed while it was waiting
    Restored, // "restored": continued by a new row after a restart (restored_from)
    Interrupted, // "interrupted": the console ended without closing and did not restore it
};

// Changes of the link to the call server.
enum class LinkEvent : quint8 {
    ServerFound, // the first presence reply of the run
    ServerLost, // no reply any more
    ServerFoundAgain, // a reply after a loss
};

// Kinds of the rows of the events table. The names are the values of events.kind.
enum class EventKind : quint8 {
    ConsoleStarted, // "console_started"
    ConsoleClosed, // "console_closed"
    ServerFound, // "server_found"
    ServerLost, // "server_lost"
    ServerFoundAgain, // "server_found_again"
    BedsSaved, // "beds_saved": the bed file was written
    BedsSaveFailed, // "beds_save_failed": it was not; detail: the error
    RecordsLost, // "records_lost": the journal could not keep up; detail: how many
    JournalRenamed, // "journal_renamed": a damaged file was set aside; detail: its new name
};

QString callTypeName(CallType type); // "call", "bill"
QString endReasonName(EndReason reason); // "server_cancel", ...
QString eventKindName(EventKind kind); // "console_started", ...
std::optional<CallType> callTypeFromName(QStringView name);
std::optional<EndReason> endReasonFromName(QStringView name);

// Facts about the console's run, recorded with it.
struct RunInfo {
    qint32 redSec = 20; // the overdue threshold in force, seconds
    qint32 maxSec = 60; // the timeout in force, seconds
    qint32 beds = 0; // beds on the plan at start-up
};

// A call that was open when an earlier run of the console ended without
// closing. The journal has already ended its row with "interrupted"; the
// console may take it up again with Journal::callRestored.
struct RestorableCall {
    qint64 row = 0; // calls.id of the interrupted row
    QString bedCode;
    QString bedName;
    QString responsible;
    CallType type = CallType::Call;
    UtcMs startedUtc = 0;
    std::optional<UtcMs> overdueUtc;
    std::optional<UtcMs> acknowledgedUtc;
    qint32 repeats = 0;
    bool billByRepeat = false;

    friend bool operator==(const RestorableCall &, const RestorableCall &) = default;
};

} // namespace journal
} // namespace kalvora

Q_DECLARE_METATYPE(kalvora::journal::RestorableCall)
