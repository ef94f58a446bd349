#pragma once

#include "AnimationClock.h"
#include "Picture.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QMenu;

namespace kalvora {

// A child control showing one picture: loaded from a file or copied from
// another picture, auto-sized to it, drawn at the top-left, centred or tiled,
// never stretched. Animated pictures play through the window's shared clock
// while the control is visible and animation is on.
//
// Pointer moves that reach the control go to its move handler, or stop here
// when it has none; presses go to its button-down handler; a right click opens
// its own popup menu, or the one of the window beneath when it has none.
class PictureControl : public QWidget {
    Q_OBJECT
public:
    enum class Placement { TopLeft, Center, Tile };

    explicit PictureControl(QWidget *parent, AnimationClock *clock = nullptr);
    ~PictureControl() override;

    LoadOutcome loadFromFile(const QString &path);
    // Shows a copy of another picture; fails as PictureHolder::copyPicture does.
    void copyFrom(const PictureHolder &source);
    void setPicture(Picture picture);
    const PictureHolder &holder() const { return m_holder; }

    void setAutoSize(bool on);
    bool autoSize() const { return m_autoSize; }
    void setPlacement(Placement placement);
    void setAnimate(bool on);
    bool animate() const { return m_animate; }
    void setPopupMenu(QMenu *menu) { m_menu = menu; }
    QMenu *popupMenu() const { return m_menu; }

    // Handlers; positions are in this control's coordinates.
    std::function<void(QPoint)> onMouseMove;
    std::function<void(Qt::MouseButton, QPoint)> onMouseDown;
    std::function<void()> onClick;

    int currentFrame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void pictureChanged();
    // Whether the control covers all its pixels with opaque ones, so that
    // what lies beneath it need not be painted.
    void updateOpaque();
    void repaintArea();
    void restartAnimation();
    void stopAnimation();
    qint64 nextFrame();

    PictureHolder m_holder;
    QPointer<AnimationClock> m_clock;
    AnimationClock::Id m_animation = 0;
    int m_frame = 0;
    bool m_autoSize = false;
    bool m_animate = false;
    bool m_pressed = false;
    Placement m_placement = Placement::TopLeft;
    QMenu *m_menu = nullptr;
    const PictureData *m_opaqueTested = nullptr; // the picture whose pixels were looked at
    bool m_opaquePicture = false; // every pixel of its first frame is opaque
};

} // namespace kalvora
