#pragma once

#include "AnimationClock.h"
#include "DirtyTiles.h"
#include "GridIndex.h"
#include "Picture.h"

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <list>
#include <vector>

class QMenu;
class QPainter;

namespace kalvora {

class MarkerDescription; // Accessibility.h
class PlanLayer;

// One part of a marker on the plan: a rectangle of the plan layer that shows
// something and takes the pointer as a control of its own would (hint,
// pointer shape, popup menu, move and button-down handlers). Parts are plain
// objects, not widgets: the layer draws them all in one pass and hands the
// pointer events to them. A part lies above every part made before it on the
// same layer, and starts hidden.
class MarkerPart {
public:
    virtual ~MarkerPart();
    MarkerPart(const MarkerPart &) = delete;
    MarkerPart &operator=(const MarkerPart &) = delete;

    // In the layer's coordinates, which are the window's.
    QRect geometry() const { return m_rect; }
    QPoint pos() const { return m_rect.topLeft(); }
    int x() const { return m_rect.x(); }
    int y() const { return m_rect.y(); }
    QSize size() const { return m_rect.size(); }
    int width() const { return m_rect.width(); }
    int height() const { return m_rect.height(); }
    QRect rect() const { return QRect(QPoint(0, 0), m_rect.size()); }
    void move(int x, int y);
    void move(QPoint p) { move(p.x(), p.y()); }
    // A point of the part in the coordinates of a widget that holds the layer.
    QPoint mapTo(const QWidget *ancestor, QPoint p) const;

    bool isHidden() const { return m_hidden; }
    // Shown, on a layer that is on the screen.
    bool isVisible() const;
    void setVisible(bool visible);
    void show() { setVisible(true); }
    void hide() { setVisible(false); }

    const QString &toolTip() const { return m_toolTip; }
    void setToolTip(const QString &text);
    // The pointer shape over the part; without one of its own, the window's.
    QCursor cursor() const { return QCursor(m_cursor); }
    bool hasCursor() const { return m_hasCursor; }
    void setCursor(const QCursor &cursor);
    void unsetCursor();
    // The part's own popup menu; without one a right click opens the window's.
    QMenu *popupMenu() const { return m_menu; }
    void setPopupMenu(QMenu *menu) { m_menu = menu; }

    // Pointer moves over the part, in its own coordinates; without a handler
    // they stop at the part.
    std::function<void(QPoint)> onMouseMove;
    // Button presses on the part (the second press of a double click too).
    std::function<void(Qt::MouseButton)> onMouseDown;

    PlanLayer *layer() const { return m_layer; }
    // Parts are stacked in this order, lowest first.
    quint64 stackOrder() const { return m_order; }

protected:
    explicit MarkerPart(PlanLayer *layer);
    void resize(QSize size);
    // Asks the layer to repaint the part's area; `frame`: because an animated
    // picture moved to its next frame.
    void repaint(bool frame = false) const;
    // Draws the part where it meets `area` (layer coordinates, within the part).
    virtual void paint(QPainter &painter, const QRect &area) = 0;
    // The part or its layer was shown or hidden.
    virtual void visibilityChanged() { }

private:
    friend class PlanLayer;
    void setGeometry(const QRect &rect);

    PlanLayer *m_layer;
    quint64 m_order;
    QRect m_rect;
    QString m_toolTip;
    QMenu *m_menu = nullptr;
    Qt::CursorShape m_cursor = Qt::ArrowCursor;
    bool m_hasCursor = false;
    bool m_hidden = true;
};

// A part showing a picture at its top-left corner, never stretched, auto-sized
// to the picture when asked. Animated pictures play through the window's
// shared clock while the part is visible and animation is on.
class MarkerPicture final : public MarkerPart {
public:
    MarkerPicture(PlanLayer *layer, AnimationClock *clock);
    ~MarkerPicture() override;

    // Shows a copy of another picture; fails as PictureHolder::copyPicture does.
    void copyFrom(const PictureHolder &source);
    void setPicture(Picture picture);
    const PictureHolder &holder() const { return m_holder; }

    void setAutoSize(bool on);
    bool autoSize() const { return m_autoSize; }
    void setAnimate(bool on);
    bool animate() const { return m_animate; }
    int currentFrame() const { return m_frame; }

protected:
    void paint(QPainter &painter, const QRect &area) override;
    void visibilityChanged() override;

private:
    void restartAnimation();
    void stopAnimation();
    qint64 nextFrame();

    friend class PlanLayer;
    PictureHolder m_holder;
    QPointer<AnimationClock> m_clock;
    AnimationClock::Id m_animation = 0;
    size_t m_slot = 0; // in the layer's list of pictures
    int m_frame = 0;
    bool m_autoSize = false;
    bool m_animate = false;
};

// A part showing text as a label does (one line per line end, "&" marks an
// underlined character), sized to its text, left-justified or centred. The
// layer keeps recently drawn labels as images at the screen's pixel density,
// so a label over a changing picture costs a copy, not a text layout.
class MarkerLabel final : public MarkerPart {
public:
    explicit MarkerLabel(PlanLayer *layer);
    ~MarkerLabel() override;

    void setText(const QString &text);
    const QString &text() const { return m_caption; }
    void setLabelFont(const QFont &font);
    const QFont &font() const { return m_font; }
    void setColor(const QColor &color);
    QColor color() const { return m_color; }
    void setCentered(bool centered);

protected:
    void paint(QPainter &painter, const QRect &area) override;

private:
    friend class PlanLayer;
    void relayout();
    // Draws the label with its top-left corner at (0, 0).
    void render(QPainter &painter) const;

    QString m_caption;
    QFont m_font;
    QList<int> m_lineWidths; // as measured in the font
    QColor m_color = Qt::black;
    bool m_centered = false;
    bool m_drawnOnce = false; // since its text or look last changed
    // The label as last drawn, while the layer keeps it: only its inked
    // pixels (an empty image when there are none), which start this many
    // device pixels from its top-left corner.
    QImage m_image;
    QPoint m_inkOffset;
    qreal m_imageRatio = 0; // 0: no image kept
    std::list<MarkerLabel *>::iterator m_recent;
};

// A bed's marker: its icon, its bill overlay and its name label, stacked in
// that order.
class Marker {
public:
    Marker(PlanLayer *layer, AnimationClock *clock);
    ~Marker();
    Marker(const Marker &) = delete;
    Marker &operator=(const Marker &) = delete;

    // What the shown parts cover, in the layer's coordinates.
    QRect rect() const;
    // The name the marker shows, as its label draws it.
    QString name() const;

    MarkerPicture icon;
    MarkerPicture bill;
    MarkerLabel label;

    // For assistive technology (Accessibility.cpp): what the marker's owner
    // says of it (without one, its name), and the call that tells a screen
    // reader that the marker may have changed (name, state or place); it
    // costs nothing until a screen reader has asked for the marker.
    const MarkerDescription *description = nullptr;
    QString accessibleName() const;
    void accessibleUpdate();

private:
    friend class PlanLayer;
    friend class PlanLayerAccessible;
    void dropAccessible();
    PlanLayer *m_layer;
    size_t m_slot = 0;
    quint32 m_accessibleId = 0; // QAccessible::Id of its interface, once made
};

// The control that draws every marker of the plan: one child of the window,
// as large as the window, stacked above the plan and the panel. It draws the
// parts in one pass, each repaint only the parts that meet the area to be
// painted (found through a grid of the plan), and hands pointer events to the
// part under the pointer. Where no part is, the layer is not there: moves,
// presses, menus and hints go to the control beneath, and while a button is
// held every pointer event goes where the press went, as the window system
// does for controls of their own.
class PlanLayer final : public QWidget {
    Q_OBJECT
public:
    explicit PlanLayer(QWidget *parent);
    ~PlanLayer() override;

    // The topmost shown part at a point of the layer, or none.
    MarkerPart *partAt(QPoint p) const;
    // Every marker, in the order they were made (their stacking order): for
    // walking them, for example as the window's accessible children, each
    // with its rectangle and name.
    const std::vector<Marker *> &markers() const;
    // Shown parts.
    qsizetype shownParts() const { return m_index.size(); }

    // The bytes of label images kept for repaints; 24 MiB unless told.
    void setLabelCacheLimit(qsizetype bytes);
    qsizetype labelCacheBytes() const { return m_labelBytes; }

    // Called for every part after it is drawn (for measuring).
    std::function<void(const MarkerPart &)> onPartPainted;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class MarkerPart;
    friend class MarkerPicture;
    friend class MarkerLabel;
    friend class Marker;

    // Where pointer events go: a part, a control beneath the layer, or nothing.
    struct Target {
        MarkerPart *part = nullptr;
        QPointer<QWidget> widget;
    };
    Target targetAt(QPoint p) const;
    QWidget *widgetBeneath(QPoint p) const;
    void press(QMouseEvent *event);
    void forward(QWidget *widget, QMouseEvent *event);
    void refreshCursor();
    void refreshCursor(const Target &under);

    // Book-keeping of the parts.
    quint64 addPart(MarkerPart *part);
    void removePart(MarkerPart *part);
    void partGeometryChanging(MarkerPart *part, const QRect &next);
    void partShownChanging(MarkerPart *part, bool shown);
    void partCursorChanged(MarkerPart *part);
    void partToolTipChanged(MarkerPart *part);
    void addMarker(Marker *marker);
    void removeMarker(Marker *marker);
    void addPicture(MarkerPicture *picture);
    void removePicture(MarkerPicture *picture);
    // Asks for a repaint of an area. The areas asked for until the window
    // repaints are handed to it together, as a few rectangles; those of new
    // animation frames at most kFrameRows rows of tiles per repaint.
    void repaintArea(const QRect &area, bool frame = false);
    void askForRepaint(const QRect &area);

    // Label images, most recently drawn first.
    // None when the label is too large to keep.
    const QImage *labelImage(MarkerLabel &label);
    void dropLabelImage(MarkerLabel *label);

    GridIndex<MarkerPart> m_index;
    quint64 m_nextOrder = 1;
    mutable std::vector<Marker *> m_markers; // null where a marker was removed
    mutable size_t m_removedMarkers = 0;
    std::vector<MarkerPicture *> m_pictures; // every picture part, for showing and hiding

    std::list<MarkerLabel *> m_recentLabels; // labels with an image kept
    qsizetype m_labelBytes = 0;
    qsizetype m_labelLimit = 24 * 1024 * 1024;

    // Areas to repaint gather here until the window repaints; the first of
    // them asks the window for the repaint. New animation frames of a crowded
    // plan may cover all of it: painted in bands of kFrameRows rows of tiles
    // (192 pixels), one band per pass of the event loop, they leave room
    // between two bands for a datagram to be read, handled and painted.
    static constexpr int kFrameRows = 24;
    DirtyTiles m_dirty; // everything but animation frames, painted at once
    DirtyTiles m_frames;
    QTimer m_nextBand; // while frames wait
    bool m_repaintAsked = false;
    bool m_inWindowRepaint = false; // from the window's repaint request to the layer's paint
    std::vector<MarkerPart *> m_painting; // scratch list of paintEvent

    Target m_grab; // while a button is held
    bool m_grabbing = false;
    QPoint m_pointer; // where the last move without a button was
    bool m_pointerInside = false;
    const MarkerPart *m_tipPart = nullptr;
};

} // namespace kalvora
