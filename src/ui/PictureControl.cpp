#include "PictureControl.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace kalvora {

PictureControl::PictureControl(QWidget *parent, AnimationClock *clock)
    : QWidget(parent)
    , m_clock(clock)
{
    // Pointer moves over a control stop at the control, as on any window
    // system where each control receives the moves over it.
    setMouseTracking(true);
}

PictureControl::~PictureControl()
{
    stopAnimation();
}

LoadOutcome PictureControl::loadFromFile(const QString &path)
{
    const LoadOutcome outcome = m_holder.loadFromFile(path);
    if (outcome != LoadOutcome::NotOpened)
        pictureChanged();
    return outcome;
}

void PictureControl::copyFrom(const PictureHolder &source)
{
    setPicture(source.copyPicture());
}

void PictureControl::setPicture(Picture picture)
{
    m_holder.setPicture(std::move(picture));
    pictureChanged();
}

void PictureControl::setAutoSize(bool on)
{
    m_autoSize = on;
    if (on && m_holder.hasReadablePicture())
        resize(m_holder.picture()->size);
}

void PictureControl::setPlacement(Placement placement)
{
    m_placement = placement;
    updateOpaque();
    update();
}

void PictureControl::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateOpaque();
}

void PictureControl::updateOpaque()
{
    const Picture &p = m_holder.picture();
    if (p.get() != m_opaqueTested) {
        m_opaqueTested = p.get();
        m_opaquePicture = false;
        if (p && p->frames.size() == 1) {
            const QImage &image = p->frames.front().image;
            m_opaquePicture = !image.isNull();
            for (int y = 0; y < image.height() && m_opaquePicture; ++y) {
                const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
                m_opaquePicture = std::all_of(line, line + image.width(),
                                              [](QRgb px) { return qAlpha(px) == 255; });
            }
        }
    }
    // A plan or a panel of a photograph or a JPEG: the window beneath is not
    // painted under it (one fill of the window's colour less per repaint).
    const bool covers = m_opaquePicture
        && (m_placement == Placement::Tile
            || (m_placement == Placement::TopLeft
                && QRect(QPoint(0, 0), p->size).contains(rect())));
    setAttribute(Qt::WA_OpaquePaintEvent, covers);
}

void PictureControl::setAnimate(bool on)
{
    if (m_animate == on)
        return;
    m_animate = on;
    restartAnimation();
}

void PictureControl::pictureChanged()
{
    m_frame = 0;
    if (m_autoSize && m_holder.hasReadablePicture())
        resize(m_holder.picture()->size);
    updateOpaque();
    restartAnimation();
    repaintArea();
}

void PictureControl::repaintArea()
{
    // The control draws no background of its own, so Qt repaints its area from
    // the window down in any case. Asked of the control, Qt first checks it
    // against every control stacked above it, once per control and frame: on a
    // plan of a thousand beds, each with its icon, bill and label, that check
    // cost more than the painting. Asked of the parent, the area is one dirty
    // region of the parent and the same pixels are painted.
    QWidget *parent = parentWidget();
    if (parent && !isWindow()) {
        if (isVisible())
            parent->update(geometry());
    } else {
        update();
    }
}

void PictureControl::restartAnimation()
{
    stopAnimation();
    const Picture &p = m_holder.picture();
    // Controls without a parent (picture stores) never animate, and hidden
    // controls wait until they are shown.
    if (!m_animate || !m_clock || !parentWidget() || !isVisible() || !p || !p->animated())
        return;
    m_animation =
        m_clock->start(p->frames[size_t(m_frame)].delayMs, [this] { return nextFrame(); });
}

void PictureControl::stopAnimation()
{
    if (m_animation && m_clock)
        m_clock->stop(m_animation);
    m_animation = 0;
}

qint64 PictureControl::nextFrame()
{
    const Picture &p = m_holder.picture();
    if (!p || !p->animated()) {
        m_animation = 0;
        return -1;
    }
    m_frame = (m_frame + 1) % int(p->frames.size());
    repaintArea();
    return p->frames[size_t(m_frame)].delayMs;
}

void PictureControl::paintEvent(QPaintEvent *event)
{
    const Picture &p = m_holder.picture();
    if (!p || !p->readable())
        return;
    const QImage &image = p->frames[size_t(m_frame)].image;
    QPainter painter(this);
    switch (m_placement) {
    case Placement::TopLeft:
        // Only the parts to be painted, each on its own: behind a few changed
        // beds the plan is then a few small copies, where one copy of the whole
        // picture through their combined outline is split across threads at a
        // cost far above the copying itself. The pixels are the same.
        for (const QRect &area : event->region()) {
            const QRect part = area & image.rect();
            if (part.isEmpty())
                continue;
            // A clip of one rectangle keeps the painter on its fast paths.
            painter.setClipRect(part);
            painter.drawImage(part.topLeft(), image, part);
        }
        break;
    case Placement::Center:
        painter.drawImage((width() - image.width()) / 2, (height() - image.height()) / 2, image);
        break;
    case Placement::Tile:
        for (int y = 0; y < height(); y += image.height())
            for (int x = 0; x < width(); x += image.width())
                painter.drawImage(x, y, image);
        break;
    }
}

void PictureControl::mouseMoveEvent(QMouseEvent *event)
{
    if (onMouseMove)
        onMouseMove(event->position().toPoint());
    event->accept();
}

void PictureControl::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    if (onMouseDown)
        onMouseDown(event->button(), event->position().toPoint());
    event->accept();
}

void PictureControl::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton
        && rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click && onClick)
        onClick();
    event->accept();
}

void PictureControl::contextMenuEvent(QContextMenuEvent *event)
{
    if (!m_menu) {
        event->ignore(); // the window beneath shows its own menu
        return;
    }
    m_menu->popup(event->globalPos());
    event->accept();
}

void PictureControl::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    restartAnimation();
}

void PictureControl::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    stopAnimation();
}

} // namespace kalvora
