// Micro-benchmarks of the console's hot paths, over the real code: event
// dispatch, the one-second tick, the bed file and the settings file, at ward
// sizes from 10 to 10,000 beds. The console is built on a temporary copy of
// the demo pictures; it is never shown and its timers never run, so nothing
// is painted and nothing is sent. Run it inside a private network namespace
// all the same (it opens sockets): scripts/bench.sh does.

#include "app/TkrdoMF.h"
#include "plan/BedFile.h"
#include "plan/BedLine.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <benchmark/benchmark.h>

using namespace kalvora;

namespace {

QString code(int i)
{
    return QString::number(1000 + i);
}

// A data folder with the demo pictures and a bed file of n beds on a grid.
struct Ward {
    QTemporaryDir dir;
    std::unique_ptr<TkrdoMF> console;

    explicit Ward(int beds, const QByteArray &logic = "redSec=20\nmaxSec=60\n")
    {
        const QString data = dir.path() + QLatin1String("/data");
        QDir().mkpath(data);
        QDirIterator it(QStringLiteral(KALVORA_DEMO_DATA), QDir::Files);
        while (it.hasNext()) {
            it.next();
            if (it.fileName() != u"tables.txt")
                QFile::copy(it.filePath(), data + u'/' + it.fileName());
        }
        QFile tables(data + QLatin1String("/tables.txt"));
        tables.open(QIODevice::WriteOnly);
        for (int i = 0; i < beds; ++i) {
            const QString line = code(i) + u';' + QString::number(20 + (i % 100) * 10) + u';'
                + QString::number(20 + (i / 100) * 7) + u';' + QString::number(i % 20)
                + QLatin1String(";Палата ") + QString::number(i / 3) + QLatin1String(", койка ")
                + QString::number(i % 3 + 1) + QLatin1String(";C");
            tables.write(line.toUtf8() + "\r\n");
        }
        tables.close();
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        QFile ini(dir.path() + QLatin1String("/kalvora.ini"));
        ini.open(QIODevice::WriteOnly);
        ini.write("[Server]\nFromServerPort=" + QByteArray::number(probe.localPort())
                  + "\nToServerPing=\n[Logic]\n" + logic);
        ini.close();
        probe.close();
        console = std::make_unique<TkrdoMF>(
            TkrdoMF::Files { dir.path() + QLatin1String("/kalvora.ini"), data });
        console->FormCreate();
        if (!console->isinit)
            qFatal("the benchmark console did not start");
        console->TimerPlus->stop();
        console->TimerToServer->stop();
        console->TimerServerSearch->stop();
    }
};

// Calls and cancels for up to 100 beds spread over the ward, so that a ward
// of 10,000 beds spreads its lookups over the index rather than hitting one
// hot entry.
struct Events {
    QStringList calls;
    QStringList cancels;
};

Events spreadEvents(qint64 beds)
{
    Events events;
    const qint64 k = std::min<qint64>(beds, 100);
    for (qint64 i = 0; i < k; ++i) {
        const int bed = int(i * beds / k);
        events.calls.append(u'#' + code(bed) + QLatin1String(";8;Nurse;Bed"));
        events.cancels.append(u'#' + code(bed) + QLatin1String(";2;;Bed"));
    }
    return events;
}

void dispatch(TkrdoMF &w, const QStringList &events)
{
    for (const QString &event : events)
        w.AddSinc(event);
}

void BM_DispatchCall(benchmark::State &state)
{
    Ward ward(int(state.range(0)));
    TkrdoMF &w = *ward.console;
    const Events events = spreadEvents(state.range(0));
    for (auto _ : state) {
        dispatch(w, events.calls);
        state.PauseTiming();
        dispatch(w, events.cancels);
        w.TimerPlusTimer(); // the sweep drops the ended calls
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * events.calls.size());
}

void BM_DispatchRepeatedCall(benchmark::State &state)
{
    Ward ward(int(state.range(0)));
    TkrdoMF &w = *ward.console;
    const Events events = spreadEvents(state.range(0));
    dispatch(w, events.calls);
    for (auto _ : state)
        dispatch(w, events.calls);
    state.SetItemsProcessed(state.iterations() * events.calls.size());
}

void BM_DispatchCancel(benchmark::State &state)
{
    Ward ward(int(state.range(0)));
    TkrdoMF &w = *ward.console;
    const Events events = spreadEvents(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        w.TimerPlusTimer();
        dispatch(w, events.calls);
        state.ResumeTiming();
        dispatch(w, events.cancels);
    }
    state.SetItemsProcessed(state.iterations() * events.calls.size());
}

void BM_Tick(benchmark::State &state)
{
    const int calls = int(state.range(0));
    // Calls that neither turn overdue nor end while the benchmark runs.
    Ward ward(std::max(calls, 1000), "redSec=2000000000\nmaxSec=2000000000\n");
    TkrdoMF &w = *ward.console;
    for (int i = 0; i < calls; ++i)
        w.AddSinc(u'#' + code(i) + QLatin1String(";8;Nurse;Bed"));
    w.maxn = 41; // a 1050-pixel window
    for (auto _ : state)
        w.TimerPlusTimer();
    state.SetItemsProcessed(state.iterations());
}

void BM_LoadBedFile(benchmark::State &state)
{
    Ward ward(int(state.range(0)));
    for (auto _ : state)
        ward.console->LoadTableFile();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SaveBedFile(benchmark::State &state)
{
    Ward ward(int(state.range(0)));
    for (auto _ : state)
        ward.console->SaveTablesFile();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ParseBedFile(benchmark::State &state)
{
    Ward ward(int(state.range(0)));
    const BedFile file { ward.console->files().dataDir };
    for (auto _ : state) {
        const auto lines = file.loadLines();
        for (const QString &line : lines.value())
            benchmark::DoNotOptimize(parseBedLine(line));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ReadSettings(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QLatin1String("/kalvora.ini");
    writeSettingComments(path);
    writeSettingDefaults(path);
    for (auto _ : state)
        benchmark::DoNotOptimize(readSettings(path));
}

// Bed lookup through the index against the straightforward linear search it
// replaced (case-insensitive compare, first match in list order).
void BM_LookupIndexed(benchmark::State &state)
{
    Ward ward(int(state.range(0)));
    const QString last = code(int(state.range(0)) - 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(ward.console->sl.find(last));
}

void BM_LookupLinear(benchmark::State &state)
{
    Ward ward(int(state.range(0)));
    const QString last = code(int(state.range(0)) - 1);
    const auto &sl = ward.console->sl;
    for (auto _ : state) {
        Ttable *found = nullptr;
        for (const auto &item : sl) {
            if (item.key.compare(last, Qt::CaseInsensitive) == 0) {
                found = item.object.get();
                break;
            }
        }
        benchmark::DoNotOptimize(found);
    }
}

} // namespace

BENCHMARK(BM_DispatchCall)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DispatchRepeatedCall)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DispatchCancel)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadBedFile)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveBedFile)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseBedFile)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSettings)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LookupIndexed)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000);
BENCHMARK(BM_LookupLinear)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("KALVORA_NONINTERACTIVE", "1");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
