// The road of a call: datagrams in, events dispatched to beds, calls and
// sounds; the presence ping out and the server search in the title.

#include "EventMessage.h"
#include "UdpListener.h"
#include "app/TkrdoMF.h"
#include "journal/Journal.h"
#include "settings/Logging.h"

#include <QScopeGuard>
#include <QTimer>
#include <QUdpSocket>

#include <exception>
#include <utility>

namespace kalvora {

void TkrdoMF::IdUDPServer1UDPRead(const QByteArray &data)
{
    // Nothing a datagram holds may stop the console: an error ends the
    // handling of this datagram, silently, and the next one is handled as usual.
    try {
        const QString text = decodeDatagram(data);
        if (text == sFromServer) {
            onServer = true;
            m_replied = true;
            applyLink(m_link.reply(uptimeMs())); // a lost link is restored at once
            // Supervised, the journal sees the link as the supervision does:
            // present from this reply on (found, or found again).
            if (m_journal && m_link.enabled())
                m_journal->linkState(true);
            return;
        }
        qCDebug(lcLink).noquote() << "Event:" << text;
        AddSinc(text);
    } catch (...) {
    }
}

void TkrdoMF::AddSinc(const QString &str)
{
    const EventMessage event = parseEventMessage(str);
    if (Ttable *bed = sl.find(event.code)) {
        bed->l = event.name;
        if (event.type == kCancel) {
            if (m_journal && bed->isOn) {
                if (tincoming *entry = sinc.find(event.code); entry && entry->table == bed)
                    journalCallEnded(*entry, journal::EndReason::ServerCancel);
            }
            bed->ShutOff(); // its entry goes at the next tick
            return;
        }
        if (event.type != kCall && event.type != kCallWithBill)
            return;
        tincoming *entry = sinc.find(event.code);
        if (entry && bed->isOn) {
            // A repeated call: the line moves to the top, nothing else changes.
            if (event.type == kCallWithBill)
                entry->table->ShowBill();
            sinc.moveToEnd(sinc.indexOf(entry));
            if (m_journal)
                m_journal->callRepeated(entry->journalId, event.type == kCallWithBill);
            return;
        }
        // A new call: new marks, so it starts unacknowledged whatever the
        // bed's previous call was, and a new row in the journal (the row of
        // the bed's previous call was ended when that call ended).
        const journal::CallId id = m_journal
            ? m_journal->callStarted(event.code, event.name, event.responsible,
                                     event.type == kCallWithBill ? journal::CallType::Bill
                                                                 : journal::CallType::Call)
            : journal::kNoCall;
        std::exception_ptr pictureError;
        startCall(bed, event.code, event.responsible, event.name,
                  event.type == kCallWithBill ? CallKind::WithBill : CallKind::Plain, id,
                  &pictureError);
        if (pictureError)
            std::rethrow_exception(pictureError);
        return;
    }

    if (event.type == kAnnounce && addMode()) {
        // The tick is on afterwards, whether or not the bed could be made, and
        // keeps its rhythm: restarting it here would hold back every call's
        // timing for as long as announcements come faster than once a second.
        const auto tickOn = qScopeGuard([this] {
            if (!TimerPlus->isActive())
                TimerPlus->start();
        });
        const qint64 at = qint64(sl.size()) * 10;
        const QString line = event.code + u';' + QString::number(at) + u';' + QString::number(at)
            + QLatin1String(";1;") + event.name + u';' + event.cancelcode;
        sl.append(event.code, Ttable::Create(line, m_tableContext));
    }
}

tincoming *TkrdoMF::startCall(Ttable *bed, const QString &code, const QString &responsible,
                              const QString &name, CallKind kind, journal::CallId journalId,
                              std::exception_ptr *pictureError)
{
    if (tincoming *ended = sinc.find(code)) {
        // The line of a call that has ended (a click, a cancel) and that the
        // tick has not swept yet: the new call's line takes its place now, or
        // the sweep would take the new line with it.
        sinc.takeAt(sinc.indexOf(ended));
    }
    auto line = std::make_unique<tincoming>(bed, responsible, name, m_entryContext);
    line->marks = { kind, false };
    line->journalId = journalId;
    tincoming *entry = sinc.append(code, std::move(line));
    // The call is on (its state changes before its picture) even when the
    // kind has no usable calling picture; it must still be heard and show
    // its bill, and only then is the picture's error raised.
    try {
        bed->ShutOn();
    } catch (...) {
        *pictureError = std::current_exception();
    }
    if (kind == CallKind::WithBill) {
        bed->ShowBill();
        WavBill();
    } else {
        WavCall();
    }
    announceCall(kind == CallKind::WithBill ? CallAlert::NewBillCall : CallAlert::NewCall, *bed);
    return entry;
}

void TkrdoMF::journalCallEnded(tincoming &entry, journal::EndReason reason)
{
    if (!m_journal)
        return;
    m_journal->callEnded(entry.journalId, reason);
    entry.journalId = journal::kNoCall;
}

// The two sounds are named the other way round; ward installations rely on
// which file plays for which call, so the mapping stays as it is.
void TkrdoMF::WavBill()
{
    qCDebug(lcCalls) << "sound call.wav";
    m_sounds.play(dataFile("call.wav"));
}

void TkrdoMF::WavCall()
{
    qCDebug(lcCalls) << "sound bill.wav";
    m_sounds.play(dataFile("bill.wav"));
}

void TkrdoMF::SendToServer(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty())
        return;
    // Errors (no network, broadcast refused) are left to the next tick.
    IdUDPClient1->writeDatagram(bytes, QHostAddress::Broadcast, ToServerPort);
}

void TkrdoMF::TimerToServerTimer()
{
    SendToServer(sToServer);
}

void TkrdoMF::TimerServerSearchTimer()
{
    // The journal records the link's changes in either mode; supervised, it
    // follows the supervision instead (the reply and applyLink).
    if (m_journal && !m_link.enabled())
        m_journal->linkState(m_replied);
    m_replied = false;
    if (curMode != 0)
        return;
    if (m_link.isLost())
        setWindowTitle(linkLostTitle()); // until the first reply, whenever it comes
    else if (onServer)
        TurnOn();
    else
        TurnOff();
    onServer = false;
}

void TkrdoMF::TurnOn()
{
    setWindowTitle(QStringLiteral("Kalvora: Сервер найден."));
    if (std::exchange(m_serverFound, true) != true)
        qCInfo(lcLink).noquote()
            << QStringLiteral("Call server found: the ping to port %1 is answered on port %2")
                   .arg(ToServerPort)
                   .arg(FromServerPort);
}

void TkrdoMF::TurnOff()
{
    setWindowTitle(QStringLiteral("Kalvora: Не найден сервер."));
    if (std::exchange(m_serverFound, false) != false)
        qCWarning(lcLink).noquote() << QStringLiteral("No answer from the call server: the ping to "
                                                      "port %1 had no reply on port %2 for 3 s")
                                           .arg(ToServerPort)
                                           .arg(FromServerPort);
}

} // namespace kalvora
