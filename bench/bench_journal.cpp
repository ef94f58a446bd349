// Benchmarks of the call journal: what a call event costs the GUI thread at
// 5,000 events a second (and that none is lost), and the report of a year
// of a 40-bed ward (about 500,000 calls). No console, no socket: run
// directly or with scripts/bench-journal.sh.

#include "Figures.h"
#include "JournalGenerator.h"
#include "Render.h"
#include "journal/Journal.h"
#include "journal/JournalReader.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <thread>

using namespace kalvora;
using namespace kalvora::journal;

namespace {

qint64 count(const QString &file, const char *sql)
{
    Connection c(file, Connection::Mode::ReadOnly, 5000);
    if (c.open())
        return -1;
    QSqlQuery q(c.db());
    return q.exec(QString::fromLatin1(sql)) && q.next() ? q.value(0).toLongLong() : -1;
}

// Events paced at `rate` a second, as a busy ward's server would send them:
// each call starts, is repeated, turns overdue and ends (four events). Only
// the time inside the journal's calls is measured.
void BM_JournalEventAtRate(benchmark::State &state)
{
    const double rate = double(state.range(0));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("journal.sqlite"));
    qint64 calls = 0;
    {
        Journal journal(JournalSettings { file, false, 0 });
        journal.consoleStarted({ 20, 60, 40 });
        if (!journal.waitUntilWritten(std::chrono::seconds(10)))
            state.SkipWithError("the journal cannot be written");
        const QString responsible = QStringLiteral("Сестра Иванова");
        QStringList codes, names;
        for (int b = 0; b < 40; ++b) {
            codes << QString::number(101 + b);
            names << QStringLiteral("Палата %1, койка %2").arg(b / 4 + 1).arg(b % 4 + 1);
        }
        std::vector<CallId> open(40, kNoCall);
        const auto period = std::chrono::nanoseconds(qint64(1e9 / rate));
        auto next = std::chrono::steady_clock::now();
        qint64 n = 0;
        std::vector<double> costs;
        costs.reserve(std::size_t(state.max_iterations));
        for (auto _ : state) {
            next += period;
            std::this_thread::sleep_until(next);
            const int bed = int(n / 4 % 40);
            const auto begin = std::chrono::steady_clock::now();
            switch (n % 4) {
            case 0:
                open[bed] =
                    journal.callStarted(codes[bed], names[bed], responsible, CallType::Call);
                ++calls;
                break;
            case 1:
                journal.callRepeated(open[bed], bed % 3 == 0);
                break;
            case 2:
                journal.callOverdue(open[bed]);
                break;
            default:
                journal.callEnded(open[bed], EndReason::Click);
                break;
            }
            const auto end = std::chrono::steady_clock::now();
            costs.push_back(std::chrono::duration<double, std::micro>(end - begin).count());
            state.SetIterationTime(costs.back() / 1e6);
            ++n;
        }
        std::sort(costs.begin(), costs.end());
        if (!costs.empty()) {
            state.counters["p99_us"] = costs[costs.size() * 99 / 100];
            state.counters["max_us"] = costs.back();
        }
        journal.consoleClosed();
        if (!journal.waitUntilWritten(std::chrono::seconds(30)))
            state.SkipWithError("the journal did not catch up");
        state.counters["lost"] = double(journal.stats().lost);
        state.counters["transactions"] = double(journal.stats().transactions);
    }
    const qint64 written =
        count(file,
              "SELECT count(*) FROM calls WHERE end_reason = 'click' AND repeats = 1 "
              "AND overdue_utc IS NOT NULL");
    state.counters["calls_sent"] = double(calls);
    state.counters["calls_written"] = double(written);
    if (written != calls)
        state.SkipWithError("calls were lost");
}
BENCHMARK(BM_JournalEventAtRate)
    ->Arg(5000)
    ->Iterations(40000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// The same events back to back: the most the GUI thread can hand over.
void BM_JournalEventBurst(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("journal.sqlite"));
    Journal journal(JournalSettings { file, false, 0 });
    const QString code = QStringLiteral("101"), name = QStringLiteral("Палата 1, койка 1");
    for (auto _ : state) {
        const CallId id = journal.callStarted(code, name, QString(), CallType::Call);
        journal.callEnded(id, EndReason::Click);
    }
    state.SetItemsProcessed(state.iterations() * 2);
    journal.waitUntilWritten(std::chrono::seconds(30));
    state.counters["lost"] = double(journal.stats().lost);
}
BENCHMARK(BM_JournalEventBurst)->Iterations(50000)->Unit(benchmark::kMicrosecond);

// A year of a 40-bed ward, made once: the whole report (read, figures,
// terminal text, CSV and HTML).
void BM_ReportYear(benchmark::State &state)
{
    static QTemporaryDir dir;
    static const QString file = dir.filePath(QStringLiteral("year.sqlite"));
    static qint64 calls = 0;
    if (calls == 0) {
        report::GeneratorOptions options;
        options.endUtc = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
        const auto written = report::generateJournal(file, options);
        if (!written) {
            state.SkipWithError(qPrintable(written.error()));
            return;
        }
        calls = *written;
    }
    for (auto _ : state) {
        auto reader = JournalReader::open(file);
        if (!reader) {
            state.SkipWithError(qPrintable(reader.error()));
            return;
        }
        const auto r = report::buildReport(**reader, file, {});
        benchmark::DoNotOptimize(report::renderText(*r));
        benchmark::DoNotOptimize(report::renderCsv(*r));
        benchmark::DoNotOptimize(report::renderHtml(*r, QStringLiteral("now")));
    }
    state.counters["calls"] = double(calls);
}
BENCHMARK(BM_ReportYear)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
