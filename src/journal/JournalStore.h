#pragma once

#include "JournalSchema.h"
#include "JournalTypes.h"

#include <QSqlQuery>

#include <memory>
#include <optional>

namespace kalvora::journal {

// The rows the writer keeps in memory until they are written.
struct RunRow {
    UtcMs startedUtc = 0;
    UtcMs lastSeenUtc = 0;
    std::optional<UtcMs> closedUtc;
    RunInfo info;
    bool infoKnown = false;
    QString host;
    QString version;
};

struct CallRow {
    CallId seq = kNoCall;
    QString bedCode;
    QString bedName;
    QString responsible;
    CallType type = CallType::Call;
    UtcMs startedUtc = 0;
    std::optional<UtcMs> overdueUtc;
    std::optional<UtcMs> acknowledgedUtc;
    std::optional<UtcMs> endedUtc;
    std::optional<EndReason> endReason;
    qint32 repeats = 0;
    bool billByRepeat = false;
    std::optional<qint64> restoredFrom; // calls.id of the row it continues

    bool open() const { return !endReason.has_value(); }
};

struct EventRow {
    quint64 seq = 0;
    UtcMs atUtc = 0;
    EventKind kind = EventKind::ConsoleStarted;
    QString detail;
};

// The statements the writer runs, on one open connection whose schema is up
// to date. Writing is idempotent: a call row is inserted or, when its run
// and number are already there, updated to the same contents; an event that
// is already there is left alone. So a batch that is written again after a
// failure never leaves a row twice.
class JournalStore {
public:
    explicit JournalStore(QSqlDatabase db);

    SqlStatus begin();
    SqlStatus commit();
    void rollback();

    SqlStatus insertRun(const RunRow &run, qint64 *id);
    SqlStatus updateRun(qint64 id, const RunRow &run);
    SqlStatus writeCall(qint64 runId, const CallRow &call);
    SqlStatus writeEvent(qint64 runId, const EventRow &event);
    // Marks an interrupted row as continued by a restored one.
    SqlStatus markRestored(qint64 row);
    // Ends every call of the run still open in the file (a clean close).
    SqlStatus closeOpenCalls(qint64 runId, UtcMs at);

    // The calls that earlier runs left open, that is, runs that ended
    // without closing: each is ended "interrupted" at the last moment its
    // run was seen alive, and returned so that the console may restore it.
    // Their runs are marked interrupted.
    SqlStatus takeInterruptedCalls(QList<RestorableCall> *calls);
    // Deletes the calls and events before the cutoff, and runs left empty.
    SqlStatus purgeBefore(UtcMs cutoff);

private:
    QSqlQuery &prepared(std::unique_ptr<QSqlQuery> &query, const char *sql);

    QSqlDatabase m_db;
    std::unique_ptr<QSqlQuery> m_writeCall;
    std::unique_ptr<QSqlQuery> m_writeEvent;
    std::unique_ptr<QSqlQuery> m_updateRun;
};

} // namespace kalvora::journal
