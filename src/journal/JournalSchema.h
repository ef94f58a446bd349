#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <optional>

class QSqlError;
class QSqlQuery;

namespace kalvora::journal {

// PRAGMA application_id of a journal ("KLVJ"): tells a journal from any other
// SQLite database.
constexpr qint32 kApplicationId = 0x4B4C564A;
// PRAGMA user_version of the newest schema this code knows.
constexpr int kSchemaVersion = 1;

// What stops a database operation, from SQLite's result code.
enum class Fault {
    DiskFull, // SQLITE_FULL
    ReadOnly, // SQLITE_READONLY, SQLITE_PERM
    Busy, // SQLITE_BUSY, SQLITE_LOCKED: another program holds the file
    CannotOpen, // SQLITE_CANTOPEN: no such folder, no right to create the file
    Damaged, // SQLITE_CORRUPT, SQLITE_NOTADB: not a database, or a damaged one
    NotJournal, // a database, but not a journal
    Newer, // a journal of a newer schema than this code knows
    OtherConsole, // another console writes this journal (its lock file is held)
    BadRow, // SQLITE_CONSTRAINT, SQLITE_TOOBIG, ...: this row can never be written
    Io, // SQLITE_IOERR and anything else
};

struct Failure {
    Fault fault = Fault::Io;
    QString text; // the driver's text, for the log and the status line
};
using SqlStatus = std::optional<Failure>;

Failure failureOf(const QSqlError &error);

// One SQLite connection of its own (Qt's connections are per thread and by
// name), closed and removed with this object.
class Connection {
public:
    enum class Mode { ReadWrite, ReadOnly };
    Connection(const QString &path, Mode mode, int busyTimeoutMs);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    SqlStatus open();
    QSqlDatabase &db() { return m_db; }
    const QString &path() const { return m_path; }

private:
    QString m_name;
    QString m_path;
    QSqlDatabase m_db;
};

// Runs one statement (no results kept).
SqlStatus exec(QSqlDatabase &db, const QString &sql);
// Runs a prepared statement with its values bound in order.
SqlStatus exec(QSqlQuery &query, std::initializer_list<QVariant> values);
// The first column of the first row of a query that returns one value.
SqlStatus scalar(QSqlDatabase &db, const QString &sql, QVariant *value);

// What a file holds, as far as the journal is concerned.
struct Inspection {
    enum class Kind { Empty, Journal, Newer, Foreign } kind = Kind::Empty;
    int version = 0; // user_version
};
// Reads the file's identity (application_id, user_version, whether it has
// tables). Fails with Damaged for a file that is not a database.
SqlStatus inspect(QSqlDatabase &db, Inspection *inspection);

// Brings the schema from version `from` (0: an empty file) to `to`, one
// version at a time, each step in a transaction of its own.
SqlStatus migrate(QSqlDatabase &db, int from, int to = kSchemaVersion);

// Opens the connection's file for writing: identifies it, refuses a foreign
// or newer one (NotJournal, Newer), switches to WAL and brings the schema up
// to date.
SqlStatus prepareForWriting(QSqlDatabase &db);

} // namespace kalvora::journal
