// Pointer handling on the plan: clicks that cancel calls, move mode, the mode
// items of the two popup menus, and which menu a right click opens. Every
// event goes through the window system to the control under the pointer.

#include "ConsoleFixture.h"
#include "NetworkGuard.h"
#include "app/TkrdoMF.h"
#include "plan/Ttable.h"
#include "ui/PictureControl.h"
#include "ui/TextLabel.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>

using namespace kalvora;
using kalvora::test::ConsoleFixture;

namespace {

// A point on a bed's icon above its name label, which covers the icon's middle.
const QPoint kIconTop(18, 4);

const QString kMoveTitle = QStringLiteral("Kalvora: Режим перетаскивания коек.");

// Records whether the bed was being moved when each press reached its icon.
struct PressLog : QObject {
    explicit PressLog(Ttable *b)
        : bed(b)
    {
        b->iT->layer()->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        const QEvent::Type t = event->type();
        if ((t == QEvent::MouseButtonPress || t == QEvent::MouseButtonDblClick)
            && bed->iT->layer()->partAt(static_cast<QMouseEvent *>(event)->position().toPoint())
                == bed->iT)
            draggingAtPress.append(bed->isDrag);
        return false;
    }
    Ttable *bed;
    QList<bool> draggingAtPress;
};

} // namespace

class TestPointer : public QObject {
    Q_OBJECT

    std::unique_ptr<ConsoleFixture> m_fixture;
    TkrdoMF *w = nullptr;

    void startConsole(const QStringList &beds = {}, const QMap<QString, QString> &settings = {})
    {
        m_fixture = std::make_unique<ConsoleFixture>();
        m_fixture->writeSettings(settings);
        if (!beds.isEmpty())
            m_fixture->writeBeds(beds);
        w = &m_fixture->start();
        QVERIFY(w->isinit);
        w->TimerPlus->stop(); // the tests tick by hand
        w->TimerServerSearch->stop(); // keeps the title still
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // Run at a scale factor (tst_pointer_scale2), the window has its pixel density.
        if (const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(); scale > 0)
            QCOMPARE(w->devicePixelRatioF(), scale);
        // Plan, panel and a strip of bare window all within reach.
        w->resize(1600, 800);
        QTRY_COMPARE(w->size(), QSize(1600, 800));
    }

    Ttable *bed(const char *code) const { return w->sl.find(QString::fromLatin1(code)); }
    QPoint centre(const Ttable *b) const { return { b->dx, b->dy }; }

    // A place on the window: a point of a control or of a bed's marker part.
    struct Spot {
        Spot(const QWidget *widget, QPoint pos)
            : at(widget->mapTo(widget->window(), pos))
        {
        }
        Spot(const MarkerPart *part, QPoint pos)
            : at(part->mapTo(part->layer()->window(), pos))
        {
        }
        QPoint at;
        QPoint inWindow(const TkrdoMF *) const { return at; }
    };
    Spot spot(const QString &where, Ttable *b) const
    {
        if (where == u"icon")
            return { b->iT, kIconTop };
        if (where == u"label")
            return { b->lab, b->lab->rect().center() };
        if (where == u"overlay")
            return { b->iB, b->iB->rect().center() };
        if (where == u"plan")
            return { w->iBackground, QPoint(650, 420) };
        if (where == u"panel")
            return { w->iPanel, QPoint(200, 600) };
        return { w, QPoint(1590, 780) }; // bare window below the panel
    }

    void move(const Spot &s) { QTest::mouseMove(w->windowHandle(), s.inWindow(w)); }
    void click(const Spot &s, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(w->windowHandle(), button, {}, s.inWindow(w));
    }
    void pickUp(Ttable *b)
    {
        move({ b->iT, kIconTop });
        click({ b->iT, kIconTop });
        QVERIFY(b->isDrag);
    }
    static void closePopup()
    {
        if (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
    }

    // Mode items by name, triggered as a menu click does; "nm1Click" and
    // "nm2Click" call the handlers directly.
    void activate(const QString &item)
    {
        if (item == u"nm1Click")
            return w->nm1Click();
        if (item == u"nm2Click")
            return w->nm2Click();
        const QHash<QString, QAction *> actions { { QStringLiteral("nm1"), w->nm1 },
                                                  { QStringLiteral("nm1_"), w->nm1_ },
                                                  { QStringLiteral("nm2"), w->nm2 },
                                                  { QStringLiteral("nm2_"), w->nm2_ } };
        actions.value(item)->trigger();
    }

private slots:
    void initTestCase() { KALVORA_REQUIRE_PRIVATE_NETWORK(); }
    void cleanup()
    {
        closePopup();
        // Moves to where the pointer already is are dropped: park it where no
        // test moves to, so the next test's first move is always delivered.
        if (w)
            QTest::mouseMove(w->windowHandle(), QPoint(1599, 799));
        w = nullptr;
        m_fixture.reset();
    }

    void leftClick_cancelsCallAtOnce_entryLeavesAtNextTick_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("cancels");
        QTest::addColumn<QString>("action"); // ClickAction; empty: none set
        QTest::newRow("on the icon") << "icon" << true << QString();
        QTest::newRow("on the name label") << "label" << true << QString();
        QTest::newRow("on the bill overlay") << "overlay" << false << QString();
        QTest::newRow("cancel set, on the icon") << "icon" << true << "cancel";
        QTest::newRow("acknowledge, then end, on the icon") << "icon" << true << "acknowledge";
        QTest::newRow("acknowledge, then end, on the name label")
            << "label" << true << "Acknowledge";
        QTest::newRow("acknowledge, on the bill overlay") << "overlay" << false << "acknowledge";
    }
    void leftClick_cancelsCallAtOnce_entryLeavesAtNextTick()
    {
        QFETCH(QString, where);
        QFETCH(bool, cancels);
        QFETCH(QString, action);
        QMap<QString, QString> settings;
        if (!action.isEmpty())
            settings.insert(QStringLiteral("Safety/ClickAction"), action);
        startConsole({}, settings);
        Ttable *b = bed("101");
        w->AddSinc(QStringLiteral("#101;4;Nurse;Bed 1")); // a call with the bill overlay
        QVERIFY(b->isOn);
        move(spot(QStringLiteral("icon"), b));
        move(spot(where, b)); // label and overlay stop moves: the bed stays current
        QCOMPARE(w->curTable, b);

        if (action.compare(u"acknowledge", Qt::CaseInsensitive) == 0 && cancels) {
            // The first click acknowledges: the bed keeps calling, its line stays.
            click(spot(where, b));
            QVERIFY(b->isOn);
            QVERIFY(!b->iB->isHidden());
            QCOMPARE(b->iT->holder().picture(), w->iGreenTable[size_t(b->imagenumber)].picture());
            w->TimerPlusTimer();
            QCOMPARE(w->sinc.size(), 1);
            QCOMPARE(w->sinc.at(0)->l1->text(), QString::fromUtf8("✓ Nurse"));
        }
        click(spot(where, b));
        QCOMPARE(b->isOn, !cancels);
        QCOMPARE(b->iB->isHidden(), cancels);
        const KindPictures &shown = cancels ? w->iTable : w->iGreenTable;
        QCOMPARE(b->iT->holder().picture(), shown[size_t(b->imagenumber)].picture());
        QCOMPARE(w->sinc.size(), 1);
        w->TimerPlusTimer();
        QCOMPARE(w->sinc.isEmpty(), cancels);
    }

    void rightAndMiddlePresses_neitherCancelNorPickUp_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<bool>("moveMode");
        QTest::newRow("right, normal mode") << Qt::RightButton << false;
        QTest::newRow("middle, normal mode") << Qt::MiddleButton << false;
        QTest::newRow("right, move mode") << Qt::RightButton << true;
        QTest::newRow("middle, move mode") << Qt::MiddleButton << true;
    }
    void rightAndMiddlePresses_neitherCancelNorPickUp()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(bool, moveMode);
        startConsole();
        Ttable *b = bed("101");
        w->AddSinc(QStringLiteral("#101;8;Nurse;Bed 1"));
        if (moveMode)
            w->nm1Click();
        for (const QString &where : { QStringLiteral("icon"), QStringLiteral("label") }) {
            move(spot(QStringLiteral("icon"), b));
            click(spot(where, b), button);
            closePopup();
            QVERIFY(b->isOn);
            QVERIFY(!b->isDrag);
        }
    }

    void modeItems_keepTwinMarksInStep_data()
    {
        QTest::addColumn<QString>("on");
        QTest::addColumn<QString>("off");
        // clang-format off
        QTest::newRow("move: plan menu on, bed menu off") << "nm1" << "nm1_";
        QTest::newRow("move: bed menu on, plan menu off") << "nm1_" << "nm1";
        QTest::newRow("move: handler on, handler off") << "nm1Click" << "nm1Click";
        QTest::newRow("add: plan menu on, bed menu off") << "nm2" << "nm2_";
        QTest::newRow("add: bed menu on, handler off") << "nm2_" << "nm2Click";
        // clang-format on
    }
    void modeItems_keepTwinMarksInStep()
    {
        QFETCH(QString, on);
        QFETCH(QString, off);
        startConsole();
        const bool moveItem = on.startsWith(u"nm1");
        QAction *item = moveItem ? w->nm1 : w->nm2;
        QAction *twin = moveItem ? w->nm1_ : w->nm2_;
        const QString title = w->windowTitle();

        activate(on);
        QVERIFY(item->isChecked());
        QVERIFY(twin->isChecked());
        QCOMPARE(w->curMode, moveItem ? 1 : 0);
        QCOMPARE(w->addMode(), !moveItem);
        QCOMPARE(w->windowTitle(), moveItem ? kMoveTitle : title);

        activate(off);
        QVERIFY(!item->isChecked());
        QVERIFY(!twin->isChecked());
        QCOMPARE(w->curMode, 0);
        QVERIFY(!w->addMode());
        QCOMPARE(w->windowTitle(), moveItem ? QStringLiteral("Kalvora.") : title);
    }

    void moveMode_clickMoveClick_putsBedWhereLastHandledMoveWas()
    {
        startConsole();
        Ttable *b = bed("101");
        Ttable *other = bed("102");
        w->nm1Click();
        pickUp(b);
        QCOMPARE(b->iT->cursor().shape(), Qt::DragMoveCursor);
        QCOMPARE(b->lab->cursor().shape(), Qt::DragMoveCursor);
        QVERIFY(b->iT->toolTip().isEmpty());

        // Passing over another bed: the moving bed stays the current one.
        const Spot overOther = spot(QStringLiteral("icon"), other);
        const QPoint there = overOther.inWindow(w);
        move(overOther);
        QCOMPARE(w->curTable, b);
        QCOMPARE(centre(b), there);
        QCOMPARE(w->popupMenu(), w->PopupMenu2);

        move({ w->iBackground, QPoint(600, 400) });
        QCOMPARE(centre(b), QPoint(600, 400));
        QCOMPARE(b->iT->pos(), QPoint(600 - 18, 400 - 18));
        QCOMPARE(b->lab->pos(), QPoint(600 - b->lab->width() / 2, 400 - b->lab->height() / 2));
        // The bed's own label now lies under the pointer and stops the moves.
        const Spot onLabel { b->lab, b->lab->rect().center() + QPoint(5, 2) };
        move(onLabel);
        QCOMPARE(centre(b), QPoint(600, 400));
        // A call while moving renames the label; the hint stays off.
        w->AddSinc(QStringLiteral("#101;8;Nurse;Bed 1"));
        QCOMPARE(b->lab->text(), QStringLiteral("Bed 1"));
        QVERIFY(b->iT->toolTip().isEmpty());

        click({ b->lab, b->lab->rect().center() });
        QVERIFY(!b->isDrag);
        QCOMPARE(centre(b), QPoint(600, 400));
        QVERIFY(!b->iT->hasCursor());
        QVERIFY(!b->lab->hasCursor());
        QCOMPARE(b->iT->toolTip(),
                 QStringLiteral("Палата 1, койка 1")); // the name it was created with

        QVERIFY(w->close());
        const QString saved = QString::fromUtf8(
            m_fixture->readFile(m_fixture->dataFile(QStringLiteral("tables.txt"))));
        QCOMPARE(saved.section(QStringLiteral("\r\n"), 0, 0),
                 QStringLiteral("101;600;400;3;Bed 1;101C"));
    }

    void moveMode_dragWithButtonHeld_followsAndStaysPickedUp()
    {
        startConsole();
        Ttable *b = bed("101");
        w->nm1Click();
        const QPoint start = Spot { b->iT, kIconTop }.inWindow(w);
        move({ b->iT, kIconTop });
        QTest::mousePress(w->windowHandle(), Qt::LeftButton, {}, start);
        QVERIFY(b->isDrag);
        // Held: every move goes to the icon, even far outside it.
        const QPoint steps[] = { start + QPoint(3, 2), start + QPoint(20, 12),
                                 start + QPoint(40, 30), QPoint(700, 450) };
        for (const QPoint &p : steps) {
            QTest::mouseMove(w->windowHandle(), p);
            QCOMPARE(centre(b), p);
        }
        QTest::mouseRelease(w->windowHandle(), Qt::LeftButton, {}, QPoint(700, 450));
        QVERIFY(b->isDrag);

        move({ w->iPanel, QPoint(200, 600) });
        QCOMPARE(centre(b), QPoint(w->iPanel->x() + 200, 600));
        move({ w->iBackground, QPoint(650, 420) });
        QCOMPARE(centre(b), QPoint(650, 420));
        click({ w->iBackground, QPoint(640, 430) }); // lands on the bed's own label
        QVERIFY(!b->isDrag);
        QCOMPARE(centre(b), QPoint(640, 430));
    }

    void doubleClick_inMoveMode_picksUpAndPutsDown()
    {
        startConsole();
        Ttable *b = bed("101");
        w->nm1Click();
        move({ b->iT, kIconTop });
        PressLog log(b);
        QTest::mouseDClick(w->windowHandle(), Qt::LeftButton, {},
                           Spot { b->iT, kIconTop }.inWindow(w));
        QCOMPARE(log.draggingAtPress, (QList<bool> { false, true }));
        QVERIFY(!b->isDrag);
        QCOMPARE(centre(b), QPoint(307, 110));
    }

    void leavingMoveMode_withBedHeld_putsItDown_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("cancelsOther");
        QTest::newRow("bare window") << "window" << false;
        QTest::newRow("plan") << "plan" << false;
        QTest::newRow("panel") << "panel" << false;
        QTest::newRow("another bed's icon") << "icon" << true;
        QTest::newRow("another bed's label") << "label" << true;
    }
    void leavingMoveMode_withBedHeld_putsItDown()
    {
        QFETCH(QString, where);
        QFETCH(bool, cancelsOther);
        startConsole();
        Ttable *held = bed("101");
        Ttable *other = bed("102");
        w->AddSinc(QStringLiteral("#101;8;Nurse;Bed 1"));
        w->AddSinc(QStringLiteral("#102;8;Nurse;Bed 2"));
        w->nm1Click();
        pickUp(held);
        w->nm1Click();
        QCOMPARE(w->windowTitle(), QStringLiteral("Kalvora."));
        // Put down where it is, with the default pointer and its hint back.
        QVERIFY(!held->isDrag);
        QCOMPARE(centre(held), QPoint(307, 110));
        QVERIFY(!held->iT->hasCursor());
        QVERIFY(!held->lab->hasCursor());
        // The hint is the name the bed was created with, not the name a call gave it.
        QCOMPARE(held->iT->toolTip(), QStringLiteral("Палата 1, койка 1"));

        // From now on a click acts on the bed under the pointer, if any (a
        // label stops moves: the pointer reaches it over its bed's icon).
        move(spot(QStringLiteral("icon"), other));
        move(spot(where, other));
        click(spot(where, other));
        QVERIFY(held->isOn);
        QCOMPARE(other->isOn, !cancelsOther);
        QCOMPARE(w->curTable, cancelsOther ? other : nullptr);
        QCOMPARE(centre(held), QPoint(307, 110));
        QVERIFY(!held->isDrag);
    }

    void pointerMoves_chooseWindowMenu_placesCarryTheirOwn()
    {
        startConsole();
        Ttable *b = bed("101");
        QCOMPARE(w->popupMenu(), nullptr); // no move yet
        QCOMPARE(w->iBackground->popupMenu(), w->PopupMenu1);
        QCOMPARE(w->iPanel->popupMenu(), w->PopupMenu1);
        for (const auto &item : w->sl) {
            QCOMPARE(item.object->iB->popupMenu(), w->PopupMenu2);
            QCOMPARE(item.object->iT->popupMenu(), nullptr);
        }
        move(spot(QStringLiteral("icon"), b));
        QCOMPARE(w->popupMenu(), w->PopupMenu2);
        QCOMPARE(w->curTable, b);
        move(spot(QStringLiteral("panel"), b));
        QCOMPARE(w->popupMenu(), w->PopupMenu1);
        QCOMPARE(w->curTable, nullptr);
    }

    void rightClick_opensMenuOfPlaceOrOfLastMove_data()
    {
        QTest::addColumn<QString>("before"); // last move over: plan, icon; or "held"
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("menu");
        // clang-format off
        QTest::newRow("icon") << "plan" << "icon" << "PopupMenu2";
        QTest::newRow("label, pointer came from the plan") << "plan" << "label" << "PopupMenu1";
        QTest::newRow("label, pointer came from the icon") << "icon" << "label" << "PopupMenu2";
        QTest::newRow("plan, pointer came from the icon") << "icon" << "plan" << "PopupMenu1";
        QTest::newRow("plan, bed left held") << "held" << "plan" << "PopupMenu1";
        QTest::newRow("panel, bed left held") << "held" << "panel" << "PopupMenu1";
        QTest::newRow("bare window, bed left held") << "held" << "window" << "PopupMenu1";
        QTest::newRow("bare window, no bed") << "plan" << "window" << "PopupMenu1";
        QTest::newRow("bill overlay, pointer came from the plan") << "plan" << "overlay" << "PopupMenu2";
        // clang-format on
    }
    void rightClick_opensMenuOfPlaceOrOfLastMove()
    {
        QFETCH(QString, before);
        QFETCH(QString, where);
        QFETCH(QString, menu);
        startConsole();
        Ttable *b = bed("101");
        w->AddSinc(QStringLiteral("#101;4;Nurse;Bed 1")); // shows the bill overlay
        QVERIFY(b->iB->isVisible());
        if (before == u"held") {
            w->nm1Click();
            pickUp(b);
            w->nm1Click();
            before = QStringLiteral("plan");
        }
        move(spot(before, b));
        click(spot(where, b), Qt::RightButton);
        QTRY_VERIFY(QApplication::activePopupWidget());
        QCOMPARE(QApplication::activePopupWidget()->objectName(), menu);
    }

    // The menu key and Shift+F10 open, at the pointer, the menu a right click
    // there would open.
    void keyboard_opensMenuUnderPointer_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("key"); // "menu": the menu key, as the window system passes it on
        QTest::addColumn<QString>("menu");
        // clang-format off
        QTest::newRow("icon, Shift+F10") << "icon" << "shift+f10" << "PopupMenu2";
        QTest::newRow("icon, menu key") << "icon" << "menu" << "PopupMenu2";
        QTest::newRow("bill overlay, Shift+F10") << "overlay" << "shift+f10" << "PopupMenu2";
        QTest::newRow("label, menu key") << "label" << "menu" << "PopupMenu1"; // came from the plan
        QTest::newRow("plan, Shift+F10") << "plan" << "shift+f10" << "PopupMenu1";
        QTest::newRow("plan, menu key") << "plan" << "menu" << "PopupMenu1";
        QTest::newRow("panel, menu key") << "panel" << "menu" << "PopupMenu1";
        QTest::newRow("bare window, Shift+F10") << "window" << "shift+f10" << "PopupMenu1";
        // clang-format on
    }
    void keyboard_opensMenuUnderPointer()
    {
        QFETCH(QString, where);
        QFETCH(QString, key);
        QFETCH(QString, menu);
        startConsole();
        Ttable *b = bed("101");
        w->AddSinc(QStringLiteral("#101;4;Nurse;Bed 1")); // shows the bill overlay
        const Spot place = spot(where, b);
        const QPoint global = w->mapToGlobal(place.at);
        move(spot(QStringLiteral("plan"), b));
        move(place);
        QCursor::setPos(global);
        QTRY_COMPARE(QCursor::pos(), global);

        click(place, Qt::RightButton);
        QTRY_VERIFY(QApplication::activePopupWidget());
        const QString byMouse = QApplication::activePopupWidget()->objectName();
        const QPoint byMouseAt = QApplication::activePopupWidget()->pos(); // kept on the screen
        QCOMPARE(byMouse, menu);
        closePopup();
        QTRY_VERIFY(!QApplication::activePopupWidget());

        if (key == u"menu") {
            QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(0, 0), w->mapToGlobal(QPoint(0, 0)));
            QApplication::sendEvent(w, &event);
        } else {
            QTest::keyClick(w, Qt::Key_F10, Qt::ShiftModifier);
        }
        QTRY_VERIFY(QApplication::activePopupWidget());
        QCOMPARE(QApplication::activePopupWidget()->objectName(), byMouse);
        QCOMPARE(QApplication::activePopupWidget()->pos(), byMouseAt);
        // The menu is used from the keyboard as any menu: down to its first item, Enter.
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Down);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Return);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QCOMPARE(w->curMode, 1); // "Перемещение объектов" on
    }

    void overlappingIcons_laterBedInListWins_data()
    {
        QTest::addColumn<int>("secondOffset"); // bed 2's centre right of bed 1's
        QTest::addColumn<int>("x");
        QTest::addColumn<QString>("found");
        QTest::newRow("first bed alone") << 10 << 285 << "1";
        QTest::newRow("overlap, later bed on the right") << 10 << 305 << "2";
        QTest::newRow("later bed alone") << 10 << 325 << "2";
        QTest::newRow("overlap, later bed on the left") << -10 << 300 << "2";
        QTest::newRow("first bed alone, later bed on the left") << -10 << 315 << "1";
    }
    void overlappingIcons_laterBedInListWins()
    {
        QFETCH(int, secondOffset);
        QFETCH(int, x);
        QFETCH(QString, found);
        startConsole({ QStringLiteral("1;300;300;0;A;1C"),
                       QStringLiteral("2;%1;300;0;B;2C").arg(300 + secondOffset) });
        const int y = 300 - 14; // above the name labels
        QCOMPARE(w->sl.keyAt(w->GetCurTableNumber(x, y)), found);
        QTest::mouseMove(w->windowHandle(), QPoint(x, y));
        QVERIFY(w->curTable);
        QCOMPARE(w->curTable->code, found);
    }
};

QTEST_MAIN(TestPointer)
#include "tst_pointer.moc"
