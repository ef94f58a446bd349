#pragma once

#include "BedLine.h"
#include "CallState.h"
#include "ui/Accessibility.h"
#include "ui/Picture.h"
#include "ui/PlanLayer.h" // the marker parts iT, iB and lab

#include <QFont>
#include <QPoint>

#include <array>
#include <functional>
#include <memory>

class QMenu;

namespace kalvora {

class TFormTable;
class Ttable;

constexpr int kKindCount = 20;
// The most beds the console shows. A bed costs about 2 KB of memory and 20 µs
// of start-up (docs/PERFORMANCE.md): half a million take about a gigabyte and
// ten seconds. A larger bed file is refused before any bed is made.
constexpr qsizetype kMaxBeds = 500000;
using KindPictures = std::array<PictureHolder, kKindCount>;

// What every bed marker needs from its window: the layer that draws it, the
// kind image set, the bill picture, the label font, the settings that place
// and time it, and where its pointer events go.
struct TableContext {
    PlanLayer *layer = nullptr;
    AnimationClock *clock = nullptr;
    const KindPictures *iTable = nullptr;
    const KindPictures *iGreenTable = nullptr;
    const KindPictures *iRedTable = nullptr;
    const PictureHolder *billPicture = nullptr;
    QMenu *billMenu = nullptr;
    QFont labelFont;
    qint32 bdx = 30;
    qint32 bdy = -30;
    qint32 redSec = 20;
    qint32 maxSec = 60;
    // Pointer moves over a bed icon, in window coordinates.
    std::function<void(QPoint)> onMove;
    // Button presses on a bed icon or label.
    std::function<void(Qt::MouseButton)> onDown;
    // Whether the bed's listed call has been acknowledged (for what a screen
    // reader says of the bed).
    std::function<bool(const Ttable &)> acknowledged;
};

// A bed: one call point on the plan, with its record, its call state and its
// marker of three parts centred on (dx, dy): the icon iT, the bill overlay iB
// and the name label lab, drawn by the window's plan layer. The bed owns its
// marker parts, and tells a screen reader what its marker stands for.
class Ttable : public BedRecord, public CallState, public MarkerDescription {
public:
    // Builds a bed from its bed line: parses it (a numeric field that is not an
    // integer raises the integer conversion error) and builds the marker (a
    // kind with no readable idle picture, or an unreadable bill picture, raises
    // "Could not load image. Invalid format").
    static std::unique_ptr<Ttable> Create(QStringView line, const TableContext &context);
    Ttable(const BedRecord &record, const TableContext &context);
    ~Ttable();
    Ttable(const Ttable &) = delete;
    Ttable &operator=(const Ttable &) = delete;

    // Centres the three parts on (x, y) and puts the current name on the label.
    void Pos(qint32 x, qint32 y);
    // The icon picture of the current state, re-centred on (dx, dy).
    void ShowTable();
    void ShutOn();
    void ShutOff();
    void ShowRed();
    void ShowBill();
    void PlusT();
    void Hide();

    // Whether the point lies on the icon, edges included on all four sides.
    bool MouseOver(qint32 mx, qint32 my) const;

    // Picks the bed up or puts it down: the drag pointer and no hint while it
    // is being moved.
    void setDragging(bool dragging);
    bool isDrag = false;

    // Copies the bed into the dialog, and back.
    void ToEditForm(TFormTable &form) const;
    void FromEditForm(const TFormTable &form);

    BedRecord record() const { return *this; }

    // The icon's hint: the name the bed had when it was created. Later names
    // reach the label only.
    const QString &hint() const { return m_hint; }

    // Name, code and state, as a screen reader says them
    // ("Палата 1, койка 2 (101): вызов, 1 мин. 15 сек.").
    QString accessibleName() const override;
    Marker &marker() const { return *m_marker; }

    MarkerPicture *iB = nullptr;
    MarkerPicture *iT = nullptr;
    MarkerLabel *lab = nullptr;

private:
    // The kind's pictures; a kind outside 0 to 19 shows kind 0's.
    const PictureHolder &kindPicture(const KindPictures *set) const;
    void updateHint();

    std::unique_ptr<Marker> m_marker;
    QString m_hint;
    const TableContext &m_context;
};

} // namespace kalvora
