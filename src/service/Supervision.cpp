#include "Supervision.h"

#include <cstring>
#include <systemd/sd-daemon.h>

namespace kalvora {

Q_LOGGING_CATEGORY(lcService, "kalvora.service", QtInfoMsg)

namespace {

// A status is one line: a line break would end the assignment early.
QByteArray statusLine(const QString &status)
{
    QByteArray line = status.simplified().toUtf8();
    return "STATUS=" + line;
}

} // namespace

Supervision readSupervision()
{
    Supervision s;
    s.notify = !qEnvironmentVariableIsEmpty("NOTIFY_SOCKET");
    uint64_t usec = 0;
    const int watchdog = sd_watchdog_enabled(0, &usec);
    if (watchdog < 0 && s.notify)
        s.problem =
            QStringLiteral("WATCHDOG_USEC=%1 WATCHDOG_PID=%2: %3")
                .arg(qEnvironmentVariable("WATCHDOG_USEC"), qEnvironmentVariable("WATCHDOG_PID"),
                     QString::fromLocal8Bit(std::strerror(-watchdog)));
    else if (watchdog > 0 && s.notify)
        s.watchdogTimeout = std::chrono::microseconds(usec);
    return s;
}

std::chrono::milliseconds watchdogFeedInterval(std::chrono::microseconds timeout)
{
    using namespace std::chrono;
    if (timeout <= microseconds::zero())
        return milliseconds::zero();
    return std::max(duration_cast<milliseconds>(timeout / 2), milliseconds(1));
}

ServiceNotifier::ServiceNotifier(Supervision supervision, QObject *parent)
    : QObject(parent)
    , m_supervision(std::move(supervision))
{
    if (!m_supervision.problem.isEmpty())
        qCWarning(lcService).noquote()
            << "The watchdog asked for cannot be fed:" << m_supervision.problem;
    if (!m_supervision.watchdog())
        return;
    m_feed.setInterval(watchdogFeedInterval(m_supervision.watchdogTimeout));
    connect(&m_feed, &QTimer::timeout, this, &ServiceNotifier::feed);
    m_feed.start();
    qCInfo(lcService).noquote() << QStringLiteral(
                                       "Supervised: the watchdog waits %1 ms, fed every %2 ms")
                                       .arg(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                m_supervision.watchdogTimeout)
                                                .count())
                                       .arg(m_feed.intervalAsDuration().count());
}

void ServiceNotifier::ready(const QString &status)
{
    if (m_ready) {
        setStatus(status);
        return;
    }
    m_ready = true;
    send("READY=1\n" + statusLine(status));
}

void ServiceNotifier::setStatus(const QString &status)
{
    send(statusLine(status));
}

void ServiceNotifier::stopping()
{
    m_feed.stop();
    send("STOPPING=1");
}

void ServiceNotifier::feed()
{
    qCDebug(lcService) << "Watchdog fed";
    send("WATCHDOG=1");
}

void ServiceNotifier::send(const QByteArray &assignments)
{
    if (!m_supervision.notify)
        return;
    const int sent = sd_notify(0, assignments.constData());
    if (sent < 0 && !m_failureLogged) {
        // Once: the watchdog would repeat it twice per timeout.
        m_failureLogged = true;
        qCWarning(lcService).noquote()
            << QStringLiteral("The service manager cannot be told %1 at %2: %3")
                   .arg(QString::fromUtf8(assignments.split('\n').first()),
                        qEnvironmentVariable("NOTIFY_SOCKET"),
                        QString::fromLocal8Bit(std::strerror(-sent)));
    }
}

} // namespace kalvora
