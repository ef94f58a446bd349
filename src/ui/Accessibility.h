#pragma once

#include <QAccessibleWidget>
#include <QPointer>
#include <QRect>
#include <QString>

namespace kalvora {

class Marker;
class PlanLayer;
class TextLabel;

// What a marker's owner (a bed) says of it to assistive technology.
class MarkerDescription {
public:
    virtual ~MarkerDescription() = default;
    virtual QString accessibleName() const = 0;
};

// Installs the accessible interfaces of the plan layer and of the labels.
// Called before the first window is made; more calls do nothing.
void installUiAccessibility();

// An accessible object without a widget of its own (a bed on the plan, a
// call list line): it tells a screen reader when its name, its place or
// whether it shows has changed since it last told, and nothing otherwise.
class VirtualAccessible : public QAccessibleInterface {
public:
    QObject *object() const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    void setText(QAccessible::Text, const QString &) override { }

    // Takes note of the object as it is now, telling nothing.
    void remember();
    // Sends the change events of what changed since the last note, and
    // takes note again.
    void update();

private:
    QString m_name;
    QRect m_rect;
    bool m_shown = false;
};

// A bed marker on the plan, as a child of its plan layer's interface. Made
// when a screen reader first asks for it, and destroyed with the marker.
class MarkerAccessible final : public VirtualAccessible {
public:
    MarkerAccessible(PlanLayer *layer, const Marker *marker);

    bool isValid() const override;
    QWindow *window() const override;
    QAccessibleInterface *parent() const override;
    QString text(QAccessible::Text t) const override;
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override;

    const Marker *marker() const { return m_marker; }

private:
    QPointer<PlanLayer> m_layer;
    const Marker *m_marker;
};

// The plan layer: a list whose items are the beds, in their stacking order.
// The items are virtual children made one by one as they are asked for, so
// a ward of 100,000 beds costs nothing until a screen reader walks it, and
// then only the beds it reaches.
class PlanLayerAccessible final : public QAccessibleWidget {
public:
    explicit PlanLayerAccessible(PlanLayer *layer);

    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;

    // The interface of one of the layer's markers, made if need be.
    QAccessibleInterface *markerInterface(Marker *marker) const;
    // The marker a part of which is the topmost shown one at a point of the
    // layer, or none.
    Marker *markerAt(QPoint p) const;

private:
    PlanLayer *layer() const;
};

// The interface of a marker, made if need be; null while no screen reader
// listens (QAccessible::isActive()).
QAccessibleInterface *accessibleMarker(Marker &marker);

// Sends an accessibility event of this type for the interface; only while a
// screen reader listens.
void sendAccessibleEvent(QAccessibleInterface *iface, QAccessible::Event type);

// A text label, read as static text: what it shows, or its accessible name
// where one is set; its role may be set through the property
// kAccessibleRoleProperty (a QAccessible::Role).
inline constexpr char kAccessibleRoleProperty[] = "kalvoraAccessibleRole";
// Set on a child control that a window's interface leaves out (it is said as
// part of another one).
inline constexpr char kAccessibleIgnored[] = "kalvoraAccessibleIgnored";
class TextLabelAccessible final : public QAccessibleWidget {
public:
    explicit TextLabelAccessible(TextLabel *label);
    QString text(QAccessible::Text t) const override;
    QAccessible::Role role() const override;
};

} // namespace kalvora
