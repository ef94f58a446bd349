#include "Runner.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QTextStream>
#include <QTime>

#include <cmath>
#include <csignal>
#include <functional>

namespace kalvora::callsim {

namespace {

void printError(const QString &text)
{
    QTextStream(stderr) << QStringLiteral("kalvora-callsim: ") << text << Qt::endl;
}

QString secondsText(double seconds)
{
    return QString::number(seconds, 'f', 3) + QStringLiteral(" s");
}

volatile std::sig_atomic_t g_stopSignal = 0;

void onStopSignal(int signal)
{
    g_stopSignal = signal;
}

// Calls stop() once SIGINT or SIGTERM arrived (polled, as little may be done in a handler).
void watchStopSignals(QObject *context, std::function<void()> stop)
{
    g_stopSignal = 0;
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    auto *timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, context, [timer, stop] {
        if (!g_stopSignal)
            return;
        timer->stop();
        logLine(g_stopSignal == SIGINT ? QStringLiteral("interrupted")
                                       : QStringLiteral("terminated"));
        stop();
    });
    timer->start(100);
}

// Ends the event loop after the --duration, if one was given.
void limitDuration(QObject *context, double seconds, std::function<void()> stop)
{
    if (seconds <= 0)
        return;
    QTimer::singleShot(std::llround(seconds * 1000), Qt::PreciseTimer, context, [stop] {
        logLine(QStringLiteral("duration over"));
        stop();
    });
}

int runSend(const Options &options)
{
    QUdpSocket socket;
    QString error;
    if (sendEvent(socket, options.event, options.to, options.consolePort, &error))
        return 0;
    printError(error);
    return 1;
}

void logServing(const PingResponder &responder, const Options &options)
{
    logLine(QStringLiteral("answering \"%1\" on port %2 with \"%3\" to the console port %4")
                .arg(options.pingText, QString::number(responder.port()), options.replyText,
                     QString::number(options.consolePort)));
}

int runServe(const Options &options)
{
    PingResponder responder(options);
    QString error;
    if (!responder.listen(&error)) {
        printError(error);
        return 1;
    }
    logServing(responder, options);
    QObject context;
    watchStopSignals(&context, &QCoreApplication::quit);
    limitDuration(&context, options.duration, &QCoreApplication::quit);
    QCoreApplication::exec();
    logLine(QStringLiteral("stopped; %1 pings answered").arg(responder.answered()));
    return 0;
}

int runPlay(const Options &options)
{
    QString error;
    const std::optional<QList<ScenarioStep>> steps = loadScenario(options.scenarioFile, &error);
    if (!steps) {
        printError(error);
        return 2;
    }
    if (options.loop && totalDelayMs(*steps) == 0) {
        printError(QStringLiteral("%1: all delays are 0, so --loop would flood the console")
                       .arg(options.scenarioFile));
        return 2;
    }
    PingResponder responder(options);
    QUdpSocket ownSocket;
    QUdpSocket *socket = &ownSocket;
    if (options.serve) {
        if (!responder.listen(&error)) {
            printError(error + QStringLiteral(" (--no-serve plays without answering pings)"));
            return 1;
        }
        logServing(responder, options);
        socket = &responder.socket();
    }
    logLine(QStringLiteral("playing %1 (%2 events, %3 s) to %4%5")
                .arg(options.scenarioFile, QString::number(steps->size()),
                     QString::number(double(totalDelayMs(*steps)) / 1000),
                     endpointText(options.to, options.consolePort),
                     options.loop ? QStringLiteral(", looping") : QString()));
    ScenarioPlayer player(*steps, *socket, options);
    QObject::connect(&player, &ScenarioPlayer::finished, &QCoreApplication::quit);
    QObject context;
    watchStopSignals(&context, &QCoreApplication::quit);
    limitDuration(&context, options.duration, &QCoreApplication::quit);
    player.start();
    QCoreApplication::exec();
    logLine(QStringLiteral("stopped"));
    return player.sendErrors() > 0 ? 1 : 0;
}

int runLoad(const Options &options)
{
    LoadPlan plan;
    plan.rate = options.rate;
    plan.count = std::llround(options.rate * options.duration);
    plan.codes = options.codes;
    plan.mix = options.mix;
    LoadRunner runner(plan, options.duration, options.to, options.consolePort);
    QObject::connect(&runner, &LoadRunner::finished, &QCoreApplication::quit);
    QObject context;
    watchStopSignals(&context, [&runner] { runner.stop(); });
    logLine(QStringLiteral("load: %1 events at %2/s over %3 codes to %4")
                .arg(plan.count)
                .arg(plan.rate)
                .arg(plan.codes.size())
                .arg(endpointText(options.to, options.consolePort)));
    runner.start();
    QCoreApplication::exec();
    return runner.sendErrors() > 0 ? 1 : 0;
}

} // namespace

void logLine(const QString &text)
{
    static QTextStream out(stdout);
    out << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << QLatin1Char(' ') << text
        << Qt::endl;
}

QString endpointText(const QHostAddress &address, quint16 port)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString() + QLatin1Char(':') + QString::number(port);
    return QLatin1Char('[') + address.toString() + QStringLiteral("]:") + QString::number(port);
}

bool sendEvent(QUdpSocket &socket, const Event &event, const QHostAddress &to, quint16 port,
               QString *error)
{
    const QByteArray datagram = eventDatagram(event);
    const QString target = endpointText(to, port);
    if (socket.writeDatagram(datagram, to, port) != datagram.size()) {
        *error = QStringLiteral("could not send %1 to %2: %3")
                     .arg(describeEvent(event), target, socket.errorString());
        logLine(*error);
        return false;
    }
    QString line = QStringLiteral("sent ") + describeEvent(event) + QStringLiteral(" to ") + target;
    if (datagram.size() > kMaxDatagramSize)
        line += QStringLiteral(" (over %1 bytes: the console ignores it)").arg(kMaxDatagramSize);
    logLine(line);
    return true;
}

PingResponder::PingResponder(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &PingResponder::readPending);
}

bool PingResponder::listen(QString *error)
{
    // Not shared: a second simulator on the same port must fail rather than steal pings.
    if (m_socket.bind(QHostAddress::Any, m_options.serverPort, QAbstractSocket::DontShareAddress))
        return true;
    *error = QStringLiteral("cannot listen on port %1: %2")
                 .arg(m_options.serverPort)
                 .arg(m_socket.errorString());
    return false;
}

void PingResponder::readPending()
{
    const QByteArray ping = m_options.pingText.toUtf8();
    const QByteArray reply = m_options.replyText.toUtf8();
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram();
        const QHostAddress from = datagram.senderAddress();
        const QString source = endpointText(from, quint16(datagram.senderPort()));
        if (datagram.data() != ping) {
            logLine(QStringLiteral("ignored %1 bytes from %2, not the ping: \"%3\"")
                        .arg(datagram.data().size())
                        .arg(source, printable(QString::fromUtf8(datagram.data()))));
            continue;
        }
        const QString console = endpointText(from, m_options.consolePort);
        if (m_socket.writeDatagram(reply, from, m_options.consolePort) != reply.size()) {
            logLine(QStringLiteral("ping from %1 -> reply to %2 failed: %3")
                        .arg(source, console, m_socket.errorString()));
            continue;
        }
        ++m_answered;
        logLine(QStringLiteral("ping from %1 -> reply sent to %2").arg(source, console));
    }
}

ScenarioPlayer::ScenarioPlayer(QList<ScenarioStep> steps, QUdpSocket &socket,
                               const Options &options, QObject *parent)
    : QObject(parent)
    , m_steps(std::move(steps))
    , m_socket(socket)
    , m_to(options.to)
    , m_port(options.consolePort)
    , m_loop(options.loop)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ScenarioPlayer::fire);
}

void ScenarioPlayer::start()
{
    m_clock.start();
    m_dueMs = 0;
    m_next = 0;
    scheduleNext();
}

void ScenarioPlayer::scheduleNext()
{
    m_dueMs += m_steps.at(m_next).delayMs;
    m_timer.start(int(qMax<qint64>(0, m_dueMs - m_clock.elapsed())));
}

void ScenarioPlayer::fire()
{
    QString error;
    if (!sendEvent(m_socket, m_steps.at(m_next).event, m_to, m_port, &error))
        ++m_errors;
    if (++m_next < m_steps.size()) {
        scheduleNext();
    } else if (m_loop) {
        m_next = 0;
        logLine(QStringLiteral("scenario over, starting again"));
        scheduleNext();
    } else {
        logLine(QStringLiteral("scenario over"));
        emit finished();
    }
}

LoadRunner::LoadRunner(LoadPlan plan, double durationSeconds, const QHostAddress &to, quint16 port,
                       QObject *parent)
    : QObject(parent)
    , m_plan(std::move(plan))
    , m_endNsecs(std::llround(durationSeconds * 1e9))
    , m_to(to)
    , m_port(port)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LoadRunner::tick);
}

void LoadRunner::start()
{
    m_clock.start();
    tick();
}

void LoadRunner::tick()
{
    const qint64 now = m_clock.nsecsElapsed();
    while (m_next < m_plan.count && m_plan.dueNsecs(m_next) <= now) {
        const Event event = m_plan.eventAt(m_next++);
        const QByteArray datagram = eventDatagram(event);
        if (m_socket.writeDatagram(datagram, m_to, m_port) == datagram.size()) {
            ++m_sent;
            ++m_byKind[event.kind];
        } else if (m_errors++ == 0) {
            logLine(QStringLiteral("send error: %1 (further errors are only counted)")
                        .arg(m_socket.errorString()));
        }
    }
    if (now >= m_nextReportNsecs) {
        logLine(QStringLiteral("load: %1 of %2 events sent").arg(m_sent).arg(m_plan.count));
        m_nextReportNsecs += 1000000000;
    }
    const qint64 wake = m_next < m_plan.count ? m_plan.dueNsecs(m_next) : m_endNsecs;
    if (m_next >= m_plan.count && now >= m_endNsecs) {
        stop();
        return;
    }
    // Round up: waking early would only find nothing due yet.
    m_timer.start(int((qMin(wake, m_nextReportNsecs) - now + 999999) / 1000000));
}

void LoadRunner::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_timer.stop();
    const double seconds = double(m_clock.nsecsElapsed()) / 1e9;
    QStringList kinds;
    for (const EventKind kind : m_plan.mix) {
        const QString part = kindName(kind) + QLatin1Char(' ') + QString::number(m_byKind[kind]);
        if (!kinds.contains(part))
            kinds << part;
    }
    logLine(QStringLiteral("load %1: sent %2 of %3 events in %4, %5/s (target %6/s); %7; "
                           "send errors %8")
                .arg(m_next < m_plan.count ? QStringLiteral("stopped") : QStringLiteral("done"))
                .arg(m_sent)
                .arg(m_plan.count)
                .arg(secondsText(seconds))
                .arg(QString::number(seconds > 0 ? double(m_sent) / seconds : 0, 'f', 1))
                .arg(m_plan.rate)
                .arg(kinds.join(QStringLiteral(", ")))
                .arg(m_errors));
    emit finished();
}

int run(const Options &options)
{
    switch (options.command) {
    case Command::Send:
        return runSend(options);
    case Command::Serve:
        return runServe(options);
    case Command::Play:
        return runPlay(options);
    case Command::Load:
        return runLoad(options);
    }
    return 2;
}

} // namespace kalvora::callsim
