#include "Accessibility.h"

#include "PlanLayer.h"
#include "TextLabel.h"

#include <QWindow>

#include <algorithm>
#include <utility>

namespace kalvora {

// ---- events ----------------------------------------------------------------

void sendAccessibleEvent(QAccessibleInterface *iface, QAccessible::Event type)
{
    if (!iface || !QAccessible::isActive())
        return;
    QAccessibleEvent event(iface, type);
    QAccessible::updateAccessibility(&event);
}

void VirtualAccessible::remember()
{
    m_name = text(QAccessible::Name);
    m_rect = rect();
    m_shown = !state().invisible;
}

void VirtualAccessible::update()
{
    const QString name = m_name;
    const QRect place = m_rect;
    const bool shown = m_shown;
    remember();
    if (m_shown != shown)
        sendAccessibleEvent(this, m_shown ? QAccessible::ObjectShow : QAccessible::ObjectHide);
    if (m_name != name)
        sendAccessibleEvent(this, QAccessible::NameChanged);
    if (m_shown && m_rect != place)
        sendAccessibleEvent(this, QAccessible::LocationChanged);
}

// ---- a marker --------------------------------------------------------------

QString Marker::accessibleName() const
{
    return description ? description->accessibleName() : name();
}

void Marker::accessibleUpdate()
{
    if (!m_accessibleId || !QAccessible::isActive())
        return;
    // Only MarkerAccessible interfaces are registered under a marker's id.
    if (auto *iface =
            static_cast<VirtualAccessible *>(QAccessible::accessibleInterface(m_accessibleId)))
        iface->update();
}

void Marker::dropAccessible()
{
    const QAccessible::Id id = std::exchange(m_accessibleId, 0);
    if (!id)
        return;
    if (QAccessibleInterface *iface = QAccessible::accessibleInterface(id)) {
        // Told while the marker is still whole, so that its place in the
        // layer can still be found.
        sendAccessibleEvent(iface, QAccessible::ObjectDestroyed);
        QAccessible::deleteAccessibleInterface(id);
    }
}

MarkerAccessible::MarkerAccessible(PlanLayer *layer, const Marker *marker)
    : m_layer(layer)
    , m_marker(marker)
{
}

bool MarkerAccessible::isValid() const
{
    return !m_layer.isNull();
}

QWindow *MarkerAccessible::window() const
{
    return m_layer ? m_layer->window()->windowHandle() : nullptr;
}

QAccessibleInterface *MarkerAccessible::parent() const
{
    return m_layer ? QAccessible::queryAccessibleInterface(m_layer.data()) : nullptr;
}

QString MarkerAccessible::text(QAccessible::Text t) const
{
    return t == QAccessible::Name && m_layer ? m_marker->accessibleName() : QString();
}

QRect MarkerAccessible::rect() const
{
    const QRect r = m_layer ? m_marker->rect() : QRect();
    if (r.isEmpty())
        return {};
    // Logical pixels of the screen, as for every widget: the window system
    // scales them for the screen's pixel density.
    return { m_layer->mapToGlobal(r.topLeft()), r.size() };
}

QAccessible::State MarkerAccessible::state() const
{
    QAccessible::State state;
    const QRect r = m_layer ? m_marker->rect() : QRect();
    state.invisible = r.isEmpty() || !m_layer->isVisible();
    state.offscreen = !state.invisible && !m_layer->rect().intersects(r);
    return state;
}

// ---- the plan layer --------------------------------------------------------

PlanLayerAccessible::PlanLayerAccessible(PlanLayer *layer)
    : QAccessibleWidget(layer, QAccessible::List)
{
}

PlanLayer *PlanLayerAccessible::layer() const
{
    return static_cast<PlanLayer *>(widget());
}

int PlanLayerAccessible::childCount() const
{
    return int(std::min<size_t>(layer()->markers().size(), size_t(INT_MAX)));
}

QAccessibleInterface *PlanLayerAccessible::child(int index) const
{
    const std::vector<Marker *> &markers = layer()->markers();
    if (index < 0 || size_t(index) >= markers.size())
        return nullptr;
    return markerInterface(markers[size_t(index)]);
}

int PlanLayerAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    const auto *item = dynamic_cast<const MarkerAccessible *>(child);
    if (!item || !item->isValid())
        return -1;
    const std::vector<Marker *> &markers = layer()->markers(); // numbers them afresh
    const size_t slot = item->marker()->m_slot;
    return slot < markers.size() && markers[slot] == item->marker() ? int(slot) : -1;
}

QAccessibleInterface *PlanLayerAccessible::childAt(int x, int y) const
{
    Marker *marker = markerAt(layer()->mapFromGlobal(QPoint(x, y)));
    return marker ? markerInterface(marker) : nullptr;
}

Marker *PlanLayerAccessible::markerAt(QPoint p) const
{
    const MarkerPart *part = layer()->partAt(p);
    if (!part)
        return nullptr;
    // A marker makes its three parts one after the other, and markers are
    // listed in the order they were made: the marker of a part is the last
    // one whose icon is not above it.
    const std::vector<Marker *> &markers = layer()->markers();
    const auto after = std::upper_bound(
        markers.begin(), markers.end(), part->stackOrder(),
        [](quint64 order, const Marker *m) { return order < m->icon.stackOrder(); });
    if (after == markers.begin())
        return nullptr;
    Marker *marker = *std::prev(after);
    const bool ours = part == &marker->icon || part == &marker->bill || part == &marker->label;
    return ours ? marker : nullptr;
}

QAccessibleInterface *PlanLayerAccessible::markerInterface(Marker *marker) const
{
    if (marker->m_accessibleId) {
        if (QAccessibleInterface *iface = QAccessible::accessibleInterface(marker->m_accessibleId))
            return iface;
    }
    auto *iface = new MarkerAccessible(layer(), marker);
    iface->remember();
    marker->m_accessibleId = QAccessible::registerAccessibleInterface(iface);
    return iface;
}

QAccessibleInterface *accessibleMarker(Marker &marker)
{
    if (!QAccessible::isActive())
        return nullptr;
    auto *layer = dynamic_cast<PlanLayerAccessible *>(
        QAccessible::queryAccessibleInterface(marker.icon.layer()));
    return layer ? layer->markerInterface(&marker) : nullptr;
}

// ---- labels ----------------------------------------------------------------

TextLabelAccessible::TextLabelAccessible(TextLabel *label)
    : QAccessibleWidget(label, QAccessible::StaticText)
{
}

QString TextLabelAccessible::text(QAccessible::Text t) const
{
    if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
        return QAccessibleWidget::text(t);
    return parseAccelerators(static_cast<const TextLabel *>(widget())->text()).text;
}

QAccessible::Role TextLabelAccessible::role() const
{
    bool ok = false;
    const int role = widget()->property(kAccessibleRoleProperty).toInt(&ok);
    return ok ? QAccessible::Role(role) : QAccessible::StaticText;
}

// ---- the factory -----------------------------------------------------------

namespace {

QAccessibleInterface *uiAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String(PlanLayer::staticMetaObject.className())) {
        if (auto *layer = qobject_cast<PlanLayer *>(object))
            return new PlanLayerAccessible(layer);
    }
    if (className == QLatin1String(TextLabel::staticMetaObject.className())) {
        if (auto *label = qobject_cast<TextLabel *>(object))
            return new TextLabelAccessible(label);
    }
    return nullptr;
}

} // namespace

void installUiAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(&uiAccessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace kalvora
