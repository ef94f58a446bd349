#include "Ttable.h"

#include "ui/Coordinates.h"
#include "ui/Errors.h"
#include "ui/PictureControl.h"
#include "ui/TextLabel.h"

namespace kalvora {

std::unique_ptr<Ttable> Ttable::Create(QStringView line, const TableContext &context)
{
    auto record = parseBedLine(line);
    if (!record)
        throw KalvoraError(record.error());
    return std::make_unique<Ttable>(record.value(), context);
}

Ttable::Ttable(const BedRecord &record, const TableContext &context)
    : BedRecord(record)
    , m_context(context)
{
    // Owned by this bed until the end of the constructor hands them over; a
    // failed picture copy must not leave half a marker on the plan.
    auto icon = std::make_unique<PictureControl>(context.parent, context.clock);
    auto bill = std::make_unique<PictureControl>(context.parent, context.clock);
    auto label = std::make_unique<TextLabel>(context.parent);

    icon->hide();
    icon->setAutoSize(true);
    icon->setAnimate(true);
    icon->copyFrom(kindPicture(context.iTable));
    icon->setToolTip(l);
    icon->onMouseMove = [this](QPoint p) {
        if (m_context.onMove)
            m_context.onMove(p + iT->pos());
    };
    icon->onMouseDown = [this](Qt::MouseButton button, QPoint) {
        if (m_context.onDown)
            m_context.onDown(button);
    };

    bill->hide();
    bill->setAnimate(true);
    bill->setAutoSize(true);
    if (!context.billPicture)
        throw KalvoraError(QStringLiteral("Could not load image. Invalid format"));
    bill->copyFrom(*context.billPicture);
    bill->setPopupMenu(context.billMenu);

    label->hide();
    label->setLabelFont(context.labelFont);
    label->setCentered(true);
    label->onMouseDown = [this](Qt::MouseButton button) {
        if (m_context.onDown)
            m_context.onDown(button);
    };
    label->setText(l);

    iT = icon.release();
    iB = bill.release();
    lab = label.release();
    iT->show();
    Pos(dx, dy);
    lab->show();
}

Ttable::~Ttable()
{
    delete iB;
    delete iT;
    delete lab;
}

const PictureHolder &Ttable::kindPicture(const KindPictures *set) const
{
    static const PictureHolder none;
    if (!set)
        return none;
    const int kind = imagenumber >= 0 && imagenumber < kKindCount ? imagenumber : 0;
    return (*set)[size_t(kind)];
}

void Ttable::Pos(qint32 x, qint32 y)
{
    iT->move(at(x, -(iT->width() / 2)), at(y, -(iT->height() / 2)));
    iB->move(at(x, m_context.bdx, -(iB->width() / 2)), at(y, m_context.bdy, -(iB->height() / 2)));
    lab->setText(l);
    lab->move(at(x, -(lab->width() / 2)), at(y, -(lab->height() / 2)));
    updateHint();
}

void Ttable::updateHint()
{
    // The hint follows the name the label shows; it is off while moving.
    const QString hint = isDrag ? QString() : l;
    if (iT->toolTip() != hint)
        iT->setToolTip(hint);
}

void Ttable::ShowTable()
{
    const KindPictures *set = !isOn ? m_context.iTable
        : isRed                     ? m_context.iRedTable
                                    : m_context.iGreenTable;
    iT->copyFrom(kindPicture(set));
    Pos(dx, dy);
}

void Ttable::ShutOn()
{
    startCall();
    iB->hide();
    ShowTable();
}

void Ttable::ShutOff()
{
    endCall();
    iB->hide();
    ShowTable();
}

void Ttable::ShowRed()
{
    isRed = true;
    iT->copyFrom(kindPicture(m_context.iRedTable));
}

void Ttable::ShowBill()
{
    iB->show();
}

void Ttable::PlusT()
{
    if (!isOn)
        return;
    // The state moves first; the pictures follow.
    const CallState::Tick tick = advance(m_context.redSec, m_context.maxSec);
    if (tick.turnedRed)
        iT->copyFrom(kindPicture(m_context.iRedTable));
    if (tick.ended) {
        iB->hide();
        ShowTable();
    }
}

void Ttable::Hide()
{
    iB->hide();
    iT->hide();
    lab->hide();
}

bool Ttable::MouseOver(qint32 mx, qint32 my) const
{
    const QRect r = iT->geometry();
    return r.left() <= mx && mx <= r.left() + r.width() && r.top() <= my
        && my <= r.top() + r.height();
}

void Ttable::setDragging(bool dragging)
{
    isDrag = dragging;
    if (dragging) {
        iT->setCursor(Qt::DragMoveCursor);
        lab->setCursor(Qt::DragMoveCursor);
    } else {
        iT->unsetCursor();
        lab->unsetCursor();
    }
    updateHint();
}

} // namespace kalvora
