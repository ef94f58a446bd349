#include "JournalWriter.h"

#include "JournalSchema.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kalvora::journal {

namespace {

using std::chrono::milliseconds;

QString faultText(Fault fault)
{
    switch (fault) {
    case Fault::DiskFull:
        return QStringLiteral("диск заполнен");
    case Fault::ReadOnly:
        return QStringLiteral("файл или папка только для чтения");
    case Fault::Busy:
        return QStringLiteral("файл занят другой программой");
    case Fault::CannotOpen:
        return QStringLiteral("файл не удаётся открыть или создать");
    case Fault::Damaged:
        return QStringLiteral("файл повреждён и не переименовывается");
    case Fault::NotJournal:
        return QStringLiteral("файл не является журналом вызовов");
    case Fault::Newer:
        return QStringLiteral("журнал создан более новой версией программы");
    case Fault::OtherConsole:
        return QStringLiteral("его уже ведёт другая консоль");
    case Fault::BadRow:
    case Fault::Io:
        break;
    }
    return QStringLiteral("ошибка записи");
}

// Whether the journal lies in a folder a group shares: group-writable, as the
// installed data folder (root:kalvora 2775) is for the staff's accounts.
bool inSharedFolder(const QString &file)
{
    const QFileInfo folder(QFileInfo(file).absolutePath());
    return folder.isDir() && folder.permissions().testFlag(QFileDevice::WriteGroup);
}

constexpr QFileDevice::Permissions kShared = QFileDevice::ReadOwner | QFileDevice::WriteOwner
    | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther;

// In a shared folder a new journal is made rw-rw-r-- (0664), whatever the
// process's umask, before SQLite opens it: every member's console can then
// write it, and SQLite gives the -wal and -shm files it makes beside it the
// database's mode. An existing file keeps its mode.
void createShared(const QString &file)
{
    if (QFileInfo::exists(file) || !inSharedFolder(file))
        return;
    const QByteArray path = QFile::encodeName(file);
    const int fd =
        ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664);
    if (fd < 0)
        return; // SQLite's own open says what is wrong
    ::fchmod(fd, 0664);
    ::close(fd);
}

// Faults that no retry mends while the console runs.
bool permanent(Fault fault)
{
    return fault == Fault::NotJournal || fault == Fault::Newer;
}

} // namespace

RunClock RunClock::start(std::shared_ptr<JournalClock> clock)
{
    RunClock c;
    c.startUtc = clock->wallMs();
    c.startMonotonic = clock->monotonicMs();
    c.clock = std::move(clock);
    return c;
}

JournalWriter::JournalWriter(WriterOptions options, RunClock runClock)
    : m_options(std::move(options))
    , m_runClock(std::move(runClock))
{
    m_run.startedUtc = m_runClock.startUtc;
    m_run.lastSeenUtc = m_runClock.startUtc;
    m_run.host = QSysInfo::machineHostName();
    m_run.version = QStringLiteral(KALVORA_VERSION);
    m_queue.reserve(1024);
}

JournalWriter::~JournalWriter() = default;

void JournalWriter::start(const std::shared_ptr<JournalWriter> &self, Listener listener)
{
    self->m_listener = std::move(listener);
    std::thread([self] { self->run(); }).detach();
}

void JournalWriter::push(Record &&record)
{
    std::unique_lock lock(m_mutex);
    if (m_stopped || qsizetype(m_queue.size()) >= m_options.maxQueue) {
        lock.unlock();
        if (!m_stopped)
            lose();
        return;
    }
    // The writer is woken only when it waits for records (not while it
    // collects a batch or waits to retry), or when the queue grows long:
    // a wake-up costs the GUI thread a system call.
    const bool wake = (m_queue.empty() && m_writerIdle) || (m_queue.size() + 1) % 4096 == 0;
    m_queue.push_back(std::move(record));
    m_written = false;
    lock.unlock();
    if (wake)
        m_wake.notify_one();
}

void JournalWriter::dropListener()
{
    std::lock_guard lock(m_listenerMutex);
    m_listener = {};
}

bool JournalWriter::stop(milliseconds wait)
{
    std::unique_lock lock(m_mutex);
    m_stopRequested = true;
    m_wake.notify_one();
    return m_progress.wait_for(lock, wait, [this] { return m_stopped; });
}

bool JournalWriter::waitUntilWritten(milliseconds wait)
{
    std::unique_lock lock(m_mutex);
    m_flushRequested = true;
    m_wake.notify_one();
    return m_progress.wait_for(lock, wait, [this] { return m_written || m_stopped; }) && m_written;
}

JournalWriter::Stats JournalWriter::stats() const
{
    return { m_lost.load(), m_pending.load(), m_transactions.load() };
}

void JournalWriter::lose(quint64 records)
{
    const quint64 before = m_lost.fetch_add(records);
    if (before == 0)
        qCWarning(lcJournal) << "the journal" << m_options.file
                             << "cannot keep up: records are being lost";
}

// --- The thread ---------------------------------------------------------------

void JournalWriter::run()
{
    std::vector<Record> batch;
    batch.reserve(1024);
    // The file is opened at once: the run's row is written, and the calls
    // an unclean end left open are offered, without waiting for a call.
    m_pendingBatch = true;
    m_batchDue = std::chrono::steady_clock::now();
    m_heartbeatDue = m_batchDue + milliseconds(m_options.heartbeatMs);
    for (;;) {
        bool stopping = false;
        bool flushNow = false;
        {
            std::unique_lock lock(m_mutex);
            // With a batch pending the writer sleeps until it is due (or a
            // long queue, a flush or the stop wakes it).
            m_writerIdle = !m_pendingBatch;
            const auto woken = [this] {
                return m_stopRequested || m_flushRequested || (m_writerIdle && !m_queue.empty())
                    || qsizetype(m_queue.size()) >= 4095;
            };
            if (!woken())
                m_wake.wait_until(lock, nextWake(std::chrono::steady_clock::now()), woken);
            m_writerIdle = false;
            batch.swap(m_queue);
            stopping = m_stopRequested;
            flushNow = std::exchange(m_flushRequested, false);
        }
        const SteadyTime now = std::chrono::steady_clock::now();
        for (Record &record : batch)
            apply(std::move(record), now);
        batch.clear();

        if (stopping) {
            attempt(now, true);
            break;
        }
        if (m_state != State::Off) {
            const bool due = m_pendingBatch && (flushNow || now >= m_batchDue);
            const bool retryDue = m_state == State::Open || now >= m_retryAt;
            const bool heartbeat = m_state == State::Open && now >= m_heartbeatDue;
            if ((due && retryDue) || heartbeat)
                attempt(now, false);
        }
        {
            std::lock_guard lock(m_mutex);
            m_written = m_queue.empty() && (!hasWork() || m_state == State::Off);
            if (m_written || flushNow)
                m_progress.notify_all();
        }
    }
    closeConnection();
    m_lock.reset();
    const qsizetype left = qsizetype(m_calls.size() + m_events.size());
    if (hasWork() && m_state != State::Off)
        qCWarning(lcJournal) << "the console ends with" << left << "journal rows not written to"
                             << m_options.file;
    std::lock_guard lock(m_mutex);
    m_stopped = true;
    m_progress.notify_all();
}

JournalWriter::SteadyTime JournalWriter::nextWake(SteadyTime now) const
{
    if (m_state == State::Off)
        return now + std::chrono::hours(24);
    SteadyTime wake = m_state == State::Open ? m_heartbeatDue : now + std::chrono::hours(24);
    if (m_pendingBatch)
        wake =
            std::min(wake, m_state == State::Open ? m_batchDue : std::max(m_batchDue, m_retryAt));
    return wake;
}

bool JournalWriter::hasWork() const
{
    return m_pendingBatch;
}

CallRow *JournalWriter::openCall(quint64 seq)
{
    const auto it = m_calls.find(seq);
    if (it == m_calls.end() || !it->second.row.open())
        return nullptr;
    it->second.dirty = true;
    return &it->second.row;
}

bool JournalWriter::roomForRow()
{
    if (qsizetype(m_calls.size() + m_events.size()) < m_options.maxBacklog)
        return true;
    lose();
    return false;
}

void JournalWriter::apply(Record &&r, SteadyTime now)
{
    if (m_state == State::Off)
        return;
    bool changed = true;
    switch (r.kind) {
    case Record::Kind::RunInfo:
        m_run.info = r.info;
        m_run.infoKnown = true;
        m_runDirty = true;
        if (roomForRow())
            m_events.push_back({ r.seq, r.at, EventKind::ConsoleStarted, QString() });
        break;
    case Record::Kind::CallStarted:
    case Record::Kind::CallRestored: {
        if (!roomForRow()) {
            changed = false;
            break;
        }
        CallRow row;
        row.seq = r.seq;
        row.bedCode = std::move(r.text1);
        row.bedName = std::move(r.text2);
        row.responsible = std::move(r.text3);
        row.type = CallType(r.code);
        row.startedUtc = r.at;
        if (r.restored) {
            const RestorableCall &old = *r.restored;
            row.type = old.type;
            row.startedUtc = old.startedUtc;
            row.overdueUtc = old.overdueUtc;
            row.acknowledgedUtc = old.acknowledgedUtc;
            row.repeats = old.repeats;
            row.billByRepeat = old.billByRepeat;
            row.restoredFrom = old.row;
            m_restoredRows.push_back(old.row);
        }
        m_calls[r.seq] = Entry { std::move(row), true };
        break;
    }
    case Record::Kind::CallRepeated:
        if (CallRow *call = openCall(r.seq)) {
            ++call->repeats;
            call->billByRepeat = call->billByRepeat || r.code != 0;
        } else {
            changed = false;
        }
        break;
    case Record::Kind::CallOverdue:
        if (CallRow *call = openCall(r.seq); call && !call->overdueUtc)
            call->overdueUtc = r.at;
        else
            changed = false;
        break;
    case Record::Kind::CallAcknowledged:
        if (CallRow *call = openCall(r.seq); call && !call->acknowledgedUtc)
            call->acknowledgedUtc = r.at;
        else
            changed = false;
        break;
    case Record::Kind::CallEnded:
        if (CallRow *call = openCall(r.seq)) {
            call->endedUtc = r.at;
            call->endReason = EndReason(r.code);
        } else {
            changed = false;
        }
        break;
    case Record::Kind::Event:
        if (roomForRow())
            m_events.push_back({ r.seq, r.at, EventKind(r.code), std::move(r.text1) });
        else
            changed = false;
        break;
    case Record::Kind::ConsoleClosed:
        for (auto &[seq, entry] : m_calls) {
            if (entry.row.open()) {
                entry.row.endedUtc = r.at;
                entry.row.endReason = EndReason::ConsoleClosed;
                entry.dirty = true;
            }
        }
        m_run.closedUtc = r.at;
        m_runDirty = true;
        m_closing = true;
        m_events.push_back({ r.seq, r.at, EventKind::ConsoleClosed, QString() });
        break;
    }
    if (changed && !m_pendingBatch) {
        m_pendingBatch = true;
        m_batchDue = now + milliseconds(m_options.batchMs);
    }
    m_pending = qsizetype(m_calls.size() + m_events.size());
}

void JournalWriter::attempt(SteadyTime now, bool final)
{
    m_setAside = false;
    bool ok = ensureOpen() && flush(final);
    if (!ok && m_setAside) // a damaged file went aside: the new one is tried at once
        ok = ensureOpen() && flush(final);
    if (ok)
        m_heartbeatDue = now + milliseconds(m_options.heartbeatMs);
    else if (m_state != State::Open)
        m_retryAt = std::chrono::steady_clock::now() + milliseconds(m_options.retryMs);
    publishStatus();
}

// --- The database ---------------------------------------------------------------

bool JournalWriter::ensureOpen()
{
    if (m_state == State::Open)
        return true;
    if (m_state == State::Off)
        return false;
    if (!m_lock && !takeLock())
        return false;
    for (int tries = 0;; ++tries) {
        createShared(m_options.file);
        m_connection = std::make_unique<Connection>(m_options.file, Connection::Mode::ReadWrite,
                                                    m_options.busyTimeoutMs);
        SqlStatus failure = m_connection->open();
        if (!failure)
            failure = prepareForWriting(m_connection->db());
        if (!failure)
            break;
        if (failure->fault != Fault::Damaged || tries > 0) {
            giveUp(*failure);
            return false;
        }
        closeConnection();
        if (!setAside())
            return false;
    }
    m_store = std::make_unique<JournalStore>(m_connection->db());
    if (!m_startedUp) {
        startUp();
        if (!m_store)
            return false;
    }
    if (m_failure)
        qCInfo(lcJournal) << "the journal" << m_options.file << "is written again";
    m_failure.reset();
    m_state = State::Open;
    return true;
}

// One console per journal: the lock file beside it is held for the whole
// run, so the calls of a run that still holds it are never taken for those
// of a console that ended without closing.
bool JournalWriter::takeLock()
{
    auto lock = std::make_unique<QLockFile>(m_options.file + QLatin1String(".lock"));
    lock->setStaleLockTime(0); // held for the whole run; a dead holder is still found out
    if (lock->tryLock(0)) {
        // In a shared folder the lock file is the group's too, as are the
        // journal's other files.
        if (inSharedFolder(m_options.file))
            QFile::setPermissions(lock->fileName(), kShared);
        m_lock = std::move(lock);
        return true;
    }
    if (lock->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host, app;
        lock->getLockInfo(&pid, &host, &app);
        fail({ Fault::OtherConsole,
               QStringLiteral("its lock file is held by process %1 on %2").arg(pid).arg(host) });
    } else {
        const QFileInfo folder(QFileInfo(m_options.file).absolutePath());
        fail({ folder.exists() && !folder.isWritable() ? Fault::ReadOnly : Fault::CannotOpen,
               QStringLiteral("cannot create the lock file %1").arg(lock->fileName()) });
    }
    return false;
}

// Once per run, before the run's own rows: the calls that earlier runs left
// open are ended (and offered for restoring), and old calls are purged.
void JournalWriter::startUp()
{
    QList<RestorableCall> interrupted;
    SqlStatus failure = m_store->begin();
    if (!failure)
        failure = m_store->takeInterruptedCalls(&interrupted);
    if (!failure && m_options.keepDays > 0)
        failure = m_store->purgeBefore(m_runClock.now() - qint64(m_options.keepDays) * 86400000);
    if (!failure)
        failure = m_store->commit();
    if (failure) {
        m_store->rollback();
        giveUp(*failure);
        return;
    }
    m_startedUp = true;
    if (!interrupted.isEmpty()) {
        qCInfo(lcJournal) << interrupted.size() << "calls were open when the console last ended"
                          << "without closing";
        std::lock_guard lock(m_listenerMutex);
        if (m_listener.interrupted)
            m_listener.interrupted(interrupted);
    }
}

bool JournalWriter::flush(bool final)
{
    if (!m_pendingBatch && !m_runDirty && m_state == State::Open && !final) {
        // A heartbeat only.
        m_runDirty = true;
    }
    if (m_lost > m_lostRecorded) {
        const quint64 lost = m_lost.load();
        m_events.push_back(
            ownEvent(EventKind::RecordsLost, QString::number(lost - m_lostRecorded)));
        m_lostRecorded = lost;
    }
    m_run.lastSeenUtc = m_runClock.now();
    const bool newRun = m_runId == 0;
    SqlStatus failure = m_store->begin();
    if (!failure && newRun)
        failure = m_store->insertRun(m_run, &m_runId);
    if (!failure)
        failure = m_store->updateRun(m_runId, m_run);
    // A row SQLite refuses for itself (it cannot happen with the rows made
    // here, but a stuck row would stop the journal for good) is dropped and
    // counted as lost; SQLite has undone only that statement.
    const auto refused = [this](SqlStatus &f) {
        if (!f || f->fault != Fault::BadRow)
            return false;
        qCWarning(lcJournal) << "the journal refused a row:" << f->text;
        f.reset();
        lose();
        return true;
    };
    for (auto it = m_calls.begin(); !failure && it != m_calls.end();) {
        if (it->second.dirty)
            failure = m_store->writeCall(m_runId, it->second.row);
        if (refused(failure))
            it = m_calls.erase(it);
        else
            ++it;
    }
    for (auto it = m_events.begin(); !failure && it != m_events.end(); ++it) {
        failure = m_store->writeEvent(m_runId, *it);
        refused(failure);
    }
    for (auto it = m_restoredRows.begin(); !failure && it != m_restoredRows.end(); ++it)
        failure = m_store->markRestored(*it);
    if (!failure && m_closing)
        failure = m_store->closeOpenCalls(m_runId, *m_run.closedUtc);
    if (!failure)
        failure = m_store->commit();
    if (failure) {
        m_store->rollback();
        if (newRun)
            m_runId = 0;
        giveUp(*failure);
        return false;
    }
    ++m_transactions;
    for (auto it = m_calls.begin(); it != m_calls.end();) {
        if (!it->second.row.open()) {
            it = m_calls.erase(it);
        } else {
            it->second.dirty = false;
            ++it;
        }
    }
    m_events.clear();
    m_restoredRows.clear();
    m_runDirty = false;
    m_pendingBatch = false;
    m_pending = qsizetype(m_calls.size());
    return true;
}

EventRow JournalWriter::ownEvent(EventKind kind, const QString &detail)
{
    return { ++m_ownSeq, m_runClock.now(), kind, detail };
}

void JournalWriter::closeConnection()
{
    m_store.reset();
    m_connection.reset();
    if (m_state == State::Open)
        m_state = State::Closed;
}

// After a failed open or transaction: the connection goes (the next try
// opens a new one), and a damaged file goes aside.
void JournalWriter::giveUp(const Failure &failure)
{
    closeConnection();
    if (failure.fault == Fault::Damaged)
        setAside();
    else
        fail(failure);
}

void JournalWriter::fail(const Failure &failure)
{
    const bool changed = !m_failure || m_failure->fault != failure.fault;
    m_failure = failure;
    if (permanent(failure.fault)) {
        m_state = State::Off;
        m_calls.clear();
        m_events.clear();
        m_pendingBatch = false;
        m_pending = 0;
    } else if (m_state == State::Open) {
        m_state = State::Closed;
    }
    if (changed)
        qCWarning(lcJournal).noquote()
            << "the journal" << m_options.file << "cannot be written:" << failure.text;
}

// A damaged file is never written again: it and its WAL are renamed aside
// (journal.sqlite.damaged-20250301-142530), and the next open starts a new
// file into which every call still open is written again.
bool JournalWriter::setAside()
{
    const QString stamp = QDateTime::fromMSecsSinceEpoch(m_runClock.now())
                              .toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = m_options.file + QLatin1String(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = m_options.file + QLatin1String(".damaged-") + stamp + u'-' + QString::number(n);
    if (!QFile::rename(m_options.file, target)) {
        fail({ Fault::Damaged,
               QStringLiteral("the damaged file cannot be renamed to %1").arg(target) });
        return false;
    }
    for (const char *suffix : { "-wal", "-shm" }) {
        const QString side = m_options.file + QLatin1String(suffix);
        if (QFileInfo::exists(side))
            QFile::rename(side, target + QLatin1String(suffix));
    }
    qCWarning(lcJournal).noquote()
        << "the journal" << m_options.file << "was damaged; it is kept as" << target
        << "and a new journal is started";
    m_notice = QStringLiteral("Журнал вызовов был повреждён: он сохранён как %1, начат новый.")
                   .arg(QFileInfo(target).fileName());
    m_failure.reset();
    m_setAside = true;
    m_runId = 0;
    m_runDirty = true;
    for (auto &[seq, entry] : m_calls)
        entry.dirty = true;
    m_events.push_back(ownEvent(EventKind::JournalRenamed, QFileInfo(target).fileName()));
    m_pendingBatch = true;
    return true;
}

QString JournalWriter::statusText() const
{
    QString text;
    if (m_failure) {
        text = QStringLiteral("Журнал вызовов не пишется: %1.").arg(faultText(m_failure->fault));
        text += permanent(m_failure->fault)
            ? QStringLiteral(" Журнал не ведётся.")
            : QStringLiteral(" Вызовы принимаются; записи будут дописаны позже.");
    } else if (!m_notice.isEmpty()) {
        text = m_notice;
    }
    if (m_lost > 0)
        text += (text.isEmpty() ? QString() : QStringLiteral(" "))
            + QStringLiteral("Часть записей журнала потеряна.");
    return text;
}

void JournalWriter::publishStatus()
{
    const QString text = statusText();
    if (text == m_published)
        return;
    m_published = text;
    std::lock_guard lock(m_listenerMutex);
    if (m_listener.status)
        m_listener.status(text);
}

} // namespace kalvora::journal
