#include "JournalStore.h"

#include <QSqlError>

namespace kalvora::journal {

namespace {

QVariant nullable(const std::optional<qint64> &value)
{
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<qint64>());
}

std::optional<qint64> optionalInt(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional<qint64>(value.toLongLong());
}

} // namespace

JournalStore::JournalStore(QSqlDatabase db)
    : m_db(std::move(db))
{
}

QSqlQuery &JournalStore::prepared(std::unique_ptr<QSqlQuery> &query, const char *sql)
{
    if (!query) {
        query = std::make_unique<QSqlQuery>(m_db);
        query->prepare(QString::fromUtf8(sql));
    }
    return *query;
}

SqlStatus JournalStore::begin()
{
    return exec(m_db, QStringLiteral("BEGIN IMMEDIATE"));
}

SqlStatus JournalStore::commit()
{
    return exec(m_db, QStringLiteral("COMMIT"));
}

void JournalStore::rollback()
{
    // Fails harmlessly when SQLite has already rolled the transaction back.
    exec(m_db, QStringLiteral("ROLLBACK"));
}

SqlStatus JournalStore::insertRun(const RunRow &run, qint64 *id)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(
        "INSERT INTO runs (started_utc, last_seen_utc, red_sec, max_sec, beds, host, version) "
        "VALUES (?, ?, ?, ?, ?, ?, ?)"));
    const QVariant none(QMetaType::fromType<int>());
    if (auto failure = exec(
            query,
            { run.startedUtc, run.lastSeenUtc, run.infoKnown ? QVariant(run.info.redSec) : none,
              run.infoKnown ? QVariant(run.info.maxSec) : none,
              run.infoKnown ? QVariant(run.info.beds) : none, run.host, run.version }))
        return failure;
    *id = query.lastInsertId().toLongLong();
    return std::nullopt;
}

SqlStatus JournalStore::updateRun(qint64 id, const RunRow &run)
{
    QSqlQuery &query = prepared(
        m_updateRun,
        "UPDATE runs SET last_seen_utc = ?, closed_utc = ?, "
        "end_kind = CASE WHEN ? IS NULL THEN end_kind ELSE 'closed' END, "
        "red_sec = coalesce(?, red_sec), max_sec = coalesce(?, max_sec), beds = coalesce(?, beds) "
        "WHERE id = ?");
    const QVariant none(QMetaType::fromType<int>());
    return exec(query,
                { run.lastSeenUtc, nullable(run.closedUtc), nullable(run.closedUtc),
                  run.infoKnown ? QVariant(run.info.redSec) : none,
                  run.infoKnown ? QVariant(run.info.maxSec) : none,
                  run.infoKnown ? QVariant(run.info.beds) : none, id });
}

SqlStatus JournalStore::writeCall(qint64 runId, const CallRow &call)
{
    QSqlQuery &query = prepared(
        m_writeCall,
        "INSERT INTO calls (run_id, seq, bed_code, bed_name, responsible, call_type, started_utc, "
        "overdue_utc, acknowledged_utc, ended_utc, end_reason, repeats, bill_by_repeat, "
        "restored_from) VALUES (?, ?, coalesce(?, ''), coalesce(?, ''), coalesce(?, ''), ?, ?, ?, "
        "?, ?, ?, ?, ?, ?) "
        "ON CONFLICT (run_id, seq) DO UPDATE SET overdue_utc = excluded.overdue_utc, "
        "acknowledged_utc = excluded.acknowledged_utc, ended_utc = excluded.ended_utc, "
        "end_reason = excluded.end_reason, repeats = excluded.repeats, "
        "bill_by_repeat = excluded.bill_by_repeat");
    return exec(query,
                { runId, qint64(call.seq), call.bedCode, call.bedName, call.responsible,
                  callTypeName(call.type), call.startedUtc, nullable(call.overdueUtc),
                  nullable(call.acknowledgedUtc), nullable(call.endedUtc),
                  call.endReason ? QVariant(endReasonName(*call.endReason))
                                 : QVariant(QMetaType::fromType<QString>()),
                  call.repeats, call.billByRepeat ? 1 : 0, nullable(call.restoredFrom) });
}

SqlStatus JournalStore::writeEvent(qint64 runId, const EventRow &event)
{
    QSqlQuery &query =
        prepared(m_writeEvent,
                 "INSERT INTO events (run_id, seq, at_utc, kind, detail) "
                 "VALUES (?, ?, ?, ?, coalesce(?, '')) ON CONFLICT (run_id, seq) DO NOTHING");
    return exec(query,
                { runId, qint64(event.seq), event.atUtc, eventKindName(event.kind), event.detail });
}

SqlStatus JournalStore::markRestored(qint64 row)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(
        "UPDATE calls SET end_reason = 'restored' WHERE id = ? AND end_reason = 'interrupted'"));
    return exec(query, { row });
}

SqlStatus JournalStore::closeOpenCalls(qint64 runId, UtcMs at)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("UPDATE calls SET ended_utc = ?, end_reason = 'console_closed' "
                                 "WHERE run_id = ? AND ended_utc IS NULL"));
    return exec(query, { at, runId });
}

SqlStatus JournalStore::takeInterruptedCalls(QList<RestorableCall> *calls)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral(
            "SELECT id, bed_code, bed_name, responsible, call_type, started_utc, overdue_utc, "
            "acknowledged_utc, repeats, bill_by_repeat FROM calls WHERE ended_utc IS NULL "
            "ORDER BY started_utc, id")))
        return failureOf(query.lastError());
    while (query.next()) {
        RestorableCall c;
        c.row = query.value(0).toLongLong();
        c.bedCode = query.value(1).toString();
        c.bedName = query.value(2).toString();
        c.responsible = query.value(3).toString();
        c.type = callTypeFromName(query.value(4).toString()).value_or(CallType::Call);
        c.startedUtc = query.value(5).toLongLong();
        c.overdueUtc = optionalInt(query.value(6));
        c.acknowledgedUtc = optionalInt(query.value(7));
        c.repeats = query.value(8).toInt();
        c.billByRepeat = query.value(9).toInt() != 0;
        calls->append(c);
    }
    if (query.lastError().isValid())
        return failureOf(query.lastError());
    query.finish();
    if (auto failure =
            exec(m_db,
                 QStringLiteral("UPDATE calls SET end_reason = 'interrupted', ended_utc = "
                                "max(started_utc, coalesce((SELECT last_seen_utc FROM runs "
                                "WHERE runs.id = calls.run_id), started_utc)) "
                                "WHERE ended_utc IS NULL")))
        return failure;
    return exec(m_db,
                QStringLiteral("UPDATE runs SET end_kind = 'interrupted' "
                               "WHERE closed_utc IS NULL AND end_kind IS NULL"));
}

SqlStatus JournalStore::purgeBefore(UtcMs cutoff)
{
    QSqlQuery calls(m_db);
    calls.prepare(
        QStringLiteral("DELETE FROM calls WHERE started_utc < ? AND ended_utc IS NOT NULL"));
    if (auto failure = exec(calls, { cutoff }))
        return failure;
    QSqlQuery events(m_db);
    events.prepare(QStringLiteral("DELETE FROM events WHERE at_utc < ?"));
    if (auto failure = exec(events, { cutoff }))
        return failure;
    return exec(
        m_db,
        QStringLiteral("DELETE FROM runs WHERE end_kind IS NOT NULL "
                       "AND NOT EXISTS (SELECT 1 FROM calls WHERE calls.run_id = runs.id) "
                       "AND NOT EXISTS (SELECT 1 FROM events WHERE events.run_id = runs.id)"));
}

} // namespace kalvora::journal
