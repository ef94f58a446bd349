#pragma once

// Helpers of the journal tests: a journal on a temporary file with clocks the
// test moves, short waits, and plain reads of what reached the file.

#include "journal/Journal.h"
#include "journal/JournalSchema.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QVariantMap>

namespace kalvora::test {

// 2025-06-15 12:00:00 UTC.
constexpr qint64 kStartWall = 1749988800000;

inline journal::Journal::Options fastOptions(const QString &file)
{
    journal::Journal::Options o;
    o.writer.file = file;
    o.writer.batchMs = 5;
    o.writer.retryMs = 50;
    o.writer.heartbeatMs = 60000;
    o.writer.busyTimeoutMs = 50;
    o.closeWait = std::chrono::milliseconds(10000);
    return o;
}

// Every row of a query on the file, each as column name => value.
inline QList<QVariantMap> query(const QString &file, const QString &sql)
{
    QList<QVariantMap> rows;
    journal::Connection connection(file, journal::Connection::Mode::ReadOnly, 2000);
    if (connection.open())
        return rows;
    QSqlQuery q(connection.db());
    if (!q.exec(sql))
        return rows;
    while (q.next()) {
        QVariantMap row;
        for (int i = 0; i < q.record().count(); ++i)
            row.insert(q.record().fieldName(i), q.value(i));
        rows.append(row);
    }
    return rows;
}

inline qint64 count(const QString &file, const QString &sql)
{
    const auto rows = query(file, sql);
    return rows.isEmpty() ? -1 : rows.first().first().toLongLong();
}

} // namespace kalvora::test
