#include "PlanLayer.h"

#include "TextLabel.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <optional>

namespace kalvora {

// ---- MarkerPart ------------------------------------------------------------

MarkerPart::MarkerPart(PlanLayer *layer)
    : m_layer(layer)
    , m_order(layer->addPart(this))
{
}

MarkerPart::~MarkerPart()
{
    m_layer->removePart(this);
}

void MarkerPart::setGeometry(const QRect &rect)
{
    if (rect == m_rect)
        return;
    if (m_hidden)
        m_rect = rect;
    else
        m_layer->partGeometryChanging(this, rect);
}

void MarkerPart::move(int x, int y)
{
    setGeometry(QRect(QPoint(x, y), m_rect.size()));
}

void MarkerPart::resize(QSize size)
{
    setGeometry(QRect(m_rect.topLeft(), size));
}

QPoint MarkerPart::mapTo(const QWidget *ancestor, QPoint p) const
{
    const QPoint inLayer = pos() + p;
    return ancestor == m_layer ? inLayer : m_layer->mapTo(ancestor, inLayer);
}

bool MarkerPart::isVisible() const
{
    return !m_hidden && m_layer->isVisible();
}

void MarkerPart::setVisible(bool visible)
{
    if (m_hidden != visible)
        return;
    m_layer->partShownChanging(this, visible);
    visibilityChanged();
}

void MarkerPart::setToolTip(const QString &text)
{
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    m_layer->partToolTipChanged(this);
}

void MarkerPart::setCursor(const QCursor &cursor)
{
    if (m_hasCursor && m_cursor == cursor.shape())
        return;
    m_cursor = cursor.shape();
    m_hasCursor = true;
    m_layer->partCursorChanged(this);
}

void MarkerPart::unsetCursor()
{
    if (!m_hasCursor)
        return;
    m_hasCursor = false;
    m_cursor = Qt::ArrowCursor;
    m_layer->partCursorChanged(this);
}

void MarkerPart::repaint(bool frame) const
{
    if (!m_hidden)
        m_layer->repaintArea(m_rect, frame);
}

// ---- MarkerPicture ---------------------------------------------------------

MarkerPicture::MarkerPicture(PlanLayer *layer, AnimationClock *clock)
    : MarkerPart(layer)
    , m_clock(clock)
{
    layer->addPicture(this);
}

MarkerPicture::~MarkerPicture()
{
    stopAnimation();
    layer()->removePicture(this);
}

void MarkerPicture::copyFrom(const PictureHolder &source)
{
    setPicture(source.copyPicture());
}

void MarkerPicture::setPicture(Picture picture)
{
    m_holder.setPicture(std::move(picture));
    m_frame = 0;
    if (m_autoSize && m_holder.hasReadablePicture() && m_holder.picture()->size != size())
        resize(m_holder.picture()->size); // repaints where it was and where it is
    else
        repaint();
    restartAnimation();
}

void MarkerPicture::setAutoSize(bool on)
{
    m_autoSize = on;
    if (on && m_holder.hasReadablePicture())
        resize(m_holder.picture()->size);
}

void MarkerPicture::setAnimate(bool on)
{
    if (m_animate == on)
        return;
    m_animate = on;
    restartAnimation();
}

void MarkerPicture::visibilityChanged()
{
    restartAnimation();
}

void MarkerPicture::restartAnimation()
{
    stopAnimation();
    const Picture &p = m_holder.picture();
    // Hidden parts, and parts of a layer that is not on the screen, wait
    // until they are shown.
    if (!m_animate || !m_clock || !isVisible() || !p || !p->animated())
        return;
    m_animation =
        m_clock->start(p->frames[size_t(m_frame)].delayMs, [this] { return nextFrame(); });
}

void MarkerPicture::stopAnimation()
{
    if (m_animation && m_clock)
        m_clock->stop(m_animation);
    m_animation = 0;
}

qint64 MarkerPicture::nextFrame()
{
    const Picture &p = m_holder.picture();
    if (!p || !p->animated()) {
        m_animation = 0;
        return -1;
    }
    m_frame = (m_frame + 1) % int(p->frames.size());
    repaint(true);
    return p->frames[size_t(m_frame)].delayMs;
}

void MarkerPicture::paint(QPainter &painter, const QRect &area)
{
    const Picture &p = m_holder.picture();
    if (!p || !p->readable())
        return;
    const QImage &image = p->frames[size_t(m_frame)].image;
    const QRect part = area.translated(-pos()) & image.rect();
    if (!part.isEmpty())
        painter.drawImage(part.topLeft() + pos(), image, part);
}

// ---- MarkerLabel -----------------------------------------------------------

MarkerLabel::MarkerLabel(PlanLayer *layer)
    : MarkerPart(layer)
{
    relayout();
}

MarkerLabel::~MarkerLabel()
{
    layer()->dropLabelImage(this);
}

void MarkerLabel::setText(const QString &text)
{
    if (text == m_caption)
        return;
    m_caption = text;
    relayout();
}

void MarkerLabel::setLabelFont(const QFont &font)
{
    m_font = font;
    relayout();
}

void MarkerLabel::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    layer()->dropLabelImage(this);
    m_drawnOnce = false;
    repaint();
}

void MarkerLabel::setCentered(bool centered)
{
    if (centered == m_centered)
        return;
    m_centered = centered;
    layer()->dropLabelImage(this);
    repaint();
}

void MarkerLabel::relayout()
{
    layer()->dropLabelImage(this);
    m_drawnOnce = false;
    const LabelLayout laid = layLabel(m_caption, m_font);
    m_lineWidths = laid.widths;
    const QSize size = laid.size;
    if (size == this->size())
        repaint();
    else
        resize(size); // repaints where it was and where it is
}

void MarkerLabel::render(QPainter &painter) const
{
    // Measured once, when the text was set: only the lines are found again.
    LabelLayout laid = splitLabel(m_caption);
    laid.widths = m_lineWidths;
    laid.size = size();
    painter.setPen(m_color);
    drawLabel(painter, laid, m_font, QPoint(0, 0), m_centered);
}

void MarkerLabel::paint(QPainter &painter, const QRect &area)
{
    // Drawn afresh the first time: most labels of a large ward are painted
    // once, at start-up, and an image of each would cost more than the text.
    // One painted again is kept as an image. Both give the same pixels.
    const QImage *image = m_drawnOnce ? layer()->labelImage(*this) : nullptr;
    m_drawnOnce = true;
    if (!image) {
        // Within the painter's clip, which is the area.
        painter.translate(pos());
        render(painter);
        painter.translate(-pos());
        return;
    }
    if (image->isNull())
        return; // nothing inked
    if (m_imageRatio == 1) {
        const QPoint origin = pos() + m_inkOffset;
        const QRect part = area.translated(-origin) & image->rect();
        if (!part.isEmpty())
            painter.drawImage(part.topLeft() + origin, *image, part);
    } else {
        // Within the painter's clip, which is the area.
        painter.drawImage(QPointF(pos()) + QPointF(m_inkOffset) / m_imageRatio, *image);
    }
}

// ---- Marker ----------------------------------------------------------------

Marker::Marker(PlanLayer *layer, AnimationClock *clock)
    : icon(layer, clock)
    , bill(layer, clock)
    , label(layer)
    , m_layer(layer)
{
    layer->addMarker(this);
}

Marker::~Marker()
{
    dropAccessible();
    m_layer->removeMarker(this);
}

QRect Marker::rect() const
{
    QRect r;
    for (const MarkerPart *part :
         { static_cast<const MarkerPart *>(&icon), static_cast<const MarkerPart *>(&bill),
           static_cast<const MarkerPart *>(&label) }) {
        if (!part->isHidden())
            r |= part->geometry();
    }
    return r;
}

QString Marker::name() const
{
    return parseAccelerators(label.text()).text;
}

// ---- PlanLayer -------------------------------------------------------------

PlanLayer::PlanLayer(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("planLayer"));
    setMouseTracking(true);
    if (parent) {
        setGeometry(parent->rect());
        parent->installEventFilter(this);
        parent->window()->installEventFilter(this);
    }
    m_dirty.resize(size());
    m_frames.resize(size());
    // A timer rather than a posted call: it comes after the socket and the
    // timers have had their turn.
    m_nextBand.setSingleShot(true);
    m_nextBand.setInterval(0);
    connect(&m_nextBand, &QTimer::timeout, this, [this] {
        if (!m_frames.isEmpty())
            askForRepaint(m_frames.firstPixel());
    });
}

PlanLayer::~PlanLayer() = default;

bool PlanLayer::eventFilter(QObject *watched, QEvent *event)
{
    // As large as the window, always.
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    // The window is about to repaint: the areas gathered so far go with it,
    // and those asked for until the layer paints go to the window at once.
    if (watched == window() && event->type() == QEvent::UpdateRequest) {
        m_inWindowRepaint = true;
        m_repaintAsked = false;
        QRegion area = m_dirty.take();
        if (!m_frames.isEmpty())
            area += m_frames.take(kFrameRows);
        if (!area.isEmpty())
            update(area);
        if (!m_frames.isEmpty())
            m_nextBand.start();
    }
    return false;
}

void PlanLayer::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_dirty.resize(size()); // a resized layer is repainted whole
    m_frames.resize(size());
    m_repaintAsked = false;
}

quint64 PlanLayer::addPart(MarkerPart *)
{
    return m_nextOrder++;
}

void PlanLayer::removePart(MarkerPart *part)
{
    if (!part->m_hidden) {
        repaintArea(part->m_rect);
        m_index.forget(part);
    }
    if (m_grab.part == part)
        m_grab.part = nullptr;
    if (m_tipPart == part) {
        QToolTip::hideText();
        m_tipPart = nullptr;
    }
}

void PlanLayer::partGeometryChanging(MarkerPart *part, const QRect &next)
{
    const QRect before = part->m_rect;
    repaintArea(before);
    m_index.remove(part);
    part->m_rect = next;
    m_index.insert(part);
    repaintArea(next);
    if (m_pointerInside && (before.contains(m_pointer) || next.contains(m_pointer)))
        refreshCursor();
}

void PlanLayer::partShownChanging(MarkerPart *part, bool shown)
{
    if (shown) {
        part->m_hidden = false;
        m_index.insert(part);
        repaintArea(part->m_rect);
    } else {
        repaintArea(part->m_rect);
        m_index.remove(part);
        part->m_hidden = true;
        if (m_tipPart == part) {
            QToolTip::hideText();
            m_tipPart = nullptr;
        }
    }
    if (m_pointerInside && part->m_rect.contains(m_pointer))
        refreshCursor();
}

void PlanLayer::partCursorChanged(MarkerPart *part)
{
    if (m_pointerInside && !part->m_hidden && part->m_rect.contains(m_pointer))
        refreshCursor();
}

void PlanLayer::partToolTipChanged(MarkerPart *part)
{
    if (m_tipPart == part) {
        QToolTip::hideText();
        m_tipPart = nullptr;
    }
}

void PlanLayer::addMarker(Marker *marker)
{
    marker->m_slot = m_markers.size();
    m_markers.push_back(marker);
}

void PlanLayer::removeMarker(Marker *marker)
{
    m_markers[marker->m_slot] = nullptr;
    ++m_removedMarkers;
}

const std::vector<Marker *> &PlanLayer::markers() const
{
    if (m_removedMarkers > 0) {
        std::erase(m_markers, nullptr);
        for (size_t i = 0; i < m_markers.size(); ++i)
            m_markers[i]->m_slot = i;
        m_removedMarkers = 0;
    }
    return m_markers;
}

void PlanLayer::addPicture(MarkerPicture *picture)
{
    picture->m_slot = m_pictures.size();
    m_pictures.push_back(picture);
}

void PlanLayer::removePicture(MarkerPicture *picture)
{
    MarkerPicture *last = m_pictures.back();
    m_pictures[picture->m_slot] = last;
    last->m_slot = picture->m_slot;
    m_pictures.pop_back();
}

void PlanLayer::repaintArea(const QRect &wanted, bool frame)
{
    // Off the layer there is nothing to repaint (and asking the window for
    // nothing would not bring the repaint the gathered areas wait for).
    const QRect area = wanted & rect();
    if (area.isEmpty() || !isVisible())
        return;
    // Each area handed to the window is merged into its region to repaint
    // at a cost that grows with the areas already there, and the region
    // becomes the clip of every control painting beneath, where a clip of
    // many pieces takes slow paths: gathered on tiles, a crowded plan's
    // changes are a few large rectangles instead.
    if (m_inWindowRepaint && !frame) {
        update(area);
        return;
    }
    (frame ? m_frames : m_dirty).add(area);
    askForRepaint(area);
}

void PlanLayer::askForRepaint(const QRect &area)
{
    if (m_repaintAsked)
        return;
    m_repaintAsked = true;
    update(area);
}

void PlanLayer::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    for (MarkerPicture *picture : std::as_const(m_pictures))
        picture->visibilityChanged();
}

void PlanLayer::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_dirty.take(); // shown again, the layer is repainted whole
    m_frames.take();
    m_repaintAsked = false;
    for (MarkerPicture *picture : std::as_const(m_pictures))
        picture->visibilityChanged();
}

// ---- drawing ---------------------------------------------------------------

void PlanLayer::paintEvent(QPaintEvent *event)
{
    m_inWindowRepaint = false;
    QPainter painter(this);
    std::vector<MarkerPart *> &parts = m_painting;
    for (const QRect &area : event->region()) {
        // A clip of one rectangle keeps the painter on its fast paths.
        painter.setClipRect(area);
        parts.clear();
        m_index.forEachMeeting(area, [&parts](MarkerPart *part) { parts.push_back(part); });
        std::sort(parts.begin(), parts.end(),
                  [](const MarkerPart *a, const MarkerPart *b) { return a->m_order < b->m_order; });
        for (MarkerPart *part : parts) {
            part->paint(painter, part->m_rect & area);
            if (onPartPainted)
                onPartPainted(*part);
        }
    }
}

void PlanLayer::setLabelCacheLimit(qsizetype bytes)
{
    m_labelLimit = std::max<qsizetype>(0, bytes);
    while (m_labelBytes > m_labelLimit && !m_recentLabels.empty())
        dropLabelImage(m_recentLabels.back());
}

const QImage *PlanLayer::labelImage(MarkerLabel &label)
{
    const qreal ratio = devicePixelRatioF();
    if (label.m_imageRatio == ratio) {
        if (label.m_recent != m_recentLabels.begin())
            m_recentLabels.splice(m_recentLabels.begin(), m_recentLabels, label.m_recent);
        return &label.m_image;
    }
    dropLabelImage(&label);
    const QSize pixels(int(std::ceil(label.width() * ratio)),
                       int(std::ceil(label.height() * ratio)));
    // A label larger than a quarter of what is kept is not kept.
    if (qint64(pixels.width()) * pixels.height() * 4 > m_labelLimit / 4)
        return nullptr;
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        label.render(p);
    }
    // Most of a label's pixels are clear, and clear pixels cost as much to
    // draw as inked ones: only the inked rectangle is kept.
    QRect ink;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        int left = 0, right = image.width() - 1;
        while (left <= right && qAlpha(line[left]) == 0)
            ++left;
        while (right >= left && qAlpha(line[right]) == 0)
            --right;
        if (left <= right)
            ink |= QRect(left, y, right - left + 1, 1);
    }
    label.m_inkOffset = ink.topLeft();
    label.m_image = ink.isEmpty() ? QImage()
        : ink == image.rect()     ? std::move(image)
                                  : image.copy(ink);
    label.m_imageRatio = ratio;
    m_recentLabels.push_front(&label);
    label.m_recent = m_recentLabels.begin();
    m_labelBytes += label.m_image.sizeInBytes();
    while (m_labelBytes > m_labelLimit && m_recentLabels.size() > 1)
        dropLabelImage(m_recentLabels.back());
    return &label.m_image;
}

void PlanLayer::dropLabelImage(MarkerLabel *label)
{
    if (label->m_imageRatio == 0)
        return;
    m_labelBytes -= label->m_image.sizeInBytes();
    m_recentLabels.erase(label->m_recent);
    label->m_image = QImage();
    label->m_imageRatio = 0;
}

// ---- the pointer -----------------------------------------------------------

MarkerPart *PlanLayer::partAt(QPoint p) const
{
    MarkerPart *top = nullptr;
    m_index.forEachMeeting(QRect(p, QSize(1, 1)), [&top](MarkerPart *part) {
        if (!top || part->m_order > top->m_order)
            top = part;
    });
    return top;
}

QWidget *PlanLayer::widgetBeneath(QPoint p) const
{
    QWidget *window = parentWidget();
    if (!window)
        return nullptr;
    const QPoint inWindow = mapToParent(p);
    const QObjectList &siblings = window->children();
    // Children are stacked in the order of this list, the last on top.
    for (qsizetype i = siblings.indexOf(this) - 1; i >= 0; --i) {
        auto *w = qobject_cast<QWidget *>(siblings[i]);
        if (!w || w->isWindow() || w->isHidden()
            || w->testAttribute(Qt::WA_TransparentForMouseEvents))
            continue;
        const QPoint local = w->mapFromParent(inWindow);
        if (!w->rect().contains(local) || (!w->mask().isEmpty() && !w->mask().contains(local)))
            continue;
        QWidget *child = w->childAt(local);
        return child ? child : w;
    }
    return window;
}

PlanLayer::Target PlanLayer::targetAt(QPoint p) const
{
    if (MarkerPart *part = partAt(p))
        return { part, nullptr };
    return { nullptr, widgetBeneath(p) };
}

void PlanLayer::forward(QWidget *widget, QMouseEvent *event)
{
    const QPointF inWindow = mapToParent(event->position());
    const QPointF local =
        widget == parentWidget() ? inWindow : widget->mapFrom(parentWidget(), inWindow);
    QMouseEvent copy(event->type(), local, event->scenePosition(), event->globalPosition(),
                     event->button(), event->buttons(), event->modifiers(),
                     event->pointingDevice());
    copy.setTimestamp(event->timestamp());
    // Not accepted there, it goes on to that control's parents, as it would
    // without the layer; here it is done with either way.
    QCoreApplication::sendEvent(widget, &copy);
}

void PlanLayer::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    const QPoint p = event->position().toPoint();
    if (m_grabbing && event->buttons() == Qt::NoButton) {
        // The release went elsewhere (a popup menu took it).
        m_grabbing = false;
        m_grab = {};
    }
    if (m_grabbing) {
        // The button is held: moves go where the press went.
        if (MarkerPart *part = m_grab.part) {
            if (part->onMouseMove)
                part->onMouseMove(p - part->pos());
        } else if (m_grab.widget) {
            forward(m_grab.widget, event);
        }
        return;
    }
    m_pointer = p;
    m_pointerInside = true;
    const Target under = targetAt(p);
    if (under.part) {
        if (under.part->onMouseMove)
            under.part->onMouseMove(p - under.part->pos());
    } else if (under.widget) {
        forward(under.widget, event);
    }
    // The handler may have moved parts.
    refreshCursor();
}

void PlanLayer::press(QMouseEvent *event)
{
    event->accept();
    const QPoint p = event->position().toPoint();
    if (!m_grabbing || event->buttons() == event->button()) {
        m_grab = targetAt(p);
        m_grabbing = true;
    }
    if (MarkerPart *part = m_grab.part) {
        if (part->onMouseDown)
            part->onMouseDown(event->button());
    } else if (m_grab.widget) {
        forward(m_grab.widget, event);
    }
}

void PlanLayer::mousePressEvent(QMouseEvent *event)
{
    press(event);
}

void PlanLayer::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a double click is a press; a control beneath gets
    // the double click itself, and by default takes it as a press.
    press(event);
}

void PlanLayer::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (m_grabbing && !m_grab.part && m_grab.widget)
        forward(m_grab.widget, event);
    if (event->buttons() == Qt::NoButton) {
        m_grabbing = false;
        m_grab = {};
        m_pointer = event->position().toPoint();
        m_pointerInside = rect().contains(m_pointer);
        refreshCursor();
    }
}

void PlanLayer::contextMenuEvent(QContextMenuEvent *event)
{
    // The menu of the place the press went to.
    const Target target = m_grabbing ? m_grab : targetAt(event->pos());
    if (MarkerPart *part = target.part) {
        if (QMenu *menu = part->popupMenu()) {
            menu->popup(event->globalPos());
            event->accept();
        } else {
            event->ignore(); // the window's own menu
        }
        return;
    }
    QWidget *widget = target.widget;
    if (!widget || widget == parentWidget()) {
        event->ignore();
        return;
    }
    const QPoint inWindow = mapToParent(event->pos());
    QContextMenuEvent copy(event->reason(), widget->mapFrom(parentWidget(), inWindow),
                           event->globalPos(), event->modifiers());
    QCoreApplication::sendEvent(widget, &copy);
    event->accept();
}

void PlanLayer::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    m_pointerInside = false;
}

bool PlanLayer::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto *help = static_cast<QHelpEvent *>(event);
    const Target under = targetAt(help->pos());
    if (MarkerPart *part = under.part) {
        if (part->toolTip().isEmpty()) {
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), part->toolTip(), this, part->geometry());
            m_tipPart = part;
        }
        return true;
    }
    QWidget *widget = under.widget;
    if (!widget || widget == parentWidget()) {
        event->ignore();
        return true;
    }
    QHelpEvent copy(QEvent::ToolTip, widget->mapFrom(parentWidget(), mapToParent(help->pos())),
                    help->globalPos());
    QCoreApplication::sendEvent(widget, &copy);
    return true;
}

void PlanLayer::refreshCursor()
{
    if (!m_grabbing && m_pointerInside)
        refreshCursor(targetAt(m_pointer));
}

void PlanLayer::refreshCursor(const Target &under)
{
    // The pointer shape of what is under the pointer, as the window system
    // would show it for a control of its own.
    std::optional<Qt::CursorShape> shape;
    if (under.part) {
        if (under.part->m_hasCursor)
            shape = under.part->m_cursor;
    } else if (under.widget && under.widget != parentWidget()
               && under.widget->testAttribute(Qt::WA_SetCursor)) {
        shape = under.widget->cursor().shape();
    }
    if (shape) {
        if (!testAttribute(Qt::WA_SetCursor) || cursor().shape() != *shape)
            setCursor(*shape);
    } else if (testAttribute(Qt::WA_SetCursor)) {
        unsetCursor();
    }
}

} // namespace kalvora
