#include "Journal.h"

#include <QMetaObject>
#include <QPointer>

namespace kalvora::journal {

Journal::Journal(const JournalSettings &settings, std::shared_ptr<JournalClock> clock,
                 QObject *parent)
    : Journal(Options { WriterOptions { settings.file, settings.keepDays } }, std::move(clock),
              parent)
{
}

Journal::Journal(Options options, std::shared_ptr<JournalClock> clock, QObject *parent)
    : QObject(parent)
    , m_file(options.writer.file)
    , m_closeWait(options.closeWait)
{
    if (m_file.isEmpty())
        return;
    qRegisterMetaType<QList<RestorableCall>>();
    m_clock = RunClock::start(std::move(clock));
    m_writer = std::make_shared<JournalWriter>(std::move(options.writer), m_clock);
    // The writer thread reports through queued calls, so the signals come on
    // this object's (the GUI) thread. dropListener() in the destructor stops
    // them before this object goes; calls already queued go with it.
    JournalWriter::Listener listener;
    listener.status = [this](const QString &status) {
        QMetaObject::invokeMethod(
            this, [this, status] { setStatus(status); }, Qt::QueuedConnection);
    };
    listener.interrupted = [this](const QList<RestorableCall> &calls) {
        QMetaObject::invokeMethod(
            this, [this, calls] { emit interruptedCallsFound(calls); }, Qt::QueuedConnection);
    };
    JournalWriter::start(m_writer, std::move(listener));
}

Journal::~Journal()
{
    if (!m_writer)
        return;
    m_writer->dropListener();
    if (!m_writer->stop(m_closeWait))
        qCWarning(lcJournal) << "the journal writer did not finish in time; it ends on its own";
}

void Journal::push(Record &&record)
{
    m_writer->push(std::move(record));
}

void Journal::consoleStarted(const RunInfo &info)
{
    if (!m_writer)
        return;
    Record r;
    r.kind = Record::Kind::RunInfo;
    r.seq = nextSeq();
    r.at = m_clock.now();
    r.info = info;
    push(std::move(r));
}

CallId Journal::callStarted(const QString &bedCode, const QString &bedName,
                            const QString &responsible, CallType type)
{
    if (!m_writer)
        return kNoCall;
    Record r;
    r.kind = Record::Kind::CallStarted;
    r.code = quint8(type);
    r.seq = nextSeq();
    r.at = m_clock.now();
    r.text1 = bedCode;
    r.text2 = bedName;
    r.text3 = responsible;
    const CallId id = r.seq;
    push(std::move(r));
    return id;
}

CallId Journal::callRestored(const RestorableCall &call)
{
    if (!m_writer)
        return kNoCall;
    Record r;
    r.kind = Record::Kind::CallRestored;
    r.code = quint8(call.type);
    r.seq = nextSeq();
    r.at = m_clock.now();
    r.text1 = call.bedCode;
    r.text2 = call.bedName;
    r.text3 = call.responsible;
    r.restored = std::make_unique<RestorableCall>(call);
    const CallId id = r.seq;
    push(std::move(r));
    return id;
}

void Journal::callRepeated(CallId id, bool billShown)
{
    if (!m_writer || id == kNoCall)
        return;
    Record r;
    r.kind = Record::Kind::CallRepeated;
    r.code = billShown ? 1 : 0;
    r.seq = id;
    r.at = m_clock.now();
    push(std::move(r));
}

void Journal::callOverdue(CallId id)
{
    if (!m_writer || id == kNoCall)
        return;
    Record r;
    r.kind = Record::Kind::CallOverdue;
    r.seq = id;
    r.at = m_clock.now();
    push(std::move(r));
}

void Journal::callAcknowledged(CallId id)
{
    if (!m_writer || id == kNoCall)
        return;
    Record r;
    r.kind = Record::Kind::CallAcknowledged;
    r.seq = id;
    r.at = m_clock.now();
    push(std::move(r));
}

void Journal::callEnded(CallId id, EndReason reason)
{
    if (!m_writer || id == kNoCall)
        return;
    Record r;
    r.kind = Record::Kind::CallEnded;
    r.code = quint8(reason);
    r.seq = id;
    r.at = m_clock.now();
    push(std::move(r));
}

void Journal::linkEvent(LinkEvent event)
{
    if (!m_writer)
        return;
    static constexpr EventKind kinds[] = { EventKind::ServerFound, EventKind::ServerLost,
                                           EventKind::ServerFoundAgain };
    Record r;
    r.kind = Record::Kind::Event;
    r.code = quint8(kinds[int(event)]);
    r.seq = nextSeq();
    r.at = m_clock.now();
    push(std::move(r));
    m_link = event == LinkEvent::ServerLost ? Link::Lost : Link::Present;
    m_everFound = true;
}

void Journal::linkState(bool serverAnswered)
{
    if (!m_writer)
        return;
    if (serverAnswered && m_link != Link::Present)
        linkEvent(m_everFound ? LinkEvent::ServerFoundAgain : LinkEvent::ServerFound);
    else if (!serverAnswered && m_link == Link::Present)
        linkEvent(LinkEvent::ServerLost);
}

void Journal::bedFileSaved(bool ok, const QString &errorText)
{
    if (!m_writer)
        return;
    Record r;
    r.kind = Record::Kind::Event;
    r.code = quint8(ok ? EventKind::BedsSaved : EventKind::BedsSaveFailed);
    r.seq = nextSeq();
    r.at = m_clock.now();
    r.text1 = ok ? QString() : errorText;
    push(std::move(r));
}

void Journal::consoleClosed()
{
    if (!m_writer || m_closed)
        return;
    m_closed = true;
    Record r;
    r.kind = Record::Kind::ConsoleClosed;
    r.seq = nextSeq();
    r.at = m_clock.now();
    push(std::move(r));
}

bool Journal::waitUntilWritten(std::chrono::milliseconds wait)
{
    return m_writer ? m_writer->waitUntilWritten(wait) : true;
}

JournalWriter::Stats Journal::stats() const
{
    return m_writer ? m_writer->stats() : JournalWriter::Stats {};
}

void Journal::setStatus(const QString &status)
{
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged(m_status);
}

} // namespace kalvora::journal
