// Start-up: from the start of a new process to the end of the window's first
// frame, and the resident memory then. The parent starts the child process
// and notes the time just before; the child builds the console as main()
// does, shows it and reports when its first frame has been painted.

#include "Common.h"
#include "Movies.h"
#include "app/ConsoleApplication.h"
#include "app/SingleInstance.h"
#include "app/TkrdoMF.h"
#include "editing/FormTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace kalvora::perf {

namespace {

// Reports the end of the first frame: the first paint of the window, then
// (once everything that frame needed is painted and flushed) the next pass of
// the event loop.
class FirstFrame : public QObject {
protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(0, this, [] {
                const qint64 at = monotonicUs();
                printResult(
                    QStringLiteral("child"),
                    { { QStringLiteral("first_frame_us"), QString::number(at) },
                      { QStringLiteral("rss_kb"), QString::number(residentKb("VmRSS:")) },
                      { QStringLiteral("hwm_kb"), QString::number(residentKb("VmHWM:")) } });
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool m_seen = false;
};

} // namespace

// startup-child --settings FILE --data DIR [--design console|movies]
int runStartupChild(int argc, char **argv, const Options &o)
{
    ConsoleApplication app(argc, argv);
    // As main(): one console per user (here, per lock file of this run).
    SingleInstance guard(o.text(QStringLiteral("lock")));
    if (!guard.acquire(10))
        qFatal("the lock is held");
    FirstFrame first;
    if (o.text(QStringLiteral("design")) == u"movies") {
        MoviesWindow window(o.text(QStringLiteral("data")), 0);
        window.installEventFilter(&first);
        window.show();
        return app.exec();
    }
    TkrdoMF window({ o.text(QStringLiteral("settings")), o.text(QStringLiteral("data")) });
    window.FormCreate();
    if (!window.isinit)
        qFatal("the console did not start");
    TFormTable form(&window.iTable);
    window.setFormTable(&form);
    window.installEventFilter(&first);
    window.show();
    const int status = app.exec();
    window.isinit = false; // nothing to save
    return status;
}

// startup --beds N --runs K [--design console|movies]
int runStartup(int argc, char **argv, const Options &o)
{
    QCoreApplication app(argc, argv);
    const int beds = int(o.number(QStringLiteral("beds"), 1000));
    const int runs = int(o.number(QStringLiteral("runs"), 3));
    const QString design = o.text(QStringLiteral("design"), QStringLiteral("console"));
    QTemporaryDir dir;
    WardOptions wardOptions;
    wardOptions.beds = beds;
    const WardFiles ward = makeWard(dir.path(), wardOptions);

    std::vector<double> times;
    std::vector<double> rss;
    for (int run = 0; run < runs; ++run) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList args = { QStringLiteral("startup-child"),
                                   QStringLiteral("--settings"),
                                   ward.settingsFile,
                                   QStringLiteral("--data"),
                                   ward.dataDir,
                                   QStringLiteral("--design"),
                                   design,
                                   QStringLiteral("--lock"),
                                   dir.path() + QLatin1String("/lock") };
        const qint64 startUs = monotonicUs();
        child.start(QCoreApplication::applicationFilePath(), args);
        if (!child.waitForFinished(120000) || child.exitCode() != 0) {
            std::fprintf(stderr, "startup: the child failed\n");
            return 1;
        }
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            if (!line.startsWith("RESULT child "))
                continue;
            for (const QByteArray &part : line.split(' ')) {
                if (part.startsWith("first_frame_us="))
                    times.push_back(double(part.mid(15).toLongLong() - startUs) / 1000.0);
                else if (part.startsWith("rss_kb="))
                    rss.push_back(double(part.mid(7).toLongLong()) / 1024.0);
            }
        }
    }
    if (times.empty())
        return 1;
    std::sort(times.begin(), times.end());
    std::sort(rss.begin(), rss.end());
    printResult(QStringLiteral("startup"),
                { { QStringLiteral("design"), design },
                  { QStringLiteral("beds"), QString::number(beds) },
                  { QStringLiteral("runs"), QString::number(times.size()) },
                  { QStringLiteral("median_ms"), fixed(percentile(times, 50), 0) },
                  { QStringLiteral("min_ms"), fixed(times.front(), 0) },
                  { QStringLiteral("max_ms"), fixed(times.back(), 0) },
                  { QStringLiteral("rss_mb"), fixed(percentile(rss, 50), 1) } });
    return 0;
}

} // namespace kalvora::perf
