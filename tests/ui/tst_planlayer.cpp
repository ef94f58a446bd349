// The plan layer: the grid that finds the parts meeting an area, drawing in
// stacking order whatever area is repainted, and pointer events that reach the
// part under the pointer or, where there is none, the control beneath.

#include "TestPictures.h"
#include "ui/Accessibility.h"
#include "ui/Fonts.h"
#include "ui/PlanLayer.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSet>
#include <QTest>
#include <QToolTip>

using namespace kalvora;
using namespace Qt::StringLiterals;

namespace {

struct Item {
    QRect r;
    QRect geometry() const { return r; }
};

// A picture of one colour.
Picture filled(QSize size, QColor colour)
{
    auto data = std::make_shared<PictureData>();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    data->size = size;
    data->frames.push_back({ image, 0 });
    return data;
}

// A window with a plan-like control at its top-left and the layer above it;
// records the pointer events the control and the window itself receive.
class Window : public QWidget {
public:
    struct Beneath : QWidget {
        using QWidget::QWidget;
        QList<QPoint> moves;
        int presses = 0;
        int menus = 0;
        void mouseMoveEvent(QMouseEvent *e) override { moves << e->position().toPoint(); }
        void mousePressEvent(QMouseEvent *) override { ++presses; }
        void contextMenuEvent(QContextMenuEvent *) override { ++menus; }
    };

    Window()
    {
        resize(300, 200);
        setMouseTracking(true);
        plan = new Beneath(this);
        plan->setGeometry(0, 0, 200, 200);
        plan->setMouseTracking(true);
        plan->setAutoFillBackground(true);
        QPalette green = plan->palette();
        green.setColor(QPalette::Window, Qt::green);
        plan->setPalette(green);
        layer = new PlanLayer(this);
    }

    QList<QPoint> moves; // the window's own
    int presses = 0;
    int menus = 0;
    Beneath *plan = nullptr;
    PlanLayer *layer = nullptr;

protected:
    void mouseMoveEvent(QMouseEvent *e) override { moves << e->position().toPoint(); }
    void mousePressEvent(QMouseEvent *) override { ++presses; }
    void contextMenuEvent(QContextMenuEvent *) override { ++menus; }
};

// A marker as a bed has it: red icon 20 x 20 at (40, 40), blue overlay at
// (55, 30), a label centred over the icon's middle.
struct TestMarker {
    explicit TestMarker(PlanLayer *layer, QPoint at = { 40, 40 })
        : marker(layer, nullptr)
    {
        marker.icon.setAutoSize(true);
        marker.icon.setPicture(filled({ 20, 20 }, Qt::red));
        marker.icon.move(at);
        marker.icon.setToolTip(QStringLiteral("Палата 1"));
        marker.icon.onMouseMove = [this](QPoint p) { iconMoves << p; };
        marker.icon.onMouseDown = [this](Qt::MouseButton) { ++presses; };
        marker.bill.setAutoSize(true);
        marker.bill.setPicture(filled({ 10, 10 }, Qt::blue));
        marker.bill.move(at + QPoint(15, -10));
        marker.bill.setPopupMenu(&billMenu);
        marker.label.setLabelFont(consoleFont(13, true));
        marker.label.setCentered(true);
        marker.label.setText(QStringLiteral("Палата 1"));
        marker.label.onMouseDown = [this](Qt::MouseButton) { ++presses; };
        marker.label.move(at.x() + 10 - marker.label.width() / 2,
                          at.y() + 10 - marker.label.height() / 2);
        marker.icon.show();
        marker.label.show();
    }
    Marker marker;
    QMenu billMenu;
    QList<QPoint> iconMoves;
    int presses = 0;
};

} // namespace

class TestPlanLayer : public QObject {
    Q_OBJECT
private slots:
    void gridFindsEveryItemMeetingAnAreaOnce_data();
    void gridFindsEveryItemMeetingAnAreaOnce();
    void anyAreaRepaintsAsTheWholeDoes_data();
    void anyAreaRepaintsAsTheWholeDoes();
    void pointerReachesPartOrControlBeneath_data();
    void pointerReachesPartOrControlBeneath();
    void everyChangeIsRepainted_data();
    void everyChangeIsRepainted();
    void markersAreTheLayersAccessibleItems();
};

void TestPlanLayer::gridFindsEveryItemMeetingAnAreaOnce_data()
{
    QTest::addColumn<QList<QRect>>("items");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QList<int>>("found");
    QTest::addColumn<int>("gone"); // removed (even) or forgotten (odd) before the query, or -1

    const QList<QRect> plan { { 0, 0, 10, 10 },
                              { 30, 30, 40, 40 },
                              { -50, -50, 20, 20 },
                              { 0, 300, 5000, 16 },
                              { 100, 100, 0, 0 } };
    QTest::addRow("one cell") << plan << QRect(2, 2, 2, 2) << QList<int> { 0 } << -1;
    QTest::addRow("item over four cells, once")
        << plan << QRect(0, 0, 100, 100) << QList<int> { 0, 1 } << -1;
    QTest::addRow("edge: a pixel beyond") << plan << QRect(10, 10, 5, 5) << QList<int> {} << -1;
    QTest::addRow("negative coordinates")
        << plan << QRect(-40, -40, 1, 1) << QList<int> { 2 } << -1;
    QTest::addRow("long label in the list of large items")
        << plan << QRect(4000, 310, 1, 1) << QList<int> { 3 } << -1;
    QTest::addRow("empty item meets nothing")
        << plan << QRect(90, 90, 20, 20) << QList<int> {} << -1;
    QTest::addRow("everything, more cells than are used")
        << plan << QRect(-100000, -100000, 200000, 200000) << QList<int> { 0, 1, 2, 3 } << -1;
    QTest::addRow("removed") << plan << QRect(0, 0, 100, 100) << QList<int> { 1 } << 0;
    QTest::addRow("forgotten") << plan << QRect(0, 0, 100, 100) << QList<int> { 0 } << 1;
    QTest::addRow("large item forgotten")
        << plan << QRect(0, 0, 5000, 5000) << QList<int> { 0, 1 } << 3;
}

void TestPlanLayer::gridFindsEveryItemMeetingAnAreaOnce()
{
    QFETCH(QList<QRect>, items);
    QFETCH(QRect, area);
    QFETCH(QList<int>, found);
    QFETCH(int, gone);

    std::vector<Item> store;
    for (const QRect &r : std::as_const(items))
        store.push_back({ r });
    GridIndex<Item> grid;
    for (Item &item : store)
        grid.insert(&item);
    if (gone >= 0) {
        if (gone % 2 == 0)
            grid.remove(&store[size_t(gone)]);
        else
            grid.forget(&store[size_t(gone)]);
    }
    QList<int> seen;
    grid.forEachMeeting(area, [&](Item *item) { seen << int(item - store.data()); });
    std::sort(seen.begin(), seen.end());
    QCOMPARE(seen, found);
}

void TestPlanLayer::anyAreaRepaintsAsTheWholeDoes_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<qsizetype>("labelCache"); // bytes of label images kept

    QTest::addRow("the icon's top") << QRect(40, 40, 20, 5) << qsizetype(1 << 20);
    QTest::addRow("across icon, label and overlay") << QRect(45, 25, 30, 30) << qsizetype(1 << 20);
    QTest::addRow("through the label") << QRect(20, 48, 60, 3) << qsizetype(1 << 20);
    QTest::addRow("label images not kept") << QRect(20, 40, 60, 20) << qsizetype(0);
}

void TestPlanLayer::anyAreaRepaintsAsTheWholeDoes()
{
    QFETCH(QRect, area);
    QFETCH(qsizetype, labelCache);

    Window window;
    TestMarker first(window.layer);
    TestMarker second(window.layer, { 50, 44 }); // above the first, hiding part of it
    second.marker.bill.show();
    // A part that moved leaves nothing behind.
    first.marker.bill.show();
    first.marker.bill.move(150, 150);
    first.marker.bill.move(55, 30);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QImage whole(window.size(), QImage::Format_ARGB32_Premultiplied);
    whole.fill(Qt::white);
    window.render(&whole);
    // Labels drawn from kept images look as those drawn afresh.
    window.layer->setLabelCacheLimit(labelCache);
    QImage part(window.size(), QImage::Format_ARGB32_Premultiplied);
    part.fill(Qt::white);
    window.render(&part, area.topLeft(), QRegion(area)); // the area lands at the offset
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            QCOMPARE(part.pixelColor(x, y), whole.pixelColor(x, y));
    }
    // Stacking: the second icon over the first marker's label and overlay.
    QCOMPARE(whole.pixelColor(52, 47), QColor(Qt::red));
    QCOMPARE(whole.pixelColor(148, 148), QColor(Qt::green));
    QVERIFY(window.layer->labelCacheBytes() <= labelCache);
    QCOMPARE(window.layer->markers().size(), size_t(2));
    QCOMPARE(window.layer->markers().back()->rect(),
             second.marker.icon.geometry() | second.marker.bill.geometry()
                 | second.marker.label.geometry());
}

void TestPlanLayer::pointerReachesPartOrControlBeneath_data()
{
    QTest::addColumn<QPoint>("press"); // -1, -1: no press
    QTest::addColumn<QPoint>("moveTo");
    QTest::addColumn<QString>("reached"); // who got the move: icon, plan, window, none
    QTest::addColumn<QString>("pressed"); // who got the press
    QTest::addColumn<QString>("menu"); // whose menu a right click at the press opened

    const QPoint none(-1, -1);
    const QPoint icon(42, 41), label(50, 50), bill(58, 32), plan(150, 150), bare(250, 150);
    // clang-format off
    QTest::addRow("move over the icon") << none << icon << "icon" << "" << "";
    QTest::addRow("move over the label stops there") << none << label << "none" << "" << "";
    QTest::addRow("move over the overlay stops there") << none << bill << "none" << "" << "";
    QTest::addRow("move over the plan") << none << plan << "plan" << "" << "";
    QTest::addRow("move over the bare window") << none << bare << "window" << "" << "";
    QTest::addRow("held after a press on the icon") << icon << bare << "icon" << "marker" << "window";
    QTest::addRow("held after a press on the label") << label << icon << "none" << "marker" << "window";
    QTest::addRow("held after a press on the overlay") << bill << plan << "none" << "" << "overlay";
    QTest::addRow("held after a press on the plan") << plan << icon << "plan" << "plan" << "plan";
    QTest::addRow("held after a press on the window") << bare << label << "window" << "window" << "window";
    // clang-format on
}

void TestPlanLayer::pointerReachesPartOrControlBeneath()
{
    QFETCH(QPoint, press);
    QFETCH(QPoint, moveTo);
    QFETCH(QString, reached);
    QFETCH(QString, pressed);
    QFETCH(QString, menu);

    Window window;
    TestMarker m(window.layer);
    m.marker.bill.show();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseMove(window.windowHandle(), QPoint(299, 199));
    window.moves.clear();
    const Qt::MouseButton button = menu.isEmpty() ? Qt::LeftButton : Qt::RightButton;
    if (press.x() >= 0) {
        // A right press opens the menu of the place it went to.
        QTest::mousePress(window.windowHandle(), button, {}, press);
        m.iconMoves.clear(); // the move to the press point
        window.plan->moves.clear();
        window.moves.clear();
    }
    // With the button held, as the window system sends moves then.
    QMouseEvent move(QEvent::MouseMove, QPointF(moveTo), QPointF(moveTo),
                     QPointF(window.mapToGlobal(moveTo)), Qt::NoButton,
                     press.x() >= 0 ? Qt::MouseButtons(button) : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window.layer, &move);

    const QString got = !m.iconMoves.isEmpty() ? QStringLiteral("icon")
        : !window.plan->moves.isEmpty()        ? QStringLiteral("plan")
        : !window.moves.isEmpty()              ? QStringLiteral("window")
                                               : QStringLiteral("none");
    QCOMPARE(got, reached);
    if (got == u"icon")
        QCOMPARE(m.iconMoves.last(), moveTo - m.marker.icon.pos());
    if (got == u"plan")
        QCOMPARE(window.plan->moves.last(), moveTo);
    if (got == u"window")
        QCOMPARE(window.moves.last(), moveTo);
    if (!menu.isEmpty()) {
        const QString opened = m.billMenu.isVisible() ? QStringLiteral("overlay")
            : window.plan->menus                      ? QStringLiteral("plan")
            : window.menus                            ? QStringLiteral("window")
                                                      : QStringLiteral("none");
        QCOMPARE(opened, menu);
        m.billMenu.close();
    }
    const QString gotPress = m.presses ? QStringLiteral("marker")
        : window.plan->presses         ? QStringLiteral("plan")
        : window.presses               ? QStringLiteral("window")
                                       : QString();
    QCOMPARE(gotPress, pressed);
    if (press.x() >= 0)
        QTest::mouseRelease(window.windowHandle(), button, {}, moveTo);

    // The hint of the icon where the pointer rests on it; none elsewhere.
    QHelpEvent help(QEvent::ToolTip, QPoint(42, 41), window.mapToGlobal(QPoint(42, 41)));
    QApplication::sendEvent(window.layer, &help);
    QTRY_COMPARE(QToolTip::text(), QStringLiteral("Палата 1"));
}

void TestPlanLayer::everyChangeIsRepainted_data()
{
    QTest::addColumn<QString>("before"); // what changed first

    QTest::addRow("nothing") << "";
    QTest::addRow("a part off the layer") << "off";
    QTest::addRow("animation frames of a whole column, in bands") << "frames";
}

void TestPlanLayer::everyChangeIsRepainted()
{
    QFETCH(QString, before);

    Window window;
    window.resize(300, 600);
    AnimationClock clock;
    clock.setManual(true);
    std::vector<std::unique_ptr<MarkerPicture>> column;
    for (int y = 0; y < 580; y += 20) {
        column.push_back(std::make_unique<MarkerPicture>(window.layer, &clock));
        column.back()->setAutoSize(true);
        column.back()->setAnimate(true);
        column.back()->setPicture(decodePicture(test::animatedGif({ 1, 1 })));
        column.back()->move(250, y);
        column.back()->show();
    }
    TestMarker m(window.layer);
    m.marker.bill.show();
    m.marker.bill.move(-100, -100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSet<const MarkerPart *> painted;
    window.layer->onPartPainted = [&painted](const MarkerPart &part) { painted.insert(&part); };
    QTest::qWait(20); // the first paint is over

    if (before == u"off")
        m.marker.bill.setPicture(filled({ 10, 10 }, Qt::green)); // asks for no repaint
    else if (before == u"frames")
        clock.serve(clock.nextDue()); // every picture of the column at once
    m.marker.icon.setPicture(filled({ 20, 20 }, Qt::yellow));
    painted.clear();
    QTRY_VERIFY(painted.contains(&m.marker.icon));
    if (before == u"frames") {
        for (const auto &picture : column)
            QTRY_VERIFY(painted.contains(picture.get()));
    }
}

// For a screen reader the layer is a list of its markers, made as they are
// asked for: each with its name, its place on the screen and whether it shows;
// found at a point as the pointer finds it; gone with its marker.
void TestPlanLayer::markersAreTheLayersAccessibleItems()
{
    installUiAccessibility();
    Window window;
    TestMarker first(window.layer);
    TestMarker second(window.layer, { 50, 44 }); // above the first, hiding part of it
    auto third = std::make_unique<TestMarker>(window.layer, QPoint(120, 120));
    third->marker.label.setText(QStringLiteral("Палата &2"));
    third->marker.icon.hide();
    third->marker.label.hide();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(window.layer);
    QVERIFY(list);
    QCOMPARE(list->role(), QAccessible::List);
    QCOMPARE(list->childCount(), 3);
    const Marker *markers[] = { &first.marker, &second.marker, &third->marker };
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface *item = list->child(i);
        QVERIFY(item);
        QCOMPARE(item, list->child(i)); // made once
        QCOMPARE(list->indexOfChild(item), i);
        QCOMPARE(item->parent(), list);
        QCOMPARE(item->role(), QAccessible::ListItem);
        QCOMPARE(item->text(QAccessible::Name), i < 2 ? u"Палата 1"_s : u"Палата 2"_s);
        const QRect r = markers[i]->rect();
        QCOMPARE(item->state().invisible, i == 2);
        if (i < 2)
            QCOMPARE(item->rect(), QRect(window.layer->mapToGlobal(r.topLeft()), r.size()));
    }
    const auto at = [&](QPoint p) {
        const QPoint global = window.layer->mapToGlobal(p);
        return list->childAt(global.x(), global.y());
    };
    QCOMPARE(at(QPoint(42, 41)), list->child(0));
    QCOMPARE(at(QPoint(55, 50)), list->child(1)); // where the second covers the first
    QCOMPARE(at(QPoint(130, 130)), nullptr); // the hidden marker
    QCOMPARE(at(QPoint(190, 190)), nullptr);

    const QAccessible::Id id = QAccessible::uniqueId(list->child(2));
    third.reset();
    QCOMPARE(QAccessible::accessibleInterface(id), nullptr);
    QCOMPARE(list->childCount(), 2);
    QCOMPARE(list->indexOfChild(list->child(1)), 1);
}

QTEST_MAIN(TestPlanLayer)
#include "tst_planlayer.moc"
