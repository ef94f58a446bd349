#pragma once

#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

namespace kalvora {

Q_DECLARE_LOGGING_CATEGORY(
    lcService) // "kalvora.service": the service manager that runs the console

// What the service manager that started the console (systemd, for the user
// unit kalvora.service) asks of it, as it says in the environment:
//   NOTIFY_SOCKET  where the console reports that it is ready, what it is
//                  doing, that it is stopping, and that it is still alive;
//   WATCHDOG_USEC  how long the manager waits for the next sign of life
//                  before it counts the console as hung; WATCHDOG_PID, when
//                  set, the process that is to give it (another one does not).
// A console started by hand finds none of them and reports nothing.
struct Supervision {
    bool notify = false;
    std::chrono::microseconds watchdogTimeout { 0 }; // 0: no watchdog
    // Why a watchdog that was asked for is not fed (WATCHDOG_USEC or
    // WATCHDOG_PID malformed); empty otherwise.
    QString problem;

    bool watchdog() const { return notify && watchdogTimeout.count() > 0; }
};

// Reads the environment of this process (libsystemd's sd_watchdog_enabled
// reads the watchdog's variables and compares WATCHDOG_PID with this process).
//   NOTIFY_SOCKET=/run/user/1000/systemd/notify WATCHDOG_USEC=10000000
//     => { notify, watchdogTimeout 10 s }
//   WATCHDOG_USEC=10000000 alone => { } (nobody to tell)
Supervision readSupervision();

// How often the watchdog is fed: twice per timeout, so that a late turn of the
// event loop is still in time; at least every millisecond.
//   10 s => 5000 ms    3 ms => 1 ms    0 => 0 ms (no watchdog)
std::chrono::milliseconds watchdogFeedInterval(std::chrono::microseconds timeout);

// Tells the service manager how the console is doing, and feeds its watchdog
// from a timer of its own on the thread it lives in: the GUI thread, whose
// event loop (or that of any box it shows) fires it. A window whose thread
// hangs stops feeding it, and the manager ends and restarts the console.
// Where the console was not started so, it sends nothing and runs no timer.
class ServiceNotifier final : public QObject {
public:
    explicit ServiceNotifier(Supervision supervision, QObject *parent = nullptr);
    ServiceNotifier(const ServiceNotifier &) = delete;
    ServiceNotifier &operator=(const ServiceNotifier &) = delete;

    const Supervision &supervision() const { return m_supervision; }
    bool feeding() const { return m_feed.isActive(); }
    std::chrono::milliseconds feedInterval() const { return m_feed.intervalAsDuration(); }

    // Start-up is over, as far as it gets: the manager counts the console as
    // started (once; later calls only change the status). The status is one
    // line for `systemctl --user status`.
    void ready(const QString &status);
    void setStatus(const QString &status);
    // The console is ending (a stop, the session's end, its window closed).
    void stopping();
    bool isReady() const { return m_ready; }

private:
    void send(const QByteArray &assignments);
    void feed();

    Supervision m_supervision;
    QTimer m_feed;
    bool m_ready = false;
    bool m_failureLogged = false;
};

} // namespace kalvora
