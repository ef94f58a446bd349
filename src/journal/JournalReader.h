#pragma once

#include "JournalSchema.h"
#include "JournalTypes.h"
#include "settings/Expected.h"

#include <QHash>

#include <functional>
#include <memory>
#include <optional>

namespace kalvora::journal {

// Reads a journal without writing it (the console may be writing it
// meanwhile): what the report needs, with the schema's rules in one place.
// A row that a restored row continues (end_reason "restored") is one call
// with it and is never returned.
class JournalReader {
public:
    // Which calls: started in [from, to), of one bed (compared as the bed
    // list compares codes) or of all.
    struct Filter {
        std::optional<UtcMs> from;
        std::optional<UtcMs> to;
        QString bedCode;
    };

    // The facts of one call that the figures need.
    struct Call {
        QString bedCode;
        UtcMs startedUtc = 0;
        std::optional<EndReason> endReason; // none: still open
        qint64 durationMs = -1; // start to end; -1 while open
        bool overdue = false; // it turned overdue
        bool bill = false; // a bill was requested, at the start or by a repeat
    };

    // A call with all its texts, for the table of unanswered calls.
    struct CallDetails {
        qint64 row = 0;
        QString bedCode;
        QString bedName;
        QString responsible;
        CallType type = CallType::Call;
        UtcMs startedUtc = 0;
        std::optional<UtcMs> overdueUtc;
        std::optional<UtcMs> endedUtc;
        std::optional<EndReason> endReason;
    };

    // Opens the file read-only. Fails with a readable text for a missing
    // file, a file that is not a journal, and a journal of a newer schema.
    static Expected<std::shared_ptr<JournalReader>> open(const QString &path);
    ~JournalReader();

    int schemaVersion() const { return m_version; }

    // Every call of the filter, in no particular order.
    Status forEachCall(const Filter &filter, const std::function<void(const Call &)> &visit);
    // The calls of the filter that ended without an answer (not by a click
    // or the server's cancel), oldest first.
    Expected<QList<CallDetails>> unansweredCalls(const Filter &filter);
    // The newest name each bed code had in the filter's calls.
    Expected<QHash<QString, QString>> bedNames(const Filter &filter);
    // The overdue threshold (redSec) of the newest run that started before
    // the filter's end, if any run recorded one.
    Expected<std::optional<qint32>> overdueThreshold(const Filter &filter);

private:
    explicit JournalReader(std::unique_ptr<Connection> connection, int version);
    QString where(const Filter &filter) const;
    void bind(QSqlQuery &query, const Filter &filter) const;

    std::unique_ptr<Connection> m_connection;
    int m_version = 0;
};

// An error text for a failed read, with the file name.
QString readFailureText(const QString &path, const Failure &failure);

} // namespace kalvora::journal
