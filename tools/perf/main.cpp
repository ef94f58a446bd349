// kalvora-perf: the end-to-end performance harness (see docs/PERFORMANCE.md).
//
//   kalvora-perf latency --beds N --rate R --seconds S [--listener plain] [--burst]
//                        [--pictures DIR]
//   kalvora-perf frames --pictures DIR --gif-delays D0,D1,... --beds N --seconds S
//                       [--design console|movies]
//   kalvora-perf startup --beds N --runs K [--design console|movies]
//   kalvora-perf movies --data DIR [--calls M]       the straightforward design, shown until killed
//   kalvora-perf make-ward --dir DIR --beds N [--pictures DIR] [--kinds K] [--animated]
//                          [--red-sec S] [--max-sec S]
//   kalvora-perf sample --pid P --seconds S --name NAME [--xpid X]
//   kalvora-perf send --port P --rate R --beds N --seconds S      (the latency run's sender)
//   kalvora-perf calls --port P --count C [--rate R]               one call to each of C beds
//
// Everything that opens a socket or a window refuses to run outside a private
// network namespace: the console broadcasts its ping.

#include "Common.h"
#include "Movies.h"

#include <QApplication>
#include <QCoreApplication>
#include <QNetworkInterface>

#include <cstdio>

namespace kalvora::perf {
int runLatency(int argc, char **argv, const Options &o);
int runStartup(int argc, char **argv, const Options &o);
int runStartupChild(int argc, char **argv, const Options &o);
int runFrames(int argc, char **argv, const Options &o);
int runSend(const Options &o);
int runCalls(const Options &o);
int runSample(const Options &o);
} // namespace kalvora::perf

using namespace kalvora::perf;

namespace {

bool inPrivateNetwork()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (!(iface.flags() & QNetworkInterface::IsLoopBack))
            return false;
    }
    return true;
}

int usage()
{
    std::fprintf(
        stderr,
        "usage: kalvora-perf latency|frames|startup|movies|make-ward|sample|send|calls [options]\n"
        "(see the comment at the top of tools/perf/main.cpp)\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    const QString mode = QString::fromLocal8Bit(argv[1]);
    QStringList args;
    for (int i = 2; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    const Options o(args);

    if (mode == u"sample")
        return runSample(o);
    if (!inPrivateNetwork()) {
        std::fprintf(stderr,
                     "kalvora-perf: run me only inside a private network namespace "
                     "(scripts/perf.sh makes one)\n");
        return 3;
    }
    if (mode == u"latency")
        return runLatency(argc, argv, o);
    if (mode == u"startup")
        return runStartup(argc, argv, o);
    if (mode == u"frames")
        return runFrames(argc, argv, o);
    if (mode == u"startup-child")
        return runStartupChild(argc, argv, o);
    if (mode == u"send")
        return runSend(o);
    if (mode == u"calls")
        return runCalls(o);
    if (mode == u"make-ward") {
        QCoreApplication app(argc, argv);
        WardOptions w;
        w.beds = int(o.number(QStringLiteral("beds"), 1000));
        w.animatedIdle = o.flag(QStringLiteral("animated"));
        w.pictures = o.text(QStringLiteral("pictures"));
        w.kinds = int(o.number(QStringLiteral("kinds"), 20));
        w.redSec = qint32(o.number(QStringLiteral("red-sec"), 20));
        w.maxSec = qint32(o.number(QStringLiteral("max-sec"), 60));
        const WardFiles files = makeWard(o.text(QStringLiteral("dir")), w);
        std::printf("%u\n", files.consolePort);
        return 0;
    }
    if (mode == u"movies") {
        QApplication app(argc, argv);
        MoviesWindow window(o.text(QStringLiteral("data")),
                            int(o.number(QStringLiteral("calls"), 0)));
        window.show();
        return app.exec();
    }
    return usage();
}
