#pragma once

#include "JournalClock.h"
#include "JournalSettings.h"
#include "JournalTypes.h"
#include "JournalWriter.h"

#include <QObject>

#include <chrono>
#include <memory>

namespace kalvora::journal {

// The call journal as the console's window uses it, on the GUI thread.
//
// Every call returns at once: it stamps the moment (the run's start on the
// wall clock plus the monotonic time elapsed since, see JournalClock) and
// hands a small record to the writer thread, which writes batches to the
// SQLite file on its own time. Nothing here waits for the disk or the file,
// fails, or throws: a journal that cannot be written shows it in status()
// and catches up once it can (see JournalWriter). A Journal made from
// settings without a file is off: every call does nothing and returns kNoCall.
//
// The console's side, handler by handler (src/app/CallJournal.cpp and the
// handlers it names):
//   start-up      once start-up has succeeded, make the Journal from
//                 readJournalSettings() (none without a file); connect
//                 statusChanged to the call-list panel's note line and, with
//                 RestoreCalls on, interruptedCallsFound to the restore code
//                 (planRestore in Restore.h); call
//                 consoleStarted({ redSec, maxSec in force, number of beds }).
//   new call      (AddSinc, type 4 or 8, no entry yet) id = callStarted(code,
//                 name, responsible, type); keep the id with the call entry.
//   repeat        (AddSinc, entry exists) callRepeated(id, type == 4).
//   overdue       (the tick on which the bed turns overdue) callOverdue(id).
//   acknowledge   (the first click, with ClickAction=acknowledge) callAcknowledged(id).
//   end           at the moment the bed's call ends, once: callEnded(id, reason)
//                 with ServerCancel (type 2 for a calling bed), Click, Timeout
//                 (the tick past maxSec) or BedDeleted (a calling bed deleted).
//   restore       id = callRestored(call) for each call the console shows again.
//   link          linkState(a reply came) on every server-search tick (it
//                 records the changes only); with link supervision,
//                 linkState(true) on a reply and linkState(false) when the
//                 supervision finds the link lost.
//   bed file      bedFileSaved(ok, error) after every save of the bed file.
//   closing       consoleClosed() once the close goes ahead (after a
//                 successful save), and when the session or a signal ends the
//                 console; it ends every open call "console closed". Then
//                 destroy the Journal: it waits a moment (closeWait) for the
//                 last records to reach the file.
class Journal final : public QObject {
    Q_OBJECT
public:
    struct Options {
        WriterOptions writer;
        std::chrono::milliseconds closeWait { 3000 };
    };

    // Off when the settings name no file.
    explicit Journal(const JournalSettings &settings,
                     std::shared_ptr<JournalClock> clock = systemClock(),
                     QObject *parent = nullptr);
    Journal(Options options, std::shared_ptr<JournalClock> clock, QObject *parent = nullptr);
    ~Journal() override;

    bool enabled() const { return m_writer != nullptr; }
    QString file() const { return m_file; }

    // This run of the console: when it started, and the journal's now, both
    // in UTC milliseconds. Ages of restored calls are measured against now().
    UtcMs runStartedUtc() const { return m_clock.startUtc; }
    UtcMs now() const { return m_clock.startUtc ? m_clock.now() : 0; }

    void consoleStarted(const RunInfo &info);
    CallId callStarted(const QString &bedCode, const QString &bedName, const QString &responsible,
                       CallType type);
    // The server called again for a call that is open; billShown: the repeat
    // was a bill request (type 4), which shows the bill overlay.
    void callRepeated(CallId id, bool billShown);
    void callOverdue(CallId id);
    void callAcknowledged(CallId id);
    void callEnded(CallId id, EndReason reason);
    // A call an unclean end left open, shown again: a new row that keeps the
    // original start and what happened before (overdue, acknowledged,
    // repeats), linked to the interrupted row, which is marked "restored".
    CallId callRestored(const RestorableCall &call);
    void linkEvent(LinkEvent event);
    // Whether the server answered since the last search tick; records
    // found / lost / found again when that changes.
    void linkState(bool serverAnswered);
    void bedFileSaved(bool ok, const QString &errorText = QString());
    void consoleClosed();

    // Empty while all is well; otherwise one Russian sentence for the
    // operator, such as "Журнал вызовов не пишется: диск заполнен. Вызовы
    // принимаются; записи будут дописаны позже." It changes only when the
    // problem does (no counters in it), so the window may show it as it comes.
    QString status() const { return m_status; }

    // For tests and tools: waits until everything handed over is written.
    bool waitUntilWritten(std::chrono::milliseconds wait);
    JournalWriter::Stats stats() const;

signals:
    void statusChanged(const QString &status);
    // The calls that were open when the console last ended without closing;
    // delivered once, shortly after start-up (or when the file can first be
    // opened). Their rows are already ended "interrupted".
    void interruptedCallsFound(const QList<kalvora::journal::RestorableCall> &calls);

private:
    void push(Record &&record);
    quint64 nextSeq() { return ++m_seq; }
    void setStatus(const QString &status);

    QString m_file;
    RunClock m_clock;
    std::chrono::milliseconds m_closeWait { 3000 };
    std::shared_ptr<JournalWriter> m_writer;
    quint64 m_seq = 0;
    QString m_status;
    bool m_closed = false;
    enum class Link : quint8 { Unknown, Present, Lost } m_link = Link::Unknown;
    bool m_everFound = false;
};

} // namespace kalvora::journal
