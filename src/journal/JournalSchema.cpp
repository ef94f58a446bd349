#include "JournalSchema.h"

#include <QAtomicInteger>
#include <QSqlError>
#include <QSqlQuery>

namespace kalvora::journal {

namespace {

// Version 1: runs of the console, one row per call, the events table, the
// indexes the report needs, and two views with readable times. Described
// for other programs in docs/JOURNAL.md.
const char *const kVersion1[] = {
    R"(CREATE TABLE runs (
        id            INTEGER PRIMARY KEY,
        started_utc   INTEGER NOT NULL,
        last_seen_utc INTEGER NOT NULL,
        closed_utc    INTEGER,
        end_kind      TEXT CHECK (end_kind IN ('closed', 'interrupted')),
        red_sec       INTEGER,
        max_sec       INTEGER,
        beds          INTEGER,
        host          TEXT NOT NULL DEFAULT '',
        version       TEXT NOT NULL DEFAULT ''))",
    R"(CREATE TABLE calls (
        id               INTEGER PRIMARY KEY,
        run_id           INTEGER NOT NULL REFERENCES runs (id),
        seq              INTEGER NOT NULL,
        bed_code         TEXT NOT NULL COLLATE NOCASE,
        bed_name         TEXT NOT NULL,
        responsible      TEXT NOT NULL,
        call_type        TEXT NOT NULL CHECK (call_type IN ('call', 'bill')),
        started_utc      INTEGER NOT NULL,
        overdue_utc      INTEGER,
        acknowledged_utc INTEGER,
        ended_utc        INTEGER,
        end_reason       TEXT CHECK (end_reason IN ('server_cancel', 'click', 'timeout',
                             'bed_deleted', 'console_closed', 'restored', 'interrupted')),
        repeats          INTEGER NOT NULL DEFAULT 0,
        bill_by_repeat   INTEGER NOT NULL DEFAULT 0,
        restored_from    INTEGER REFERENCES calls (id),
        UNIQUE (run_id, seq)))",
    "CREATE INDEX calls_by_start ON calls (started_utc)",
    "CREATE INDEX calls_by_bed ON calls (bed_code, started_utc)",
    "CREATE INDEX calls_open ON calls (run_id) WHERE ended_utc IS NULL",
    R"(CREATE TABLE events (
        id     INTEGER PRIMARY KEY,
        run_id INTEGER NOT NULL REFERENCES runs (id),
        seq    INTEGER NOT NULL,
        at_utc INTEGER NOT NULL,
        kind   TEXT NOT NULL CHECK (kind IN ('console_started', 'console_closed',
                   'server_found', 'server_lost', 'server_found_again', 'beds_saved',
                   'beds_save_failed', 'records_lost', 'journal_renamed')),
        detail TEXT NOT NULL DEFAULT '',
        UNIQUE (run_id, seq)))",
    "CREATE INDEX events_by_time ON events (at_utc)",
    R"(CREATE VIEW calls_readable AS SELECT
        id, run_id, bed_code, bed_name, responsible, call_type,
        strftime('%Y-%m-%dT%H:%M:%fZ', started_utc / 1000.0, 'unixepoch') AS started,
        strftime('%Y-%m-%dT%H:%M:%fZ', overdue_utc / 1000.0, 'unixepoch') AS overdue,
        strftime('%Y-%m-%dT%H:%M:%fZ', acknowledged_utc / 1000.0, 'unixepoch') AS acknowledged,
        strftime('%Y-%m-%dT%H:%M:%fZ', ended_utc / 1000.0, 'unixepoch') AS ended,
        end_reason,
        (ended_utc - started_utc) / 1000.0 AS duration_sec,
        repeats, bill_by_repeat, restored_from
        FROM calls)",
    R"(CREATE VIEW events_readable AS SELECT
        id, run_id,
        strftime('%Y-%m-%dT%H:%M:%fZ', at_utc / 1000.0, 'unixepoch') AS at,
        kind, detail
        FROM events)",
};

SqlStatus execAll(QSqlDatabase &db, const auto &statements)
{
    for (const char *sql : statements) {
        if (auto failure = exec(db, QString::fromUtf8(sql)))
            return failure;
    }
    return std::nullopt;
}

SqlStatus toVersion1(QSqlDatabase &db)
{
    if (auto failure = execAll(db, kVersion1))
        return failure;
    return exec(db, QStringLiteral("PRAGMA application_id = %1").arg(kApplicationId));
}

// Each step turns the schema of the version before into its own version.
// The next version is one more function here and one more row below.
struct Migration {
    int version;
    SqlStatus (*apply)(QSqlDatabase &db);
};
constexpr Migration kMigrations[] = {
    { 1, toVersion1 },
};
static_assert(std::size(kMigrations) == kSchemaVersion);

SqlStatus migrationStep(QSqlDatabase &db, const Migration &step)
{
    if (auto failure = exec(db, QStringLiteral("BEGIN IMMEDIATE")))
        return failure;
    SqlStatus failure = step.apply(db);
    if (!failure)
        failure = exec(db, QStringLiteral("PRAGMA user_version = %1").arg(step.version));
    if (!failure)
        failure = exec(db, QStringLiteral("COMMIT"));
    if (failure)
        exec(db, QStringLiteral("ROLLBACK"));
    return failure;
}

} // namespace

Failure failureOf(const QSqlError &error)
{
    // Qt's SQLite driver reports SQLite's (extended) result code; its low
    // byte is the primary code.
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    Failure f;
    f.text = error.text();
    if (!ok) {
        f.fault = Fault::Io;
        return f;
    }
    switch (code) {
    case 13: // SQLITE_FULL
        f.fault = Fault::DiskFull;
        break;
    case 8: // SQLITE_READONLY
    case 3: // SQLITE_PERM
        f.fault = Fault::ReadOnly;
        break;
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        f.fault = Fault::Busy;
        break;
    case 14: // SQLITE_CANTOPEN
        f.fault = Fault::CannotOpen;
        break;
    case 11: // SQLITE_CORRUPT
    case 26: // SQLITE_NOTADB
        f.fault = Fault::Damaged;
        break;
    case 18: // SQLITE_TOOBIG
    case 19: // SQLITE_CONSTRAINT
    case 20: // SQLITE_MISMATCH
    case 25: // SQLITE_RANGE
        f.fault = Fault::BadRow;
        break;
    default:
        f.fault = Fault::Io;
        break;
    }
    return f;
}

Connection::Connection(const QString &path, Mode mode, int busyTimeoutMs)
    : m_path(path)
{
    static QAtomicInteger<quint64> counter;
    m_name = QStringLiteral("kalvora-journal-%1").arg(++counter);
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    m_db.setDatabaseName(path);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs);
    if (mode == Mode::ReadOnly)
        options += QLatin1String(";QSQLITE_OPEN_READONLY");
    m_db.setConnectOptions(options);
}

Connection::~Connection()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
}

SqlStatus Connection::open()
{
    if (!m_db.isValid())
        return Failure { Fault::Io,
                         QStringLiteral("Qt's SQLite driver (QSQLITE) is not installed") };
    if (m_db.isOpen() || m_db.open())
        return std::nullopt;
    return failureOf(m_db.lastError());
}

SqlStatus exec(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        return failureOf(query.lastError());
    return std::nullopt;
}

SqlStatus exec(QSqlQuery &query, std::initializer_list<QVariant> values)
{
    int i = 0;
    for (const QVariant &value : values)
        query.bindValue(i++, value);
    if (!query.exec())
        return failureOf(query.lastError());
    return std::nullopt;
}

SqlStatus scalar(QSqlDatabase &db, const QString &sql, QVariant *value)
{
    QSqlQuery query(db);
    if (!query.exec(sql))
        return failureOf(query.lastError());
    *value = query.next() ? query.value(0) : QVariant();
    return std::nullopt;
}

SqlStatus inspect(QSqlDatabase &db, Inspection *inspection)
{
    QVariant applicationId, version, tables;
    if (auto failure = scalar(db, QStringLiteral("PRAGMA application_id"), &applicationId))
        return failure;
    if (auto failure = scalar(db, QStringLiteral("PRAGMA user_version"), &version))
        return failure;
    if (auto failure = scalar(db, QStringLiteral("SELECT count(*) FROM sqlite_master"), &tables))
        return failure;
    inspection->version = version.toInt();
    using Kind = Inspection::Kind;
    if (applicationId.toInt() == kApplicationId && inspection->version >= 1)
        inspection->kind = inspection->version > kSchemaVersion ? Kind::Newer : Kind::Journal;
    else if (applicationId.toInt() == 0 && inspection->version == 0 && tables.toInt() == 0)
        inspection->kind = Kind::Empty;
    else
        inspection->kind = Kind::Foreign;
    return std::nullopt;
}

SqlStatus migrate(QSqlDatabase &db, int from, int to)
{
    for (const Migration &step : kMigrations) {
        if (step.version <= from || step.version > to)
            continue;
        if (auto failure = migrationStep(db, step))
            return failure;
    }
    return std::nullopt;
}

SqlStatus prepareForWriting(QSqlDatabase &db)
{
    Inspection found;
    if (auto failure = inspect(db, &found))
        return failure;
    switch (found.kind) {
    case Inspection::Kind::Foreign:
        return Failure { Fault::NotJournal,
                         QStringLiteral("the file is another program's database") };
    case Inspection::Kind::Newer:
        return Failure { Fault::Newer,
                         QStringLiteral("the journal has schema version %1; this console knows "
                                        "versions up to %2")
                             .arg(found.version)
                             .arg(kSchemaVersion) };
    case Inspection::Kind::Empty:
    case Inspection::Kind::Journal:
        break;
    }
    // WAL: the report and a backup read while the console writes. FULL: a
    // committed batch survives a power cut.
    QVariant mode;
    if (auto failure = scalar(db, QStringLiteral("PRAGMA journal_mode = WAL"), &mode))
        return failure;
    if (mode.toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        return Failure { Fault::Io, QStringLiteral("the file cannot be switched to WAL mode") };
    if (auto failure = exec(db, QStringLiteral("PRAGMA synchronous = FULL")))
        return failure;
    return migrate(db, found.version);
}

} // namespace kalvora::journal
