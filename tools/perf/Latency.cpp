// Datagram to painted picture: a real console, built as main() builds it and
// shown on a real window system, takes events from a sender process. A paint
// of a bed's icon after its picture changed is matched with the event that
// changed it through the send time the event carried.

#include "Common.h"
#include "app/ConsoleApplication.h"
#include "app/TkrdoMF.h"
#include "editing/FormTable.h"
#include "link/UdpListener.h"
#include "ui/PlanLayer.h"

#include <QEvent>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <unordered_map>

namespace kalvora::perf {

namespace {

struct Sample {
    qint64 sentUs;
    qint64 handledUs;
    qint64 paintedUs;
    bool call;
};

// Watches every bed icon for paints and matches them with events.
class PaintProbe {
public:
    explicit PaintProbe(TkrdoMF &w)
        : m_w(w)
    {
        m_handled.reserve(1 << 20);
        for (const auto &item : w.sl) {
            Ttable *bed = item.object.get();
            m_beds.insert(bed->iT, Bed { bed, bed->code.toLatin1(), 0 });
        }
        w.planLayer()->onPartPainted = [this](const MarkerPart &part) { painted(part); };
    }

    // Called for every datagram just before the console handles it.
    void noteDatagram(const QByteArray &d)
    {
        const qint64 now = monotonicUs();
        // "#code;type;sent;name"
        const qsizetype a = d.indexOf(';');
        if (d.size() < 2 || a < 0 || a + 3 >= d.size())
            return;
        const qsizetype b = d.indexOf(';', a + 3);
        const qint64 sent = d.mid(a + 3, b < 0 ? -1 : b - a - 3).toLongLong();
        m_handled.emplace(sent, now);
        if (d[a + 1] == '2')
            m_cancelSent.insert(d.mid(1, a - 1), sent);
    }

    const std::vector<Sample> &samples() const { return m_samples; }

private:
    void painted(const MarkerPart &part)
    {
        const auto it = m_beds.find(&part);
        if (it == m_beds.end())
            return;
        const qint64 now = monotonicUs();
        Bed &bed = *it;
        qint64 sent = 0;
        if (bed.table->isOn) {
            if (const tincoming *entry = m_w.sinc.find(bed.table->code))
                sent = entry->responsible().toLongLong();
        } else {
            sent = m_cancelSent.value(bed.code, 0);
        }
        if (sent == 0 || sent == bed.measured)
            return;
        bed.measured = sent;
        const auto handled = m_handled.find(sent);
        m_samples.push_back(
            { sent, handled == m_handled.end() ? 0 : handled->second, now, bed.table->isOn });
    }

    struct Bed {
        Ttable *table;
        QByteArray code;
        qint64 measured;
    };
    TkrdoMF &m_w;
    QHash<const MarkerPart *, Bed> m_beds;
    QHash<QByteArray, qint64> m_cancelSent;
    std::unordered_map<qint64, qint64> m_handled;
    std::vector<Sample> m_samples;
};

class FirstPaint : public QObject {
public:
    std::function<void()> onFirst;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && onFirst) {
            auto first = std::move(onFirst);
            onFirst = nullptr;
            QTimer::singleShot(0, this, first);
        }
        return false;
    }
};

QHash<QString, QString> resultFields(const QByteArray &output, const QByteArray &name)
{
    QHash<QString, QString> fields;
    const QByteArray prefix = "RESULT " + name + ' ';
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith(prefix))
            continue;
        for (const QByteArray &part : line.split(' ')) {
            const qsizetype eq = part.indexOf('=');
            if (eq > 0)
                fields.insert(QString::fromLatin1(part.left(eq)),
                              QString::fromLatin1(part.mid(eq + 1)));
        }
    }
    return fields;
}

} // namespace

// latency --beds N --rate R --seconds S [--listener plain] [--burst] [--pictures DIR]
// With --burst the sender makes the same events but sends them back to back.
int runLatency(int argc, char **argv, const Options &o)
{
    ConsoleApplication app(argc, argv);
    const int beds = int(o.number(QStringLiteral("beds"), 1000));
    const double rate = o.real(QStringLiteral("rate"), 100);
    const double seconds = o.real(QStringLiteral("seconds"), 10);
    const bool plain = o.text(QStringLiteral("listener")) == u"plain";
    const bool burst = o.flag(QStringLiteral("burst"));

    QTemporaryDir dir;
    WardOptions wardOptions;
    wardOptions.beds = beds;
    wardOptions.pictures = o.text(QStringLiteral("pictures"));
    const WardFiles ward = makeWard(dir.path(), wardOptions);

    TkrdoMF w({ ward.settingsFile, ward.dataDir });
    w.FormCreate();
    if (!w.isinit)
        qFatal("the console did not start");
    TFormTable form(&w.iTable);
    w.setFormTable(&form);

    PaintProbe probe(w);
    quint64 plainReceived = 0;
    if (plain) {
        // The straightforward listener: one IPv4 socket with the system's
        // default receive buffer, each datagram handled as it is read.
        w.IdUDPServer1->deactivate();
        auto *socket = new QUdpSocket(&w);
        if (!socket->bind(QHostAddress::AnyIPv4, w.FromServerPort,
                          QAbstractSocket::DontShareAddress))
            qFatal("cannot bind the plain listener");
        QObject::connect(socket, &QUdpSocket::readyRead, &w, [&, socket] {
            while (socket->hasPendingDatagrams()) {
                const QByteArray data = socket->receiveDatagram().data();
                ++plainReceived;
                probe.noteDatagram(data);
                w.IdUDPServer1UDPRead(data);
            }
        });
    } else {
        auto handle = w.IdUDPServer1->onDatagram;
        w.IdUDPServer1->onDatagram = [&probe, handle](const QByteArray &data) {
            probe.noteDatagram(data);
            handle(data);
        };
    }
    const auto received = [&] { return plain ? plainReceived : w.IdUDPServer1->receivedCount(); };

    QProcess sender;
    sender.setProcessChannelMode(QProcess::SeparateChannels);
    sender.setReadChannel(QProcess::StandardOutput);
    QObject::connect(&sender, &QProcess::readyReadStandardError, &sender,
                     [&] { std::fputs(sender.readAllStandardError().constData(), stderr); });
    quint64 receivedBefore = 0;
    FirstPaint first;
    first.onFirst = [&] {
        // Let start-up settle (the first frames, the fit to the screen).
        QTimer::singleShot(1500, &w, [&] {
            receivedBefore = received();
            QStringList args = { QStringLiteral("send"),
                                 QStringLiteral("--port"),
                                 QString::number(w.FromServerPort),
                                 QStringLiteral("--rate"),
                                 QString::number(rate),
                                 QStringLiteral("--beds"),
                                 QString::number(beds),
                                 QStringLiteral("--seconds"),
                                 QString::number(seconds) };
            if (burst)
                args.append(QStringLiteral("--burst"));
            sender.start(QCoreApplication::applicationFilePath(), args);
        });
    };
    w.installEventFilter(&first);

    int status = 0;
    QObject::connect(&sender, &QProcess::finished, &w, [&] {
        // Whatever is still queued or unpainted gets a second and a half.
        QTimer::singleShot(1500, &w, [&] {
            const auto s = resultFields(sender.readAllStandardOutput(), "sender");
            const qint64 sent = s.value(QStringLiteral("sent")).toLongLong();
            const qint64 got = qint64(received() - receivedBefore);
            std::vector<double> total, queue, paint;
            qint64 calls = 0;
            for (const Sample &x : probe.samples()) {
                total.push_back(double(x.paintedUs - x.sentUs) / 1000.0);
                if (x.handledUs) {
                    queue.push_back(double(x.handledUs - x.sentUs) / 1000.0);
                    paint.push_back(double(x.paintedUs - x.handledUs) / 1000.0);
                }
                calls += x.call ? 1 : 0;
            }
            for (auto *v : { &total, &queue, &paint })
                std::sort(v->begin(), v->end());
            printResult(
                QStringLiteral("latency"),
                { { QStringLiteral("design"),
                    plain ? QStringLiteral("plain") : QStringLiteral("console") },
                  { QStringLiteral("beds"), QString::number(beds) },
                  { QStringLiteral("rate"), burst ? QStringLiteral("burst") : fixed(rate, 0) },
                  { QStringLiteral("achieved_rate"), s.value(QStringLiteral("rate")) },
                  { QStringLiteral("sent"), QString::number(sent) },
                  { QStringLiteral("send_errors"), s.value(QStringLiteral("errors")) },
                  { QStringLiteral("received"), QString::number(got) },
                  { QStringLiteral("lost"), QString::number(sent - got) },
                  { QStringLiteral("painted"), QString::number(total.size()) },
                  { QStringLiteral("painted_calls"), QString::number(calls) },
                  { QStringLiteral("p50_ms"), fixed(percentile(total, 50)) },
                  { QStringLiteral("p99_ms"), fixed(percentile(total, 99)) },
                  { QStringLiteral("max_ms"), fixed(total.empty() ? 0 : total.back()) },
                  { QStringLiteral("queue_p99_ms"), fixed(percentile(queue, 99)) },
                  { QStringLiteral("paint_p99_ms"), fixed(percentile(paint, 99)) },
                  { QStringLiteral("sender_max_late_ms"),
                    s.value(QStringLiteral("max_late_ms")) } });
            if (sender.exitCode() != 0 || sent == 0)
                status = 1;
            w.isinit = false; // nothing to save
            QCoreApplication::exit(status);
        });
    });

    w.show();
    app.exec();
    return status;
}

} // namespace kalvora::perf
