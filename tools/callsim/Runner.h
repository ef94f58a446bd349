#pragma once

#include "Options.h"
#include "Scenario.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <map>

namespace kalvora::callsim {

// Prints one line on stdout after the time of day: "12:00:01.250 text".
void logLine(const QString &text);

// "127.0.0.1:5567" or "[::1]:5567"; IPv4-mapped IPv6 addresses print as IPv4.
QString endpointText(const QHostAddress &address, quint16 port);

// Sends one event and logs it; on failure returns false and says why in *error.
bool sendEvent(QUdpSocket &socket, const Event &event, const QHostAddress &to, quint16 port,
               QString *error);

// Answers every ping received on the server port with the presence reply, sent to the
// pinging console's address at the console port.
class PingResponder : public QObject {
    Q_OBJECT
public:
    explicit PingResponder(const Options &options, QObject *parent = nullptr);

    // Binds the server port on all addresses (port 0 picks a free one).
    bool listen(QString *error);
    quint16 port() const { return m_socket.localPort(); }
    QUdpSocket &socket() { return m_socket; }
    int answered() const { return m_answered; }

private:
    void readPending();

    Options m_options;
    QUdpSocket m_socket;
    int m_answered = 0;
};

// Plays scenario steps on time: each step is due its delay after the previous one was due,
// so slow sends do not add up.
class ScenarioPlayer : public QObject {
    Q_OBJECT
public:
    ScenarioPlayer(QList<ScenarioStep> steps, QUdpSocket &socket, const Options &options,
                   QObject *parent = nullptr);
    void start();
    int sendErrors() const { return m_errors; }

signals:
    void finished();

private:
    void fire();
    void scheduleNext();

    QList<ScenarioStep> m_steps;
    QUdpSocket &m_socket;
    QHostAddress m_to;
    quint16 m_port;
    bool m_loop;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_dueMs = 0;
    qsizetype m_next = 0;
    int m_errors = 0;
};

// Sends a LoadPlan on time with a precise timer that wakes when the next event is due and
// sends every event due by then.
class LoadRunner : public QObject {
    Q_OBJECT
public:
    LoadRunner(LoadPlan plan, double durationSeconds, const QHostAddress &to, quint16 port,
               QObject *parent = nullptr);
    void start();
    // Prints the summary and emits finished(); called when the time is over or on interrupt.
    void stop();
    qint64 sent() const { return m_sent; }
    qint64 sendErrors() const { return m_errors; }

signals:
    void finished();

private:
    void tick();

    LoadPlan m_plan;
    qint64 m_endNsecs;
    QHostAddress m_to;
    quint16 m_port;
    QUdpSocket m_socket;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_next = 0;
    qint64 m_sent = 0;
    qint64 m_errors = 0;
    qint64 m_nextReportNsecs = 1000000000;
    std::map<EventKind, qint64> m_byKind;
    bool m_stopped = false;
};

// Runs a parsed command line; needs a QCoreApplication. Returns the exit status.
int run(const Options &options);

} // namespace kalvora::callsim
