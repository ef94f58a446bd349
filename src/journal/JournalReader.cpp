#include "JournalReader.h"

#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <cstring>
#include <sqlite3.h>

namespace kalvora::journal {

namespace {

// The end reasons as small numbers, decided inside SQLite so that reading
// half a million calls compares no texts.
const QString kReasonCase = QStringLiteral(
    "CASE end_reason WHEN 'server_cancel' THEN 0 WHEN 'click' THEN 1 WHEN 'timeout' THEN 2 "
    "WHEN 'bed_deleted' THEN 3 WHEN 'console_closed' THEN 4 WHEN 'restored' THEN 5 "
    "WHEN 'interrupted' THEN 6 ELSE -1 END");

std::optional<EndReason> reasonFromNumber(int n)
{
    if (n < 0 || n > int(EndReason::Interrupted))
        return std::nullopt;
    return EndReason(n);
}

std::optional<qint64> optionalInt(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional<qint64>(value.toLongLong());
}

} // namespace

QString readFailureText(const QString &path, const Failure &failure)
{
    switch (failure.fault) {
    case Fault::Damaged:
        return QStringLiteral("%1 is not a database, or it is damaged").arg(path);
    case Fault::NotJournal:
        return QStringLiteral("%1 is not a Kalvora call journal").arg(path);
    case Fault::Newer:
    case Fault::DiskFull:
    case Fault::ReadOnly:
    case Fault::Busy:
    case Fault::CannotOpen:
    case Fault::OtherConsole:
    case Fault::BadRow:
    case Fault::Io:
        break;
    }
    return QStringLiteral("cannot read %1: %2").arg(path, failure.text);
}

Expected<std::shared_ptr<JournalReader>> JournalReader::open(const QString &path)
{
    using Result = Expected<std::shared_ptr<JournalReader>>;
    const QFileInfo info(path);
    if (!info.exists())
        return Result::failure(QStringLiteral("%1: no such file").arg(path));
    if (!info.isFile())
        return Result::failure(QStringLiteral("%1 is not a file").arg(path));
    if (!info.isReadable())
        return Result::failure(QStringLiteral("%1 cannot be read (permission denied)").arg(path));
    if (info.size() == 0)
        return Result::failure(readFailureText(path, { Fault::NotJournal, QString() })
                               + QStringLiteral(" (it is empty)"));

    auto connection = std::make_unique<Connection>(path, Connection::Mode::ReadOnly, 5000);
    Inspection found;
    SqlStatus failure = connection->open();
    if (!failure)
        failure = inspect(connection->db(), &found);
    if (failure)
        return Result::failure(readFailureText(path, *failure));
    switch (found.kind) {
    case Inspection::Kind::Journal:
        break;
    case Inspection::Kind::Newer:
        return Result::failure(
            QStringLiteral(
                "%1 is a journal of schema version %2; this program reads versions 1 to %3")
                .arg(path)
                .arg(found.version)
                .arg(kSchemaVersion));
    case Inspection::Kind::Empty:
    case Inspection::Kind::Foreign:
        return Result::failure(readFailureText(path, { Fault::NotJournal, QString() }));
    }
    // Reading a year of calls through the page cache by memory map saves a
    // copy of every page.
    exec(connection->db(), QStringLiteral("PRAGMA mmap_size = 1073741824"));
    return std::shared_ptr<JournalReader>(new JournalReader(std::move(connection), found.version));
}

JournalReader::JournalReader(std::unique_ptr<Connection> connection, int version)
    : m_connection(std::move(connection))
    , m_version(version)
{
}

JournalReader::~JournalReader() = default;

QString JournalReader::where(const Filter &filter) const
{
    QString sql = QStringLiteral(" WHERE end_reason IS NOT 'restored'");
    if (filter.from)
        sql += QLatin1String(" AND started_utc >= :from");
    if (filter.to)
        sql += QLatin1String(" AND started_utc < :to");
    if (!filter.bedCode.isEmpty())
        sql += QLatin1String(" AND bed_code = :bed");
    return sql;
}

void JournalReader::bind(QSqlQuery &query, const Filter &filter) const
{
    if (filter.from)
        query.bindValue(QStringLiteral(":from"), *filter.from);
    if (filter.to)
        query.bindValue(QStringLiteral(":to"), *filter.to);
    if (!filter.bedCode.isEmpty())
        query.bindValue(QStringLiteral(":bed"), filter.bedCode);
}

// The one loop over every call of a year: straight on SQLite's own
// statement (the handle of Qt's connection), which costs a fraction of a
// QSqlQuery's row of QVariants.
Status JournalReader::forEachCall(const Filter &filter,
                                  const std::function<void(const Call &)> &visit)
{
    const QVariant handle = m_connection->db().driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return QStringLiteral("cannot read %1: not an SQLite connection").arg(m_connection->path());
    sqlite3 *db = *static_cast<sqlite3 *const *>(handle.constData());
    QString sql =
        QStringLiteral("SELECT bed_code, started_utc, coalesce(ended_utc - started_utc, -1), ")
        + kReasonCase
        + QStringLiteral(
            ", overdue_utc IS NOT NULL, call_type = 'bill' OR bill_by_repeat <> 0 FROM calls")
        + where(filter);
    sqlite3_stmt *statement = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &statement, nullptr)
        != SQLITE_OK)
        return readFailureText(m_connection->path(),
                               { Fault::Io, QString::fromUtf8(sqlite3_errmsg(db)) });
    const auto bindName = [&](const char *name, qint64 value) {
        if (const int i = sqlite3_bind_parameter_index(statement, name))
            sqlite3_bind_int64(statement, i, value);
    };
    if (filter.from)
        bindName(":from", *filter.from);
    if (filter.to)
        bindName(":to", *filter.to);
    const QByteArray bed = filter.bedCode.toUtf8();
    if (const int i = sqlite3_bind_parameter_index(statement, ":bed"))
        sqlite3_bind_text(statement, i, bed.constData(), int(bed.size()), SQLITE_STATIC);

    Call call;
    QByteArray lastCode;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        // Rows of one bed share its code's string.
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, 0));
        const int length = sqlite3_column_bytes(statement, 0);
        if (lastCode.size() != length || memcmp(lastCode.constData(), text, size_t(length)) != 0) {
            lastCode = QByteArray(text, length);
            call.bedCode = QString::fromUtf8(lastCode);
        }
        call.startedUtc = sqlite3_column_int64(statement, 1);
        call.durationMs = sqlite3_column_int64(statement, 2);
        call.endReason = reasonFromNumber(sqlite3_column_int(statement, 3));
        call.overdue = sqlite3_column_int(statement, 4) != 0;
        call.bill = sqlite3_column_int(statement, 5) != 0;
        visit(call);
    }
    const QString error = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(statement);
    if (step != SQLITE_DONE)
        return readFailureText(m_connection->path(), { Fault::Io, error });
    return std::nullopt;
}

Expected<QList<JournalReader::CallDetails>> JournalReader::unansweredCalls(const Filter &filter)
{
    using Result = Expected<QList<CallDetails>>;
    QSqlQuery query(m_connection->db());
    query.setForwardOnly(true);
    query.prepare(
        QStringLiteral("SELECT id, bed_code, bed_name, responsible, call_type, started_utc, "
                       "overdue_utc, ended_utc, ")
        + kReasonCase + QStringLiteral(" FROM calls") + where(filter)
        + QStringLiteral(" AND end_reason NOT IN ('click', 'server_cancel') "
                         "ORDER BY started_utc, id"));
    bind(query, filter);
    if (!query.exec())
        return Result::failure(readFailureText(m_connection->path(), failureOf(query.lastError())));
    QList<CallDetails> calls;
    while (query.next()) {
        CallDetails c;
        c.row = query.value(0).toLongLong();
        c.bedCode = query.value(1).toString();
        c.bedName = query.value(2).toString();
        c.responsible = query.value(3).toString();
        c.type = callTypeFromName(query.value(4).toString()).value_or(CallType::Call);
        c.startedUtc = query.value(5).toLongLong();
        c.overdueUtc = optionalInt(query.value(6));
        c.endedUtc = optionalInt(query.value(7));
        c.endReason = reasonFromNumber(query.value(8).toInt());
        calls.append(c);
    }
    if (query.lastError().isValid())
        return Result::failure(readFailureText(m_connection->path(), failureOf(query.lastError())));
    return calls;
}

Expected<QHash<QString, QString>> JournalReader::bedNames(const Filter &filter)
{
    using Result = Expected<QHash<QString, QString>>;
    QSqlQuery query(m_connection->db());
    query.setForwardOnly(true);
    // The newest call of each code, found in the index on (bed_code,
    // started_utc) alone; only those rows are read.
    QString range = QStringLiteral(" WHERE 1");
    if (filter.from)
        range += QLatin1String(" AND started_utc >= :from");
    if (filter.to)
        range += QLatin1String(" AND started_utc < :to");
    if (!filter.bedCode.isEmpty())
        range += QLatin1String(" AND bed_code = :bed");
    query.prepare(QStringLiteral("SELECT bed_code, bed_name FROM calls WHERE id IN "
                                 "(SELECT max(id) FROM calls")
                  + range + QStringLiteral(" GROUP BY bed_code)"));
    bind(query, filter);
    if (!query.exec())
        return Result::failure(readFailureText(m_connection->path(), failureOf(query.lastError())));
    QHash<QString, QString> names;
    while (query.next())
        names.insert(query.value(0).toString(), query.value(1).toString());
    return names;
}

Expected<std::optional<qint32>> JournalReader::overdueThreshold(const Filter &filter)
{
    using Result = Expected<std::optional<qint32>>;
    QSqlQuery query(m_connection->db());
    query.setForwardOnly(true);
    QString sql = QStringLiteral("SELECT red_sec FROM runs WHERE red_sec IS NOT NULL");
    if (filter.to)
        sql += QLatin1String(" AND started_utc < :to");
    query.prepare(sql + QStringLiteral(" ORDER BY started_utc DESC, id DESC LIMIT 1"));
    if (filter.to)
        query.bindValue(QStringLiteral(":to"), *filter.to);
    if (!query.exec())
        return Result::failure(readFailureText(m_connection->path(), failureOf(query.lastError())));
    if (!query.next())
        return std::optional<qint32>();
    return std::optional<qint32>(query.value(0).toInt());
}

} // namespace kalvora::journal
