#pragma once

#include "JournalClock.h"
#include "JournalStore.h"
#include "JournalTypes.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QLockFile;

namespace kalvora::journal {

class Connection;

// How the writer works; the defaults are the console's, the tests shorten
// the waits.
struct WriterOptions {
    QString file; // the database
    qint32 keepDays = 0; // > 0: calls older than this are deleted at start-up
    int batchMs = 200; // records are collected this long before a transaction
    int retryMs = 10000; // after a failure, the next try
    int heartbeatMs = 30000; // the run's last sign of life is refreshed this often
    int busyTimeoutMs = 1000; // how long SQLite waits for another program's lock
    // Rows (calls and events) kept in memory while they cannot be written;
    // beyond, new calls and events are counted as lost, never kept.
    qsizetype maxBacklog = 100000;
    // Records waiting for the writer thread to take them; beyond, lost.
    qsizetype maxQueue = 100000;
};

// The times of one run of the console: its start on the wall clock, and
// from then on the monotonic clock. See JournalClock.
struct RunClock {
    std::shared_ptr<JournalClock> clock;
    UtcMs startUtc = 0;
    qint64 startMonotonic = 0;

    static RunClock start(std::shared_ptr<JournalClock> clock);
    UtcMs now() const { return startUtc + (clock->monotonicMs() - startMonotonic); }
};

// One record handed from the GUI thread to the writer.
struct Record {
    enum class Kind : quint8 {
        RunInfo,
        CallStarted,
        CallRestored,
        CallRepeated,
        CallOverdue,
        CallAcknowledged,
        CallEnded,
        Event,
        ConsoleClosed,
    };
    Kind kind = Kind::Event;
    quint8 code = 0; // CallType, EndReason or EventKind; 1 for a repeat that showed the bill
    quint64 seq = 0; // the call's or the event's number in the run
    UtcMs at = 0;
    QString text1; // bed code; an event's detail
    QString text2; // bed name
    QString text3; // responsible
    RunInfo info;
    std::unique_ptr<RestorableCall> restored;
};

// The journal's writer thread and the queue that feeds it. Records are
// applied to rows in memory at once and written in batches, one
// transaction each; whatever cannot be written stays in memory (up to
// maxBacklog rows) and is written at a later try. Open calls are kept until
// they end, so that a new file (after a damaged one was set aside) gets them
// again.
class JournalWriter {
public:
    struct Stats {
        quint64 lost = 0; // records the journal could not keep
        qsizetype pending = 0; // rows in memory not yet written
        quint64 transactions = 0; // batches written
    };
    struct Listener {
        std::function<void(const QString &status)> status;
        std::function<void(const QList<RestorableCall> &calls)> interrupted;
    };

    JournalWriter(WriterOptions options, RunClock runClock);
    ~JournalWriter();
    JournalWriter(const JournalWriter &) = delete;
    JournalWriter &operator=(const JournalWriter &) = delete;

    // Starts the thread. `self` is this writer: the thread keeps it alive.
    static void start(const std::shared_ptr<JournalWriter> &self, Listener listener);

    // GUI thread: hands over one record; never waits for the disk.
    void push(Record &&record);
    // No more listener calls from now on (the listener is going away).
    void dropListener();
    // Asks the thread to write what it has and end; waits at most `wait`
    // for it. True if it ended; otherwise it goes on alone and ends later.
    bool stop(std::chrono::milliseconds wait);
    // Waits until everything handed over so far is written, at most `wait`.
    bool waitUntilWritten(std::chrono::milliseconds wait);

    Stats stats() const;

private:
    using SteadyTime = std::chrono::steady_clock::time_point;
    enum class State { Closed, Open, Off };

    void run();
    void apply(Record &&record, SteadyTime now);
    bool hasWork() const;
    SteadyTime nextWake(SteadyTime now) const;
    void attempt(SteadyTime now, bool final);

    bool ensureOpen();
    bool takeLock();
    void startUp();
    bool flush(bool final);
    void closeConnection();
    void giveUp(const Failure &failure);
    void fail(const Failure &failure);
    bool setAside();
    void publishStatus();
    QString statusText() const;
    CallRow *openCall(quint64 seq);
    bool roomForRow();
    void lose(quint64 records = 1);
    EventRow ownEvent(EventKind kind, const QString &detail);

    const WriterOptions m_options;
    const RunClock m_runClock;

    // Shared with the GUI thread, under m_mutex.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_progress;
    std::vector<Record> m_queue;
    bool m_stopRequested = false;
    bool m_flushRequested = false;
    bool m_stopped = false;
    bool m_writerIdle = false; // the writer waits for records
    bool m_written = true; // nothing handed over is waiting
    std::mutex m_listenerMutex;
    Listener m_listener;
    std::atomic<quint64> m_lost { 0 };
    std::atomic<qsizetype> m_pending { 0 };
    std::atomic<quint64> m_transactions { 0 };

    // The writer thread's own.
    struct Entry {
        CallRow row;
        bool dirty = true;
    };
    std::map<quint64, Entry> m_calls; // by number: rows are inserted in the order of the calls
    std::vector<EventRow> m_events;
    std::vector<qint64> m_restoredRows;
    RunRow m_run;
    bool m_runDirty = true;
    bool m_closing = false;
    qint64 m_runId = 0; // the run's row in the current file; 0: not written yet
    quint64 m_ownSeq = quint64(1) << 62; // numbers of the writer's own events
    quint64 m_lostRecorded = 0;
    bool m_startedUp = false;
    State m_state = State::Closed;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<Connection> m_connection;
    std::unique_ptr<JournalStore> m_store;
    std::optional<Failure> m_failure;
    QString m_notice; // a damaged file set aside
    QString m_published;
    bool m_setAside = false;
    bool m_pendingBatch = false;
    SteadyTime m_batchDue;
    SteadyTime m_retryAt;
    SteadyTime m_heartbeatDue;
};

} // namespace kalvora::journal
