// The sender: another process that plays the call server. Each event carries
// the time it was sent (CLOCK_MONOTONIC microseconds) in its responsible
// field, so that the console side can tell how long it took to be painted.

#include "Common.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kalvora::perf {

namespace {

enum class Kind : char { Call = '8', Cancel = '2' };

struct Event {
    double at; // seconds on the schedule
    int bed;
    Kind kind;
};

// Every bed runs the same cycle of period P, shifted by its phase: a call,
// k repeated calls, a cancel after P/2, then nothing for P/2. The quiet half
// is longer than the console's one-second tick, so the ended call has left
// the list before the bed is called again and every call and every cancel
// changes the bed's picture. k is the smallest number of repeats that keeps
// the quiet half at least `gap` seconds at the given rate.
std::vector<Event> schedule(int beds, double rate, qint64 count, double gap)
{
    const int repeats = std::max(0, int(std::ceil(2 * gap * rate / beds - 1e-9)) - 2);
    const double period = beds * (2.0 + repeats) / rate;
    const double horizon = double(count) / rate + period;
    std::vector<Event> events;
    events.reserve(size_t(count + beds * (repeats + 2) * 2));
    for (int b = 0; b < beds; ++b) {
        const double phase = b * period / beds;
        for (double start = phase; start < horizon; start += period) {
            events.push_back({ start, b, Kind::Call });
            for (int j = 1; j <= repeats; ++j)
                events.push_back({ start + j * (period / 2) / (repeats + 1), b, Kind::Call });
            events.push_back({ start + period / 2, b, Kind::Cancel });
        }
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const Event &a, const Event &b) { return a.at < b.at; });
    if (qint64(events.size()) > count)
        events.resize(size_t(count));
    std::fprintf(stderr, "sender: %d beds, %d repeats per call, period %.2f s, %zu events\n", beds,
                 repeats, period, events.size());
    return events;
}

// Sends the events evenly paced at `rate` per second (re-timed to one every
// 1/rate seconds, in schedule order), or back to back for a burst. Prints what
// it did.
int play(const std::vector<Event> &events, double rate, quint16 port, bool burst = false)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        std::perror("socket");
        return 1;
    }
    int size = 4 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    // The names, as the bed file has them, so the console's labels never change.
    QHash<int, QByteArray> tails;
    qint64 sent = 0, errors = 0, maxLateUs = 0;
    const qint64 startUs = monotonicUs() + (burst ? 0 : 20000);
    for (size_t i = 0; i < events.size(); ++i) {
        const qint64 dueUs = startUs + qint64(double(i) * 1e6 / rate);
        timespec due { time_t(dueUs / 1000000), long(dueUs % 1000000) * 1000 };
        while (!burst
               && ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) { }
        const Event &e = events[i];
        auto tail = tails.find(e.bed);
        if (tail == tails.end())
            tail = tails.insert(e.bed, QByteArray(";") + bedName(e.bed).toUtf8());
        const qint64 now = monotonicUs();
        if (!burst)
            maxLateUs = std::max(maxLateUs, now - dueUs);
        const QByteArray datagram = '#' + bedCode(e.bed).toLatin1() + ';' + char(e.kind) + ';'
            + QByteArray::number(now) + *tail;
        if (::sendto(fd, datagram.constData(), size_t(datagram.size()), 0,
                     reinterpret_cast<const sockaddr *>(&to), sizeof to)
            == datagram.size())
            ++sent;
        else
            ++errors;
    }
    const double seconds = double(monotonicUs() - startUs) / 1e6;
    ::close(fd);
    printResult(QStringLiteral("sender"),
                { { QStringLiteral("sent"), QString::number(sent) },
                  { QStringLiteral("errors"), QString::number(errors) },
                  { QStringLiteral("seconds"), fixed(seconds, 3) },
                  { QStringLiteral("rate"), fixed(double(sent) / std::max(seconds, 1e-9), 1) },
                  { QStringLiteral("max_late_ms"), fixed(double(maxLateUs) / 1000.0, 3) } });
    return errors == 0 ? 0 : 1;
}

} // namespace

// send --port P --rate R --beds N --seconds S [--gap 1.2] [--burst]
int runSend(const Options &o)
{
    const double rate = o.real(QStringLiteral("rate"), 100);
    const int beds = int(o.number(QStringLiteral("beds"), 1000));
    const qint64 count = qint64(rate * o.real(QStringLiteral("seconds"), 10));
    const auto events = schedule(beds, rate, count, o.real(QStringLiteral("gap"), 1.2));
    return play(events, rate, quint16(o.number(QStringLiteral("port"), 5567)),
                o.flag(QStringLiteral("burst")));
}

// calls --port P --count C [--rate R]: one call to each of beds 0 .. C-1, R a
// second (default 1000). Calls spread over a few seconds start their animations
// at as many different moments as calls arriving over a ward's day would.
int runCalls(const Options &o)
{
    std::vector<Event> events;
    for (int b = 0; b < int(o.number(QStringLiteral("count"), 200)); ++b)
        events.push_back({ 0, b, Kind::Call });
    return play(events, o.real(QStringLiteral("rate"), 1000),
                quint16(o.number(QStringLiteral("port"), 5567)));
}

} // namespace kalvora::perf
