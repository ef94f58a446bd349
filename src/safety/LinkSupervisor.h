#pragma once

#include <QString>

#include <optional>

namespace kalvora {

// Supervision of the link to the call server. The server answers the
// console's ping (every 500 ms) with its presence reply; once no reply has
// come for LinkLossSec seconds, counted from the start or from the last
// reply, in every mode, the link is lost: a banner over the call list, the
// lost-link title, and the fault sound at once and then every 10 s. The first
// reply restores it at once.
//
// The supervisor keeps no timer of its own: the window tells it the time, a
// monotonic count of milliseconds, on every presence reply and on a timer
// armed for nextDueMs(). Tests step that time by hand.
//
//   LinkSupervisor link(5, 0);
//   link.tick(4999)  => { lost false }
//   link.tick(5000)  => { lost true, changed true, playFault true }
//   link.tick(15000) => { lost true, playFault true }
//   link.reply(15200) => { lost false, changed true }
class LinkSupervisor {
public:
    static constexpr qint64 kFaultRepeatMs = 10'000;

    // What a step asks of the window.
    struct Step {
        bool lost = false; // the link counts as lost now
        bool changed = false; // it was lost, or restored, by this step
        bool playFault = false; // the fault sound plays now
        friend bool operator==(const Step &, const Step &) = default;
    };

    // Off: the link is never lost.
    LinkSupervisor() = default;
    // Supervision from startMs on; lossSec 0 or less is off.
    LinkSupervisor(qint32 lossSec, qint64 startMs);

    // A presence reply came in.
    Step reply(qint64 nowMs);
    // Time has passed (the timer armed for nextDueMs, or any other moment).
    Step tick(qint64 nowMs);

    bool enabled() const { return m_lossMs > 0; }
    bool isLost() const { return m_lost; }
    // Since the last reply, or the start while none has come.
    qint64 silenceMs(qint64 nowMs) const;
    // The banner's two lines, the time without reply in the call list's
    // format:   after 65 s => "Нет связи с сервером вызовов\nнет ответа 1 мин. 5 сек."
    QString bannerText(qint64 nowMs) const;
    // When tick next has something to do: the loss while the link is up;
    // while it is lost, the banner's next whole second or the next fault
    // sound, whichever comes first. None while supervision is off.
    std::optional<qint64> nextDueMs(qint64 nowMs) const;

private:
    qint64 m_lossMs = 0;
    qint64 m_lastReplyMs = 0;
    qint64 m_nextFaultMs = 0;
    bool m_lost = false;
};

// The window title while the link is lost.
QString linkLostTitle();

// The moments at which the link's state may set the window title.
enum class TitleMoment {
    SearchTick, // the server search's three-second look
    LinkLost,
    LinkRestored,
    MoveModeLeft,
};

// The title the window shows at a moment, or none when it keeps its title.
// Move mode keeps its own title throughout; otherwise a lost link shows the
// lost-link title, a restored one the found title at once (a reply has just
// come in), and the search tick shows found or not found as it always did.
//   (SearchTick, normal, lost, replied) => "Kalvora: Нет связи с сервером."
//   (SearchTick, normal, up, replied) => "Kalvora: Сервер найден."
//   (LinkLost, move mode, ...) => none
std::optional<QString> linkTitle(TitleMoment moment, bool moveMode, bool linkLost, bool replied);

} // namespace kalvora
