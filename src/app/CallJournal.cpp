// The call journal as the window keeps it: made when start-up has finished,
// from the settings' [Journal] section; its status as a line below the call
// list; the calls an unclean end left open shown again; closed with the
// console. The handlers feed it where they handle calls (Dispatch.cpp,
// Tick.cpp, Pointer.cpp, Layout.cpp).

#include "TkrdoMF.h"
#include "journal/Journal.h"
#include "journal/Restore.h"
#include "ui/Errors.h"
#include "ui/PictureControl.h"

#include <QLabel>

#include <algorithm>

namespace kalvora {

void TkrdoMF::startJournal()
{
    const journal::JournalSettings settings =
        journal::readJournalSettings(m_files.settingsFile, m_files.dataDir);
    if (!settings.enabled())
        return;
    qCInfo(lcJournal).noquote() << QStringLiteral(
                                       "Call journal %1; calls an unclean end left open %2")
                                       .arg(settings.file,
                                            settings.restoreCalls
                                                ? QStringLiteral("are shown again")
                                                : QStringLiteral("are not shown again"));
    m_journal = std::make_unique<journal::Journal>(settings);
    connect(m_journal.get(), &journal::Journal::statusChanged, this,
            [this](const QString &status) { guarded([&] { showJournalStatus(status); }); });
    if (settings.restoreCalls) {
        connect(m_journal.get(), &journal::Journal::interruptedCallsFound, this,
                [this](const QList<journal::RestorableCall> &calls) {
                    guarded([&] { restoreCalls(calls); });
                });
    }
    m_journal->consoleStarted(
        { redSec, effectiveMaxSec(maxSec, m_safety.KeepUntilCancelled), qint32(sl.size()) });
}

void TkrdoMF::restoreCalls(const QList<journal::RestorableCall> &calls)
{
    if (!isinit || !m_journal)
        return;
    // A bed that has a call again by now (the server called it since the
    // start) keeps that call.
    const QList<journal::RestoredCall> plan =
        journal::planRestore(calls, m_journal->now(), redSec, maxSec, m_safety.KeepUntilCancelled,
                             [this](const QString &code) {
                                 const Ttable *bed = sl.find(code);
                                 return bed && !bed->isOn;
                             });
    // In the order the calls started: the newest ends on top of the list, and
    // its sound is the one heard last.
    std::exception_ptr firstError;
    for (const journal::RestoredCall &restored : plan) {
        journal::RestorableCall call = restored.call;
        // Overdue while no console showed it: from the moment its age reached redSec.
        if (restored.overdue && !call.overdueUtc)
            call.overdueUtc = call.startedUtc + qint64(redSec) * 1000;
        Ttable *bed = sl.find(call.bedCode);
        const CallKind kind =
            call.type == journal::CallType::Bill ? CallKind::WithBill : CallKind::Plain;
        std::exception_ptr pictureError;
        tincoming *entry = startCall(bed, call.bedCode, call.responsible, call.bedName, kind,
                                     m_journal->callRestored(call), &pictureError);
        bed->curT = restored.elapsedSec;
        if (restored.overdue) {
            try {
                bed->ShowRed();
            } catch (...) {
                if (!pictureError)
                    pictureError = std::current_exception();
            }
        }
        if (call.billByRepeat)
            bed->ShowBill();
        if (call.acknowledgedUtc)
            entry->acknowledge();
        if (pictureError && !firstError)
            firstError = pictureError;
    }
    if (!plan.isEmpty()) {
        qCInfo(lcJournal) << plan.size() << "of" << calls.size()
                          << "calls left open by an unclean end are shown again";
        layOutCallList(); // at once, not at the next tick
    }
    if (firstError)
        std::rethrow_exception(firstError);
}

void TkrdoMF::showJournalStatus(const QString &status)
{
    if (status == m_journalNote->text() && status.isEmpty() == m_journalNote->isHidden())
        return;
    m_journalNote->setText(status);
    m_journalNote->setVisible(!status.isEmpty());
    if (!status.isEmpty())
        m_journalNote->raise();
    // The rows that fit change with it; the list follows at once, so that the
    // line never lies over a call.
    FormResize();
    layOutCallList();
}

qint32 TkrdoMF::journalNoteHeight() const
{
    return m_journalNote && !m_journalNote->isHidden() ? m_journalNote->height() : 0;
}

void TkrdoMF::placeJournalNote()
{
    if (!m_journalNote || m_journalNote->isHidden())
        return;
    // As wide as the call-list panel, at the bottom of the window: the list's
    // rows end above it.
    const int width = std::max(1, iPanel->width());
    const int height = m_journalNote->heightForWidth(width);
    m_journalNote->setGeometry(iPanel->x(), this->height() - height, width, height);
}

void TkrdoMF::closeJournal()
{
    if (!m_journal)
        return;
    m_journal->consoleClosed();
    m_journal.reset(); // waits for the last records, a few seconds at most
}

} // namespace kalvora
