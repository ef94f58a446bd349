#include "JournalGenerator.h"

#include "journal/JournalSchema.h"

#include <QDateTime>
#include <QFile>
#include <QSqlQuery>

#include <cmath>
#include <random>

namespace kalvora::report {

namespace {

using journal::exec;
using journal::SqlStatus;

// How busy each hour of the day is (mornings and evenings most).
constexpr double kHourWeight[24] = {
    0.35, 0.3, 0.25, 0.25, 0.3, 0.5, 1.1, 1.6, 1.7, 1.5, 1.3, 1.2,
    1.4,  1.3, 1.1,  1.1,  1.2, 1.3, 1.5, 1.6, 1.4, 1.0, 0.7, 0.5
};

QString text(const SqlStatus &failure)
{
    return failure ? failure->text : QString();
}

} // namespace

Expected<qint64> generateJournal(const QString &path, const GeneratorOptions &o)
{
    using Result = Expected<qint64>;
    for (const char *suffix : { "", "-wal", "-shm" })
        QFile::remove(path + QLatin1String(suffix));
    journal::Connection connection(path, journal::Connection::Mode::ReadWrite, 1000);
    SqlStatus failure = connection.open();
    if (!failure)
        failure = journal::prepareForWriting(connection.db());
    if (!failure)
        failure = exec(connection.db(), QStringLiteral("BEGIN"));
    if (failure)
        return Result::failure(text(failure));

    QSqlDatabase &db = connection.db();
    std::mt19937_64 random(o.seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const qint64 day = 86400000;
    const qint64 start = o.endUtc - qint64(o.days) * day;

    QSqlQuery run(db), event(db), call(db);
    run.prepare(QStringLiteral(
        "INSERT INTO runs (id, started_utc, last_seen_utc, closed_utc, end_kind, red_sec, "
        "max_sec, beds, host, version) VALUES (?, ?, ?, ?, ?, ?, ?, ?, 'ward-pc', 'demo')"));
    event.prepare(
        QStringLiteral("INSERT INTO events (run_id, seq, at_utc, kind) VALUES (?, ?, ?, ?)"));
    call.prepare(QStringLiteral("INSERT INTO calls (run_id, seq, bed_code, bed_name, responsible, "
                                "call_type, started_utc, overdue_utc, "
                                "ended_utc, end_reason, repeats, bill_by_repeat) VALUES (?, ?, ?, "
                                "?, ?, ?, ?, ?, ?, ?, ?, ?)"));

    QStringList codes, names;
    for (int b = 0; b < o.beds; ++b) {
        codes.append(QString::number(101 + (b / 4) * 100 + b % 4));
        names.append(QStringLiteral("Палата %1, койка %2").arg(b / 4 + 1).arg(b % 4 + 1));
    }
    const QStringList nurses = { QStringLiteral("Сестра Иванова"), QStringLiteral("Сестра Петрова"),
                                 QStringLiteral("Сестра Смирнова"),
                                 QStringLiteral("Медбрат Кузнецов") };

    double weights = 0;
    for (const double w : kHourWeight)
        weights += w;
    const double perHourMean = o.callsPerBedPerDay * o.beds / weights;

    qint64 calls = 0;
    const int runDays = 7;
    for (int runStartDay = 0, runId = 1; runStartDay < o.days; runStartDay += runDays, ++runId) {
        const qint64 runStart = start + qint64(runStartDay) * day;
        const qint64 runEnd = std::min(o.endUtc, runStart + qint64(runDays) * day) - 1000;
        const bool crashed = runId == 3;
        quint64 seq = 0;
        const auto addEvent = [&](qint64 at, const char *kind) {
            return exec(event, { runId, qint64(++seq), at, QString::fromLatin1(kind) });
        };
        failure = exec(run,
                       { runId, runStart, runEnd, crashed ? QVariant() : QVariant(runEnd),
                         crashed ? QStringLiteral("interrupted") : QStringLiteral("closed"),
                         o.redSec, o.maxSec, o.beds });
        if (!failure)
            failure = addEvent(runStart, "console_started");
        if (!failure)
            failure = addEvent(runStart + 600, "server_found");
        // Calls hour by hour: a Poisson number per hour, spread over it.
        for (qint64 hourStart = runStart; !failure && hourStart < runEnd; hourStart += 3600000) {
            const int localHour = QDateTime::fromMSecsSinceEpoch(hourStart).time().hour();
            std::poisson_distribution<int> arrivals(perHourMean * kHourWeight[localHour]);
            const bool night = localHour < 6 || localHour >= 22;
            const int n = arrivals(random);
            for (int k = 0; k < n && !failure; ++k) {
                const qint64 at = hourStart + qint64(uniform(random) * 3600000);
                if (at >= runEnd)
                    continue;
                const int bed = int(uniform(random) * o.beds) % o.beds;
                // Minutes matter: lognormal waits, longer at night and for a
                // few "busy" beds far from the nurses' station.
                const double median = (night ? 70.0 : 35.0) * (bed % 9 == 0 ? 1.8 : 1.0);
                std::lognormal_distribution<double> wait(std::log(median), 0.85);
                const qint64 waitMs = qint64(wait(random) * 1000);
                const bool timeout = waitMs > qint64(o.maxSec) * 1000;
                const qint64 ended = at + (timeout ? qint64(o.maxSec + 1) * 1000 : waitMs);
                const bool overdue = ended - at >= qint64(o.redSec) * 1000;
                const bool bill = uniform(random) < 0.1;
                const int repeats = uniform(random) < 0.15 ? 1 + int(uniform(random) * 3) : 0;
                const QString reason = timeout ? QStringLiteral("timeout")
                    : uniform(random) < 0.7    ? QStringLiteral("click")
                                               : QStringLiteral("server_cancel");
                failure =
                    exec(call,
                         { runId, qint64(++seq), codes[bed], names[bed],
                           nurses[(bed / 10) % nurses.size()],
                           bill ? QStringLiteral("bill") : QStringLiteral("call"), at,
                           overdue ? QVariant(at + qint64(o.redSec) * 1000) : QVariant(), ended,
                           reason, repeats, repeats > 0 && uniform(random) < 0.2 ? 1 : 0 });
                ++calls;
            }
        }
        if (!failure && !crashed)
            failure = addEvent(runEnd, "beds_saved");
        if (!failure && !crashed)
            failure = addEvent(runEnd, "console_closed");
    }
    if (!failure)
        failure = exec(db, QStringLiteral("COMMIT"));
    if (!failure)
        failure = exec(db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    if (failure)
        return Result::failure(text(failure));
    return calls;
}

} // namespace kalvora::report
