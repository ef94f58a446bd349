// The one-second tick and the call list display.

#include "CallListLayout.h"
#include "app/TkrdoMF.h"
#include "journal/Journal.h"
#include "safety/CallMarks.h"
#include "safety/OverflowRow.h"
#include "settings/Logging.h"
#include "ui/Coordinates.h"
#include "ui/Errors.h"
#include "ui/Fonts.h"
#include "ui/PictureControl.h"
#include "ui/TextLabel.h"

#include <exception>
#include <limits>

namespace kalvora {

void TkrdoMF::TimerPlusTimer()
{
    // Every call advances even when one bed's picture cannot be shown; the
    // first such error is reported once the list is consistent again.
    std::exception_ptr firstError;
    TickSounds sounds(m_safety);
    journal::Journal *const journal = m_journal.get();
    for (const auto &item : sinc) {
        tincoming &entry = *item.object;
        Ttable *bed = entry.table;
        // The second turns the call overdue when its time reaches redSec,
        // also when that same second ends it.
        const bool wasOn = bed->isOn;
        const bool turnsOverdue =
            bed->isOn && bed->curT < std::numeric_limits<qint32>::max() && bed->curT + 1 == redSec;
        try {
            bed->PlusT();
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
        sounds.call(*bed, entry.marks, turnsOverdue);
        if (turnsOverdue && bed->isOn)
            announceCall(CallAlert::Overdue, *bed);
        if (journal) {
            if (turnsOverdue)
                journal->callOverdue(entry.journalId);
            if (wasOn && !bed->isOn)
                journalCallEnded(entry, journal::EndReason::Timeout);
        }
    }
    if (const auto kind = sounds.reminder()) {
        qCDebug(lcCalls) << "reminder";
        *kind == CallKind::WithBill ? WavBill() : WavCall();
    }
    if (sounds.overdue()) {
        qCDebug(lcCalls).noquote() << "overdue sound" << m_safety.OverdueSound;
        m_sounds.play(dataSoundFile(m_files.dataDir, m_safety.OverdueSound));
    }

    // Entries whose call has ended leave the list for good.
    sinc.takeIf([](const tincoming &entry) { return !entry.table->isOn; });
    layOutCallList();

    if (firstError)
        std::rethrow_exception(firstError);
}

void TkrdoMF::layOutCallList()
{
    const qint32 count = qint32(sinc.size());
    CallListRows rows = layCallList(count, maxn);
    if (m_safety.ShowOverflow) {
        const OverflowRows over =
            withOverflowRow(rows, [this](qint32 i) { return sinc.at(i)->table->isRed; });
        rows = over.rows;
        showOverflowRow(over.row(), over.notShown, over.overdue);
    }
    for (qint32 i = 0; i < rows.hidden; ++i)
        sinc.at(i)->HideLabel();
    for (qint32 j = 0; j < rows.shown; ++j)
        sinc.at(count - 1 - j)->ShowLabel(j);
}

void TkrdoMF::showOverflowRow(qint32 row, qint32 notShown, bool overdue)
{
    if (notShown <= 0) {
        m_overflow->hide();
        return;
    }
    m_overflow->setText(overflowText(notShown));
    m_overflow->setColor(overdue ? maroon() : QColor(Qt::black));
    m_overflow->move(at(iPanel->x(), cx), rowTop(iPanel->y(), cy, row, l1->height(), dd));
    m_overflow->show();
}

void TkrdoMF::FormResize()
{
    // The journal's status line, while shown, lies below the rows that fit.
    placeJournalNote();
    maxn = rowsThatFit(height() - journalNoteHeight(), cy, l1->height(), dd);
    placeBanner();
}

} // namespace kalvora
