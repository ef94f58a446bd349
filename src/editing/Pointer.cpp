// Pointer handling, the two modes and the popup menus.

#include "FormTable.h"
#include "app/TkrdoMF.h"
#include "journal/Journal.h"
#include "ui/Errors.h"
#include "ui/PictureControl.h"

#include <QAction>
#include <QTimer>

namespace kalvora {

qsizetype TkrdoMF::GetCurTableNumber(qint32 xm, qint32 ym) const
{
    // The last bed that matches wins, so where icons overlap the one later in
    // the list is found.
    for (qsizetype i = sl.size() - 1; i >= 0; --i) {
        if (sl.at(i)->MouseOver(xm, ym))
            return i;
    }
    return -1;
}

void TkrdoMF::FormMouseMove(qint32 X, qint32 Y)
{
    if (!isinit)
        return;
    if (!curTable || !curTable->isDrag) {
        const qsizetype n = GetCurTableNumber(X, Y);
        curTable = n >= 0 ? sl.at(n) : nullptr;
    }
    if (curMode == 1 && curTable && curTable->isDrag) {
        curTable->dx = X;
        curTable->dy = Y;
        curTable->Pos(X, Y);
    }
    m_popupMenu = curTable ? PopupMenu2 : PopupMenu1;
}

void TkrdoMF::FormMouseDown(Qt::MouseButton Button)
{
    if (!isinit || Button != Qt::LeftButton || !curTable)
        return;
    if (curMode == 1) {
        curTable->setDragging(!curTable->isDrag);
        return;
    }
    // Neither acknowledging nor ending a call is told to the server.
    tincoming *entry = nullptr;
    for (const auto &item : sinc) {
        if (item.object->table == curTable)
            entry = item.object.get();
    }
    if (leftClickOutcome(m_safety.ClickAction, curTable->isOn, entry ? &entry->marks : nullptr)
        == ClickOutcome::Acknowledge) {
        entry->acknowledge(); // the bed keeps calling
        if (m_journal)
            m_journal->callAcknowledged(entry->journalId);
        return;
    }
    if (m_journal && entry && curTable->isOn)
        journalCallEnded(*entry, journal::EndReason::Click);
    curTable->ShutOff();
}

void TkrdoMF::iBackgroundMouseMove(qint32 X, qint32 Y)
{
    if (isinit)
        FormMouseMove(X + iBackground->x(), Y + iBackground->y());
}

void TkrdoMF::iPanelMouseMove(qint32 X, qint32 Y)
{
    if (isinit)
        FormMouseMove(X + iPanel->x(), Y + iPanel->y());
}

void TkrdoMF::iBackgroundMouseDown(Qt::MouseButton Button)
{
    if (isinit)
        guarded([&] { FormMouseDown(Button); });
}

void TkrdoMF::iPanelMouseDown(Qt::MouseButton Button)
{
    if (isinit)
        guarded([&] { FormMouseDown(Button); });
}

void TkrdoMF::nm1Click()
{
    if (nm1->isChecked()) {
        nm1->setChecked(false);
        nm1_->setChecked(false);
        curMode = 0;
        // A bed still picked up is put down where it is; held, it would stay
        // the target of every later click and of the bed menu's commands.
        if (curTable && curTable->isDrag)
            curTable->setDragging(false);
        setWindowTitle(*linkTitle(TitleMoment::MoveModeLeft, false, m_link.isLost(), onServer));
    } else {
        nm1->setChecked(true);
        nm1_->setChecked(true);
        setWindowTitle(QStringLiteral("Kalvora: Режим перетаскивания коек."));
        curMode = 1;
    }
}

void TkrdoMF::nm2Click()
{
    // The two items with this caption always show the same mark.
    const bool on = !nm2->isChecked();
    nm2->setChecked(on);
    nm2_->setChecked(on);
}

void TkrdoMF::N1Click()
{
    if (!curTable || !FormTable)
        return;
    Ttable *bed = curTable;
    bed->ToEditForm(*FormTable);
    const int result = FormTable->exec();
    // Events may have deleted nothing here (beds are deleted only from the
    // menu), but the bed must still be in the list to take the changes.
    if (result == QDialog::Accepted && sl.indexOf(bed) >= 0)
        bed->FromEditForm(*FormTable);
}

void TkrdoMF::N2Click()
{
    if (!curTable)
        return;
    if (!confirmBox(QStringLiteral("?"), QStringLiteral("Действительно удалить эту койку?")))
        return;
    Ttable *bed = curTable;
    if (sl.indexOf(bed) < 0)
        return;
    for (qsizetype i = 0; i < sinc.size(); ++i) {
        if (sinc.at(i)->table == bed) {
            if (m_journal && bed->isOn)
                journalCallEnded(*sinc.at(i), journal::EndReason::BedDeleted);
            sinc.takeAt(i); // destroyed here, its line with it
            break;
        }
    }
    std::unique_ptr<Ttable> removed = sl.takeAt(sl.indexOf(bed));
    removed->Hide();
    removed.reset();
    curTable = nullptr;
    // The tick is on afterwards and keeps its rhythm: a deletion does not hold
    // back the other calls' timing.
    if (!TimerPlus->isActive())
        TimerPlus->start();
}

} // namespace kalvora
