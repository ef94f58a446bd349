#include "JournalReader.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

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
        return Result::failure(
            readFailureText(path, { Fault::NotJournal, QString() }) + QStringLiteral(" (it is empty)"));

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
            QStringLiteral("%1 is a journal of schema version %2; this program reads versions 1 to %3")
                .arg(path)
                .arg(found.version)
                .arg(kSchemaVersion));
    case Inspection::Kind::Empty:
    case Inspection::Kind::Foreign:
        return Result::failure(readFailureText(path, { Fault::NotJournal, QString() }));
    }
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

Status JournalReader::forEachCall(const Filter &filter, const std::function<void(const Call &)> &visit)
{
    QSqlQuery query(m_connection->db());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT bed_code, started_utc, coalesce(ended_utc - started_utc, -1), ")
                  + kReasonCase
                  + QStringLiteral(", overdue_utc IS NOT NULL, call_type = 'bill' OR bill_by_repeat <> 0 "
                                   "FROM calls")
                  + where(filter));
    bind(query, filter);
    if (!query.exec())
        return readFailureText(m_connection->path(), failureOf(query.lastError()));
    Call call;
    while (query.next()) {
        call.bedCode = query.value(0).toString();
        call.startedUtc = query.value(1).toLongLong();
        call.durationMs = query.value(2).toLongLong();
        call.endReason = reasonFromNumber(query.value(3).toInt());
        call.overdue = query.value(4).toInt() != 0;
        call.bill = query.value(5).toInt() != 0;
        visit(call);
    }
    if (query.lastError().isValid())
        return readFailureText(m_connection->path(), failureOf(query.lastError()));
    return std::nullopt;
}

Expected<QList<JournalReader::CallDetails>> JournalReader::unansweredCalls(const Filter &filter)
{
    using Result = Expected<QList<CallDetails>>;
    QSqlQuery query(m_connection->db());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id, bed_code, bed_name, responsible, call_type, started_utc, "
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
    // SQLite takes bed_name from the row holding max(id): the newest call.
    query.prepare(QStringLiteral("SELECT bed_code, bed_name, max(id) FROM calls") + where(filter)
                  + QStringLiteral(" GROUP BY bed_code"));
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
