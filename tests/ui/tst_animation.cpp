#include "TestPictures.h"
#include "ui/AnimationClock.h"
#include "ui/PictureControl.h"

#include <QTest>

#include <memory>
#include <set>

using namespace kalvora;

namespace {

// Frames of 50, 70 and 150 ms: red, green, blue/white.
Picture threeFrames()
{
    static const Picture picture = decodePicture(test::animatedGif({ 0, 7, 15 }));
    return picture;
}

} // namespace

class TestAnimation : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void framesChangeAfterTheirDelays_data();
    void framesChangeAfterTheirDelays();
    void clockWakesExactlyWhenFramesAreDue_data();
    void clockWakesExactlyWhenFramesAreDue();
    void showsTheCurrentFrame();
    void noAnimationWhereNotAllowed_data();
    void noAnimationWhereNotAllowed();
    void hiddenControlPausesAndResumes_data();
    void hiddenControlPausesAndResumes();
    void newPictureStartsAtTheFirstFrame();
    void manyControlsShareOneWakeUpPerFrameChange();
    void destroyingWhileAnimatingIsSafe_data();
    void destroyingWhileAnimatingIsSafe();

private:
    // A shown window with one animated control, on a clock driven by the test.
    PictureControl *animatedControl();

    std::unique_ptr<AnimationClock> m_clock;
    std::unique_ptr<QWidget> m_window;
};

void TestAnimation::init()
{
    m_clock = std::make_unique<AnimationClock>();
    m_clock->setManual(true);
    m_window = std::make_unique<QWidget>();
    m_window->resize(200, 100);
}

void TestAnimation::cleanup()
{
    m_window.reset();
    m_clock.reset();
}

PictureControl *TestAnimation::animatedControl()
{
    auto *control = new PictureControl(m_window.get(), m_clock.get());
    control->setAutoSize(true);
    control->setAnimate(true);
    control->setPicture(threeFrames());
    m_window->show();
    return control;
}

void TestAnimation::framesChangeAfterTheirDelays_data()
{
    QTest::addColumn<QList<int>>("serveAt");
    QTest::addColumn<int>("frame");

    QTest::addRow("first frame until 50 ms") << QList<int> { 40 } << 0;
    QTest::addRow("delay 0 lasts 50 ms") << QList<int> { 50 } << 1;
    QTest::addRow("second frame lasts 70 ms") << QList<int> { 50, 110 } << 1;
    QTest::addRow("third frame at 120 ms") << QList<int> { 50, 120 } << 2;
    QTest::addRow("third frame lasts 150 ms") << QList<int> { 50, 120, 260 } << 2;
    QTest::addRow("first frame follows the last at 270 ms") << QList<int> { 50, 120, 270 } << 0;
    QTest::addRow("second cycle") << QList<int> { 50, 120, 270, 320, 390 } << 2;
    QTest::addRow("late wake-up does not shift later frames") << QList<int> { 58, 120 } << 2;
}

void TestAnimation::framesChangeAfterTheirDelays()
{
    QFETCH(QList<int>, serveAt);
    QFETCH(int, frame);

    PictureControl *control = animatedControl();
    QCOMPARE(m_clock->activeCount(), 1);
    for (int ms : std::as_const(serveAt))
        m_clock->serve(ms);
    QCOMPARE(control->currentFrame(), frame);
}

void TestAnimation::clockWakesExactlyWhenFramesAreDue_data()
{
    QTest::addColumn<QList<int>>("delays"); // of each client's frames, in hundredths

    QTest::addRow("10 ms") << QList<int> { 1 };
    QTest::addRow("20 ms") << QList<int> { 2 };
    QTest::addRow("50 ms") << QList<int> { 5 };
    QTest::addRow("150 ms") << QList<int> { 15 };
    QTest::addRow("a delay of 0 is 50 ms") << QList<int> { 0 };
    QTest::addRow("10, 20, 50 and 150 ms together") << QList<int> { 1, 2, 5, 15 };
    QTest::addRow("two clients of 10 ms") << QList<int> { 1, 1 };
}

void TestAnimation::clockWakesExactlyWhenFramesAreDue()
{
    QFETCH(QList<int>, delays);

    AnimationClock clock;
    clock.setManual(true);
    clock.serve(3); // off the grid
    std::vector<std::vector<qint64>> changes(size_t(delays.size()));
    for (qsizetype i = 0; i < delays.size(); ++i) {
        const qint64 delay = frameDelayMs(delays[i]);
        clock.start(delay, [&clock, &changes, i, delay] {
            changes[size_t(i)].push_back(clock.now());
            return delay;
        });
    }
    // The clock is woken exactly when it says, as its timer does.
    std::set<qint64> changeTimes;
    int wakeUps = 0;
    for (qint64 t = clock.nextDue(); t >= 0 && t <= 3000; t = clock.nextDue()) {
        clock.serve(t);
        ++wakeUps;
    }
    for (qsizetype i = 0; i < delays.size(); ++i) {
        const qint64 delay = frameDelayMs(delays[i]);
        const std::vector<qint64> &at = changes[size_t(i)];
        QVERIFY(at.size() >= 3000 / size_t(delay) - 1);
        // The first frame shows from the start until the grid's next step
        // after its delay; every frame after it for exactly its delay.
        QCOMPARE(at.front(), (3 + delay + 9) / 10 * 10);
        for (size_t k = 1; k < at.size(); ++k)
            QCOMPARE(at[k] - at[k - 1], delay);
        changeTimes.insert(at.begin(), at.end());
    }
    // Never woken without a frame to change.
    QCOMPARE(wakeUps, int(changeTimes.size()));
}

void TestAnimation::showsTheCurrentFrame()
{
    PictureControl *control = animatedControl();
    QCOMPARE(control->grab().toImage().pixelColor(0, 0), QColor(Qt::red));
    m_clock->serve(50);
    QCOMPARE(control->grab().toImage().pixelColor(0, 0), QColor(Qt::green));
    m_clock->serve(120);
    QCOMPARE(control->grab().toImage().pixelColor(1, 0), QColor(Qt::white));
}

void TestAnimation::noAnimationWhereNotAllowed_data()
{
    QTest::addColumn<QString>("situation");

    QTest::addRow("animation off") << QStringLiteral("off");
    QTest::addRow("shown without a parent") << QStringLiteral("no parent");
    QTest::addRow("control hidden") << QStringLiteral("hidden");
    QTest::addRow("window not shown") << QStringLiteral("window hidden");
    QTest::addRow("single-frame picture") << QStringLiteral("one frame");
}

void TestAnimation::noAnimationWhereNotAllowed()
{
    QFETCH(QString, situation);

    const bool parented = situation != QLatin1String("no parent");
    std::unique_ptr<PictureControl> orphan;
    PictureControl *control = nullptr;
    if (parented) {
        control = new PictureControl(m_window.get(), m_clock.get());
    } else {
        orphan = std::make_unique<PictureControl>(nullptr, m_clock.get());
        control = orphan.get();
    }
    control->setAnimate(situation != QLatin1String("off"));
    control->setPicture(situation == QLatin1String("one frame")
                            ? decodePicture(test::animatedGif({ 7 }))
                            : threeFrames());
    if (situation == QLatin1String("hidden"))
        control->hide();
    if (situation != QLatin1String("window hidden"))
        m_window->show();
    if (!parented)
        control->show();

    QCOMPARE(m_clock->activeCount(), 0);
    for (int ms : { 50, 120, 270, 320 })
        m_clock->serve(ms);
    QCOMPARE(control->currentFrame(), 0);
}

void TestAnimation::hiddenControlPausesAndResumes_data()
{
    QTest::addColumn<bool>("hideWindow"); // else the control itself

    QTest::addRow("control hidden") << false;
    QTest::addRow("window hidden") << true;
}

void TestAnimation::hiddenControlPausesAndResumes()
{
    QFETCH(bool, hideWindow);

    PictureControl *control = animatedControl();
    QWidget *hidden = hideWindow ? m_window.get() : static_cast<QWidget *>(control);
    m_clock->serve(50);
    QCOMPARE(control->currentFrame(), 1);

    hidden->hide();
    QCOMPARE(m_clock->activeCount(), 0);
    m_clock->serve(120);
    m_clock->serve(270);
    QCOMPARE(control->currentFrame(), 1);

    // Shown again at 300 ms it goes on from the second frame, which still
    // stays for its own 70 ms.
    m_clock->serve(300);
    hidden->show();
    QCOMPARE(m_clock->activeCount(), 1);
    m_clock->serve(310);
    QCOMPARE(control->currentFrame(), 1);
    m_clock->serve(370);
    QCOMPARE(control->currentFrame(), 2);
}

void TestAnimation::newPictureStartsAtTheFirstFrame()
{
    PictureControl *control = animatedControl();
    m_clock->serve(50);
    m_clock->serve(120);
    QCOMPARE(control->currentFrame(), 2);

    control->setPicture(decodePicture(test::animatedGif({ 20, 20 })));
    QCOMPARE(control->currentFrame(), 0);
    QCOMPARE(m_clock->activeCount(), 1);
    m_clock->serve(310);
    QCOMPARE(control->currentFrame(), 0);
    m_clock->serve(320);
    QCOMPARE(control->currentFrame(), 1);

    control->setPicture(decodePicture(test::animatedGif({ 20 })));
    QCOMPARE(control->currentFrame(), 0);
    QCOMPARE(m_clock->activeCount(), 0);
}

void TestAnimation::manyControlsShareOneWakeUpPerFrameChange()
{
    // The window's own clock, on real time.
    m_clock = std::make_unique<AnimationClock>();
    QWidget window;
    for (int i = 0; i < 1000; ++i) {
        auto *control = new PictureControl(&window, m_clock.get());
        control->setGeometry(i % 40 * 5, i / 40 * 5, 2, 2);
        control->setAnimate(true);
        control->setPicture(threeFrames());
    }
    QCOMPARE(m_clock->activeCount(), 0);
    window.show(); // starts all of them together
    QCOMPARE(m_clock->activeCount(), 1000);

    // Frames change at 50, 120 and 270 ms of every 270 ms cycle. Starting
    // across a 10 ms boundary may split the controls into two groups, so allow
    // two wake-ups per change (and a few spare), but never one per control.
    const qint64 startedAt = m_clock->now();
    QTRY_VERIFY_WITH_TIMEOUT(m_clock->now() - startedAt >= 560, 5000);
    const quint64 wakeUps = m_clock->wakeUps();
    const qint64 elapsed = m_clock->now() - startedAt;
    int changes = 0;
    for (qint64 at = 0; at <= elapsed + 10; ++changes)
        at += threeFrames()->frames[size_t(changes % 3)].delayMs;
    QVERIFY2(wakeUps >= 3, QByteArray::number(wakeUps));
    QVERIFY2(
        wakeUps <= quint64(2 * changes + 4),
        QByteArray(QByteArray::number(wakeUps) + " wake-ups for " + QByteArray::number(changes))
            .constData());

    // With nothing to animate the clock does not wake.
    window.hide();
    QCOMPARE(m_clock->activeCount(), 0);
    const quint64 whenHidden = m_clock->wakeUps();
    QTest::qWait(150);
    QCOMPARE(m_clock->wakeUps(), whenHidden);
}

void TestAnimation::destroyingWhileAnimatingIsSafe_data()
{
    QTest::addColumn<QString>("destroyed");

    QTest::addRow("control") << QStringLiteral("control");
    QTest::addRow("its window") << QStringLiteral("window");
    QTest::addRow("the clock, then the control") << QStringLiteral("clock");
}

void TestAnimation::destroyingWhileAnimatingIsSafe()
{
    QFETCH(QString, destroyed);

    PictureControl *control = animatedControl();
    PictureControl *survivor = new PictureControl(m_window.get(), m_clock.get());
    survivor->setAnimate(true);
    survivor->setPicture(threeFrames());
    survivor->show();
    QCOMPARE(m_clock->activeCount(), 2);

    if (destroyed == QLatin1String("clock")) {
        m_clock.reset();
        delete control;
        m_window.reset();
        return;
    }
    if (destroyed == QLatin1String("control")) {
        delete control;
        QCOMPARE(m_clock->activeCount(), 1);
        m_clock->serve(50);
        QCOMPARE(survivor->currentFrame(), 1);
    } else {
        m_window.reset();
        QCOMPARE(m_clock->activeCount(), 0);
    }
    m_clock->serve(120);
    m_clock->serve(270);
}

QTEST_MAIN(TestAnimation)
#include "tst_animation.moc"
