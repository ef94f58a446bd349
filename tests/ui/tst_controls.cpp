#include "ui/Errors.h"
#include "ui/Fonts.h"
#include "ui/PictureControl.h"
#include "ui/TextLabel.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

using namespace kalvora;
using namespace Qt::StringLiterals;

namespace {

// A window that counts the pointer events reaching it.
class RecordingWindow : public QWidget {
public:
    int moves = 0;
    int presses = 0;
    int menus = 0;
    QPoint menuPos;

protected:
    void mouseMoveEvent(QMouseEvent *) override { ++moves; }
    void mousePressEvent(QMouseEvent *) override { ++presses; }
    void contextMenuEvent(QContextMenuEvent *event) override
    {
        ++menus;
        menuPos = event->pos();
    }
};

// 3x2 pixels: red at the top-left, blue elsewhere.
Picture marker()
{
    auto data = std::make_shared<PictureData>();
    QImage image(3, 2, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::blue);
    image.setPixelColor(0, 0, Qt::red);
    data->size = image.size();
    data->frames.push_back({ image, 0 });
    return data;
}

void send(QWidget *target, QEvent::Type type, Qt::MouseButton button, QPoint pos)
{
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent event(type, QPointF(pos), QPointF(target->mapToGlobal(pos)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestControls : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { setBoxObserver({}); }

    void autoSizeTakesThePictureSize_data();
    void autoSizeTakesThePictureSize();
    void placementNeverStretches_data();
    void placementNeverStretches();
    void rightClickOpensOwnMenuOrTheWindows_data();
    void rightClickOpensOwnMenuOrTheWindows();
    void pointerEventsStopAtTheControl_data();
    void pointerEventsStopAtTheControl();
    void clickNeedsPressAndReleaseInside_data();
    void clickNeedsPressAndReleaseInside();

    void accelerators_data();
    void accelerators();
    void labelSizesToItsText_data();
    void labelSizesToItsText();

    void callListLineIs19PixelsHigh();
    void consoleFontIsTahoma_data();
    void consoleFontIsTahoma();

    void errorCaptionFromExecutableName_data();
    void errorCaptionFromExecutableName();
    void fullStopAfterCharactersAboveStop_data();
    void fullStopAfterCharactersAboveStop();
    void guardedShowsOneBoxAndGoesOn_data();
    void guardedShowsOneBoxAndGoesOn();
    void confirmBoxAnswersAsTheObserverSays_data();
    void confirmBoxAnswersAsTheObserverSays();
};

void TestControls::autoSizeTakesThePictureSize_data()
{
    QTest::addColumn<bool>("autoSizeFirst");
    QTest::addColumn<bool>("autoSizeAfter");
    QTest::addColumn<QByteArray>("file"); // loaded after the marker picture
    QTest::addColumn<QSize>("size");

    QTest::addRow("auto-size, then picture") << true << true << QByteArray() << QSize(3, 2);
    QTest::addRow("picture, then auto-size") << false << true << QByteArray() << QSize(3, 2);
    QTest::addRow("no auto-size") << false << false << QByteArray() << QSize(100, 100);
    QTest::addRow("auto-size, then unreadable file")
        << true << true << QByteArray("not a picture") << QSize(3, 2);
}

void TestControls::autoSizeTakesThePictureSize()
{
    QFETCH(bool, autoSizeFirst);
    QFETCH(bool, autoSizeAfter);
    QFETCH(QByteArray, file);
    QFETCH(QSize, size);

    QWidget window;
    PictureControl control(&window);
    control.resize(100, 100);
    control.setAutoSize(autoSizeFirst);
    control.setPicture(marker());
    control.setAutoSize(autoSizeAfter);
    if (!file.isEmpty()) {
        QTemporaryDir dir;
        QFile broken(dir.filePath(u"plan.jpg"_s));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(file) == file.size());
        broken.close();
        QCOMPARE(control.loadFromFile(broken.fileName()), LoadOutcome::NotAPicture);
        QVERIFY(control.grab().toImage().pixelColor(0, 0) != QColor(Qt::red)); // shows nothing
    }
    QCOMPARE(control.size(), size);
}

void TestControls::placementNeverStretches_data()
{
    QTest::addColumn<PictureControl::Placement>("placement");
    QTest::addColumn<QList<QPoint>>("red"); // where the picture's red corner lands
    QTest::addColumn<QList<QPoint>>("background"); // pixels left untouched

    using P = PictureControl::Placement;
    QTest::addRow("top-left") << P::TopLeft << QList<QPoint> { { 0, 0 } }
                              << QList<QPoint> { { 3, 0 }, { 0, 2 }, { 10, 7 } };
    QTest::addRow("centred") << P::Center << QList<QPoint> { { 4, 3 } }
                             << QList<QPoint> { { 0, 0 }, { 3, 3 }, { 4, 2 }, { 7, 3 }, { 10, 7 } };
    QTest::addRow("tiled") << P::Tile
                           << QList<QPoint> { { 0, 0 }, { 3, 0 }, { 9, 0 }, { 0, 6 }, { 9, 6 } }
                           << QList<QPoint> {};
}

void TestControls::placementNeverStretches()
{
    QFETCH(PictureControl::Placement, placement);
    QFETCH(QList<QPoint>, red);
    QFETCH(QList<QPoint>, background);

    QWidget window;
    PictureControl control(&window);
    control.setAutoFillBackground(true);
    QPalette palette = control.palette();
    palette.setColor(QPalette::Window, Qt::green);
    control.setPalette(palette);
    control.resize(11, 8);
    control.setPicture(marker());
    control.setPlacement(placement);

    const QImage shown = control.grab().toImage();
    for (const QPoint &p : std::as_const(red)) {
        QCOMPARE(shown.pixelColor(p), QColor(Qt::red));
        QCOMPARE(shown.pixelColor(p + QPoint(1, 0)), QColor(Qt::blue));
    }
    for (const QPoint &p : std::as_const(background))
        QCOMPARE(shown.pixelColor(p), QColor(Qt::green));
}

void TestControls::rightClickOpensOwnMenuOrTheWindows_data()
{
    QTest::addColumn<bool>("ownMenu");

    QTest::addRow("control without a menu: the window's menu") << false;
    QTest::addRow("control with its own menu") << true;
}

void TestControls::rightClickOpensOwnMenuOrTheWindows()
{
    QFETCH(bool, ownMenu);

    RecordingWindow window;
    window.resize(200, 200);
    auto *control = new PictureControl(&window);
    control->setGeometry(40, 30, 25, 25);
    QMenu menu;
    menu.addAction(u"Перемещение объектов"_s);
    if (ownMenu)
        control->setPopupMenu(&menu);
    window.show();

    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 6),
                            control->mapToGlobal(QPoint(5, 6)));
    QApplication::sendEvent(control, &event);

    QCOMPARE(window.menus, ownMenu ? 0 : 1);
    QCOMPARE(menu.isVisible(), ownMenu);
    if (!ownMenu)
        QCOMPARE(window.menuPos, QPoint(45, 36)); // in the window's coordinates
    menu.close();
}

void TestControls::pointerEventsStopAtTheControl_data()
{
    QTest::addColumn<bool>("label");
    QTest::addColumn<bool>("handlers");

    QTest::addRow("picture with handlers") << false << true;
    QTest::addRow("picture without handlers") << false << false;
    QTest::addRow("label") << true << false;
    QTest::addRow("label with press handler") << true << true;
}

void TestControls::pointerEventsStopAtTheControl()
{
    QFETCH(bool, label);
    QFETCH(bool, handlers);

    RecordingWindow window;
    window.setMouseTracking(true);
    window.resize(200, 200);
    QWidget *control = nullptr;
    QList<QPoint> moves;
    QList<Qt::MouseButton> presses;
    if (label) {
        auto *textLabel = new TextLabel(&window);
        textLabel->setText(u"Койка 12"_s);
        if (handlers)
            textLabel->onMouseDown = [&](Qt::MouseButton b) { presses << b; };
        control = textLabel;
    } else {
        auto *picture = new PictureControl(&window);
        picture->resize(25, 25);
        if (handlers) {
            picture->onMouseMove = [&](QPoint p) { moves << p; };
            picture->onMouseDown = [&](Qt::MouseButton b, QPoint) { presses << b; };
        }
        control = picture;
    }
    control->move(40, 30);
    window.show();

    send(control, QEvent::MouseMove, Qt::NoButton, QPoint(3, 4));
    send(control, QEvent::MouseButtonPress, Qt::RightButton, QPoint(3, 4));
    send(control, QEvent::MouseButtonRelease, Qt::RightButton, QPoint(3, 4));

    QCOMPARE(window.moves, 0);
    QCOMPARE(window.presses, 0);
    QCOMPARE(moves.size(), !label && handlers ? 1 : 0);
    if (!moves.isEmpty())
        QCOMPARE(moves.front(), QPoint(3, 4));
    QCOMPARE(presses.size(), handlers ? 1 : 0);
    if (!presses.isEmpty())
        QCOMPARE(presses.front(), Qt::RightButton);
}

void TestControls::clickNeedsPressAndReleaseInside_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QPoint>("releaseAt");
    QTest::addColumn<int>("clicks");

    QTest::addRow("left press and release inside") << Qt::LeftButton << QPoint(20, 20) << 1;
    QTest::addRow("released outside") << Qt::LeftButton << QPoint(30, 5) << 0;
    QTest::addRow("right button") << Qt::RightButton << QPoint(5, 5) << 0;
}

void TestControls::clickNeedsPressAndReleaseInside()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, releaseAt);
    QFETCH(int, clicks);

    QWidget window;
    PictureControl control(&window);
    control.resize(25, 25);
    int clicked = 0;
    control.onClick = [&] { ++clicked; };
    window.show();

    send(&control, QEvent::MouseButtonPress, button, QPoint(5, 5));
    send(&control, QEvent::MouseButtonRelease, button, releaseAt);
    QCOMPARE(clicked, clicks);
}

void TestControls::accelerators_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QList<qsizetype>>("underlined");

    QTest::addRow("mark before the first letter")
        << u"&Bed"_s << u"Bed"_s << QList<qsizetype> { 0 };
    QTest::addRow("mark inside") << u"B&ed 2"_s << u"Bed 2"_s << QList<qsizetype> { 1 };
    QTest::addRow("double mark shows one") << u"A && B"_s << u"A & B"_s << QList<qsizetype> {};
    QTest::addRow("triple mark") << u"&&&x"_s << u"&x"_s << QList<qsizetype> { 1 };
    QTest::addRow("two marks") << u"&a&b"_s << u"ab"_s << QList<qsizetype> { 0, 1 };
    QTest::addRow("trailing single mark") << u"Bed&"_s << u"Bed"_s << QList<qsizetype> {};
    QTest::addRow("mark alone") << u"&"_s << QString() << QList<qsizetype> {};
    QTest::addRow("Cyrillic") << u"&Койка"_s << u"Койка"_s << QList<qsizetype> { 0 };
    QTest::addRow("no marks") << u"Время"_s << u"Время"_s << QList<qsizetype> {};
}

void TestControls::accelerators()
{
    QFETCH(QString, caption);
    QFETCH(QString, shown);
    QFETCH(QList<qsizetype>, underlined);

    const AcceleratedText parsed = parseAccelerators(caption);
    QCOMPARE(parsed.text, shown);
    QCOMPARE(parsed.underlined, underlined);
}

void TestControls::labelSizesToItsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines"); // as drawn
    QTest::addColumn<int>("pixels");

    QTest::addRow("one line") << u"Ответственный"_s << QStringList { u"Ответственный"_s } << 16;
    QTest::addRow("accelerator mark") << u"&Койка 12"_s << QStringList { u"Койка 12"_s } << 13;
    QTest::addRow("double mark") << u"A && B"_s << QStringList { u"A & B"_s } << 16;
    QTest::addRow("CR LF") << u"ab\r\nwide line"_s << QStringList { u"ab"_s, u"wide line"_s } << 13;
    QTest::addRow("CR") << u"wide line\rab"_s << QStringList { u"wide line"_s, u"ab"_s } << 13;
    QTest::addRow("LF") << u"ab\nc"_s << QStringList { u"ab"_s, u"c"_s } << 16;
    QTest::addRow("LF CR is two line ends")
        << u"ab\n\rc"_s << QStringList { u"ab"_s, {}, u"c"_s } << 16;
}

void TestControls::labelSizesToItsText()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QFETCH(int, pixels);

    QWidget window;
    TextLabel label(&window);
    const QFont font = consoleFont(pixels, true);
    label.setLabelFont(font);
    label.setText(text);

    const auto widest = [&lines](const QFont &f) {
        int width = 0;
        for (const QString &line : std::as_const(lines))
            width = std::max(width, QFontMetrics(f).horizontalAdvance(line));
        return width;
    };
    TextLabel oneLine(&window);
    oneLine.setLabelFont(font);
    oneLine.setText(u"Bed"_s);
    QVERIFY(oneLine.height() >= QFontMetrics(font).height());

    QCOMPARE(label.size(), QSize(widest(font), oneLine.height() * int(lines.size())));
    QCOMPARE(label.text(), text);

    // A new font sizes the label anew.
    const QFont larger = consoleFont(pixels * 2, true);
    label.setLabelFont(larger);
    QCOMPARE(label.width(), widest(larger));
    QVERIFY(label.height() > oneLine.height() * int(lines.size()));
}

void TestControls::callListLineIs19PixelsHigh()
{
    if (!QFile::exists(u"/usr/share/wine/fonts/tahoma.ttf"_s))
        QSKIP("no Tahoma on this machine");
    QWidget window;
    TextLabel label(&window);
    label.setLabelFont(consoleFont(16, true));
    label.setText(u"Время"_s);
    QCOMPARE(label.height(), 19);
}

void TestControls::consoleFontIsTahoma_data()
{
    QTest::addColumn<int>("pixels");
    QTest::addColumn<bool>("bold");

    QTest::addRow("call list, 16 px bold") << 16 << true;
    QTest::addRow("bed names, 13 px bold") << 13 << true;
    QTest::addRow("16 px regular") << 16 << false;
}

void TestControls::consoleFontIsTahoma()
{
    QFETCH(int, pixels);
    QFETCH(bool, bold);

    const QFont font = consoleFont(pixels, bold);
    QCOMPARE(font.pixelSize(), pixels);
    QCOMPARE(font.bold(), bold);
    if (!QFile::exists(u"/usr/share/wine/fonts/tahoma.ttf"_s))
        QSKIP("no Tahoma on this machine");
    QCOMPARE(font.family(), u"Tahoma"_s);
    const QFontInfo used(font); // the face really drawn
    QCOMPARE(used.family(), u"Tahoma"_s);
    QCOMPARE(used.bold(), bold);
    QCOMPARE(used.pixelSize(), pixels);
}

void TestControls::errorCaptionFromExecutableName_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("caption");

    QTest::addRow("upper case with extension") << u"KALVORA.bin"_s << u"Kalvora"_s;
    QTest::addRow("lower case, no extension") << u"kalvora"_s << u"kalvora"_s;
    QTest::addRow("mixed case, two dots") << u"KalVora.Ward.exe"_s << u"Kalvora"_s;
    QTest::addRow("dots in the folder do not count") << u"/opt/ward.v2/KALVORA"_s << u"Kalvora"_s;
    QTest::addRow("Cyrillic") << u"ПУЛЬТ.exe"_s << u"Пульт"_s;
    QTest::addRow("one letter") << u"k.exe"_s << u"k"_s;
}

void TestControls::errorCaptionFromExecutableName()
{
    QFETCH(QString, executable);
    QFETCH(QString, caption);

    QCOMPARE(errorCaption(executable), caption);
}

void TestControls::fullStopAfterCharactersAboveStop_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    QTest::addRow("letter") << u"No such file"_s << u"No such file."_s;
    QTest::addRow("digit") << u"Port 5567"_s << u"Port 5567."_s;
    QTest::addRow("slash sorts above the stop") << u"C:/data/"_s << u"C:/data/."_s;
    QTest::addRow("Cyrillic letter") << u"Ошибка"_s << u"Ошибка."_s;
    QTest::addRow("closing parenthesis") << u"(x)"_s << u"(x)"_s;
    QTest::addRow("full stop") << u"a."_s << u"a."_s;
    QTest::addRow("exclamation mark") << u"a!"_s << u"a!"_s;
    QTest::addRow("hyphen") << u"a-"_s << u"a-"_s;
    QTest::addRow("space") << u"a "_s << u"a "_s;
    QTest::addRow("empty") << QString() << QString();
}

void TestControls::fullStopAfterCharactersAboveStop()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);

    QCOMPARE(withFullStop(text), shown);
}

void TestControls::guardedShowsOneBoxAndGoesOn_data()
{
    QTest::addColumn<int>("kind"); // 0 none, 1 console error, 2 platform error
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("boxText"); // none when no box

    QTest::addRow("no error") << 0 << QString() << QString();
    QTest::addRow("console error") << 1 << u"Could not load image. Invalid format"_s
                                   << u"Could not load image. Invalid format."_s;
    QTest::addRow("console error ending in ')'") << 1 << u"Bad kind (21)"_s << u"Bad kind (21)"_s;
    QTest::addRow("platform error") << 2 << u"disk full"_s << u"disk full."_s;
    QTest::addRow("platform error, Cyrillic") << 2 << u"Нет доступа"_s << u"Нет доступа."_s;
    // A damaged file can put megabytes into an error: the box shows a readable part.
    QTest::addRow("error of 200,000 characters")
        << 1 << QString(200000, u'7') << QString(kMaxErrorTextLength, u'7') + u"\u2026."_s;
}

void TestControls::guardedShowsOneBoxAndGoesOn()
{
    QFETCH(int, kind);
    QFETCH(QString, message);
    QFETCH(QString, boxText);

    QList<BoxRecord> boxes;
    setBoxObserver([&](const BoxRecord &box) {
        boxes << box;
        return true;
    });
    const bool ok = guarded([&] {
        if (kind == 1)
            throw KalvoraError(message);
        if (kind == 2)
            throw std::runtime_error(message.toStdString());
    });

    QCOMPARE(ok, kind == 0);
    QCOMPARE(boxes.size(), kind == 0 ? 0 : 1);
    if (kind != 0) {
        QCOMPARE(boxes.front().text, boxText);
        QCOMPARE(boxes.front().caption, u"tst_controls"_s); // this executable
    }
}

void TestControls::confirmBoxAnswersAsTheObserverSays_data()
{
    QTest::addColumn<int>("answer"); // -1: no observer

    QTest::addRow("observer says OK") << 1;
    QTest::addRow("observer says Cancel") << 0;
    QTest::addRow("no observer: OK") << -1;
}

void TestControls::confirmBoxAnswersAsTheObserverSays()
{
    QFETCH(int, answer);

    QList<BoxRecord> boxes;
    if (answer >= 0) {
        setBoxObserver([&](const BoxRecord &box) {
            boxes << box;
            return answer == 1;
        });
    }
    QCOMPARE(confirmBox(u"Kalvora"_s, u"Удалить койку?"_s), answer != 0);
    QCOMPARE(boxes.size(), answer >= 0 ? 1 : 0);
    if (answer >= 0) {
        QCOMPARE(boxes.front().caption, u"Kalvora"_s);
        QCOMPARE(boxes.front().text, u"Удалить койку?"_s);
    }
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
