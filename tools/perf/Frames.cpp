// Frame timing: how long each frame of an animated bed picture stays on the
// screen. A real console (or the straightforward design: a QLabel and a QMovie
// per bed) shows beds whose idle pictures are two-frame GIFs of the delays
// given; every paint of a bed's picture is watched, and a frame's time on the
// screen runs from the paint that first showed it to the paint that first
// showed the next one.

#include "Common.h"
#include "app/ConsoleApplication.h"
#include "app/TkrdoMF.h"
#include "editing/FormTable.h"
#include "ui/Picture.h"
#include "ui/PlanLayer.h"

#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QMovie>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <map>
#include <unordered_map>

namespace kalvora::perf {

namespace {

// Frame changes seen on the screen, per picture: when each frame first showed.
// Pictures are grouped by their bed kind, whose GIF has the kind's delay.
class FrameLog {
public:
    explicit FrameLog(QList<int> gifDelays)
        : m_gifDelays(std::move(gifDelays))
    {
    }
    void shown(const void *picture, int kind, int frame)
    {
        Seen &s = m_seen[picture];
        if (s.frame == frame)
            return;
        const qint64 now = monotonicUs();
        if (s.frame >= 0 && s.since > 0 && m_measuring)
            m_durations[s.kind].push_back(double(now - s.since) / 1000.0);
        s = { frame, now, kind };
    }
    // Frames already on the screen when measuring starts are not counted.
    void startMeasuring()
    {
        m_measuring = true;
        for (auto &[picture, s] : m_seen)
            s.since = 0;
    }
    void print(const QString &design) const
    {
        for (const auto &[kind, all] : m_durations) {
            const int gifDelay = m_gifDelays.value(kind, -1);
            if (gifDelay < 0)
                continue;
            const int delay = frameDelayMs(gifDelay);
            std::vector<double> d = all;
            std::sort(d.begin(), d.end());
            double sum = 0;
            qint64 within = 0;
            for (double v : d) {
                sum += v;
                within += std::abs(v - delay) <= 10 ? 1 : 0;
            }
            printResult(
                QStringLiteral("frames"),
                { { QStringLiteral("design"), design },
                  { QStringLiteral("gif_delay"), QString::number(gifDelay) },
                  { QStringLiteral("delay_ms"), QString::number(delay) },
                  { QStringLiteral("frames"), QString::number(d.size()) },
                  { QStringLiteral("mean_ms"), fixed(d.empty() ? 0 : sum / double(d.size())) },
                  { QStringLiteral("p1_ms"), fixed(percentile(d, 1)) },
                  { QStringLiteral("p99_ms"), fixed(percentile(d, 99)) },
                  { QStringLiteral("min_ms"), fixed(d.empty() ? 0 : d.front()) },
                  { QStringLiteral("max_ms"), fixed(d.empty() ? 0 : d.back()) },
                  { QStringLiteral("within10_pct"),
                    fixed(d.empty() ? 0 : 100.0 * double(within) / double(d.size())) } });
        }
    }

private:
    struct Seen {
        int frame = -1;
        qint64 since = 0;
        int kind = 0;
    };
    QList<int> m_gifDelays; // of each kind, in hundredths
    std::unordered_map<const void *, Seen> m_seen;
    std::map<int, std::vector<double>> m_durations;
    bool m_measuring = false;
};

// The straightforward design's beds: a QLabel playing a QMovie each, its
// paints watched.
class MovieBeds : public QWidget {
public:
    MovieBeds(const QString &dataDir, FrameLog &log)
        : m_log(log)
    {
        QFile tables(dataDir + QLatin1String("/tables.txt"));
        tables.open(QIODevice::ReadOnly);
        for (const QByteArray &raw : tables.readAll().split('\n')) {
            const QStringList f = QString::fromUtf8(raw.trimmed()).split(u';');
            if (f.size() < 6)
                continue;
            auto *label = new QLabel(this);
            auto *movie =
                new QMovie(dataDir + QStringLiteral("/bed%1.gif").arg(f[3]), QByteArray(), label);
            label->setMovie(movie);
            movie->jumpToFrame(0);
            label->resize(movie->currentImage().size());
            label->move(f[1].toInt() - label->width() / 2, f[2].toInt() - label->height() / 2);
            label->installEventFilter(this);
            m_movies.insert(label, { movie, f[3].toInt() });
            movie->start();
        }
        resize(1080, 760);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            const auto it = m_movies.constFind(watched);
            if (it != m_movies.constEnd())
                m_log.shown(watched, it->kind, it->movie->currentFrameNumber());
        }
        return false;
    }

private:
    struct Movie {
        QMovie *movie;
        int kind;
    };
    FrameLog &m_log;
    QHash<QObject *, Movie> m_movies;
};

} // namespace

// frames --pictures DIR --gif-delays D0,D1,... --beds N --seconds S [--design console|movies]
// Bed i is of kind i % (number of delays); kind k's idle GIF has delay Dk.
int runFrames(int argc, char **argv, const Options &o)
{
    ConsoleApplication app(argc, argv);
    const double seconds = o.real(QStringLiteral("seconds"), 10);
    const QString design = o.text(QStringLiteral("design"), QStringLiteral("console"));
    QTemporaryDir dir;
    WardOptions wardOptions;
    wardOptions.beds = int(o.number(QStringLiteral("beds"), 1000));
    wardOptions.pictures = o.text(QStringLiteral("pictures"));
    QList<int> gifDelays;
    for (const QString &d : o.text(QStringLiteral("gif-delays")).split(u',', Qt::SkipEmptyParts))
        gifDelays.append(d.toInt());
    wardOptions.kinds = int(std::max<qsizetype>(1, gifDelays.size()));
    const WardFiles ward = makeWard(dir.path(), wardOptions);

    FrameLog log(gifDelays);
    std::unique_ptr<TkrdoMF> console;
    std::unique_ptr<TFormTable> form;
    std::unique_ptr<MovieBeds> movies;
    if (design == u"movies") {
        movies = std::make_unique<MovieBeds>(ward.dataDir, log);
        movies->show();
    } else {
        console = std::make_unique<TkrdoMF>(TkrdoMF::Files { ward.settingsFile, ward.dataDir });
        console->FormCreate();
        if (!console->isinit)
            qFatal("the console did not start");
        form = std::make_unique<TFormTable>(&console->iTable);
        console->setFormTable(form.get());
        QHash<const PictureData *, int> kinds;
        for (int k = 0; k < kKindCount; ++k)
            kinds.insert(console->iTable[size_t(k)].picture().get(), k);
        console->planLayer()->onPartPainted = [&log, kinds](const MarkerPart &part) {
            const auto *picture = dynamic_cast<const MarkerPicture *>(&part);
            if (!picture)
                return;
            const auto kind = kinds.constFind(picture->holder().picture().get());
            if (kind != kinds.constEnd())
                log.shown(picture, *kind, picture->currentFrame());
        };
        console->show();
    }
    // Start-up settles first (the first frames, the fit to the screen).
    QTimer::singleShot(2000, [&log] { log.startMeasuring(); });
    QTimer::singleShot(int(2000 + seconds * 1000), [&] {
        log.print(design);
        if (console)
            console->isinit = false; // nothing to save
        QCoreApplication::exit(0);
    });
    return app.exec();
}

} // namespace kalvora::perf
