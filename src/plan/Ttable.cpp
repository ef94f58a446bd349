#include "Ttable.h"

#include "calls/AccessibleText.h"
#include "ui/Coordinates.h"
#include "ui/Errors.h"
#include "ui/PlanLayer.h"

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
    , m_marker(std::make_unique<Marker>(context.layer, context.clock))
    , m_hint(l)
    , m_context(context)
{
    // The parts go with the marker if a picture copy fails below: no half
    // marker is left on the plan.
    iT = &m_marker->icon;
    iB = &m_marker->bill;
    lab = &m_marker->label;
    m_marker->description = this;

    iT->setAutoSize(true);
    iT->setAnimate(true);
    iT->copyFrom(kindPicture(context.iTable));
    iT->setToolTip(m_hint);
    iT->onMouseMove = [this](QPoint p) {
        if (m_context.onMove)
            m_context.onMove(p + iT->pos());
    };
    iT->onMouseDown = [this](Qt::MouseButton button) {
        if (m_context.onDown)
            m_context.onDown(button);
    };

    iB->setAnimate(true);
    iB->setAutoSize(true);
    if (!context.billPicture)
        throw KalvoraError(QStringLiteral("Could not load image. Invalid format"));
    iB->copyFrom(*context.billPicture);
    iB->setPopupMenu(context.billMenu);

    lab->setLabelFont(context.labelFont);
    lab->setCentered(true);
    lab->onMouseDown = [this](Qt::MouseButton button) {
        if (m_context.onDown)
            m_context.onDown(button);
    };
    lab->setText(l);

    iT->show();
    Pos(dx, dy);
    lab->show();
}

Ttable::~Ttable() = default;

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
    m_marker->accessibleUpdate();
}

void Ttable::updateHint()
{
    // The name the bed was created with; off while the bed is being moved.
    iT->setToolTip(isDrag ? QString() : m_hint);
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
    m_marker->accessibleUpdate();
}

void Ttable::ShowBill()
{
    iB->show();
    m_marker->accessibleUpdate();
}

void Ttable::PlusT()
{
    if (!isOn)
        return;
    // The state moves first; the pictures follow.
    const CallState::Tick tick = advance(m_context.redSec, m_context.maxSec);
    if (tick.ended) {
        // Overdue and ended on the same tick: the overdue picture is never
        // seen, so it is not needed either.
        iB->hide();
        ShowTable();
    } else if (tick.turnedRed) {
        iT->copyFrom(kindPicture(m_context.iRedTable));
    }
    m_marker->accessibleUpdate(); // the call's time, at least
}

void Ttable::Hide()
{
    iB->hide();
    iT->hide();
    lab->hide();
    m_marker->accessibleUpdate();
}

QString Ttable::accessibleName() const
{
    BedSpeech speech;
    speech.name = m_marker->name();
    speech.code = code;
    speech.state = !isOn ? BedSpeech::State::Idle
        : isRed          ? BedSpeech::State::Overdue
                         : BedSpeech::State::Calling;
    speech.bill = !iB->isHidden();
    speech.acknowledged = isOn && m_context.acknowledged && m_context.acknowledged(*this);
    speech.seconds = curT;
    return bedAccessibleName(speech);
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
