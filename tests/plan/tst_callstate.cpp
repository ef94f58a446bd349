#include "plan/CallState.h"

#include <QTest>

using namespace kalvora;

Q_DECLARE_METATYPE(kalvora::CallState::Look)

class TestCallState : public QObject {
    Q_OBJECT

private slots:
    void callTurnsOverdueThenEnds_data();
    void callTurnsOverdueThenEnds();
    void idleBedIgnoresTicksAndEndCall();
    void newCallStartsOver_data();
    void newCallStartsOver();
};

void TestCallState::callTurnsOverdueThenEnds_data()
{
    QTest::addColumn<qint32>("redSec");
    QTest::addColumn<qint32>("maxSec");
    QTest::addColumn<int>("overdueTick"); // 0: never
    QTest::addColumn<int>("endTick");

    QTest::addRow("defaults") << 20 << 60 << 20 << 61;
    QTest::addRow("overdue after one second") << 1 << 60 << 1 << 61;
    QTest::addRow("overdue on the last full second") << 60 << 60 << 60 << 61;
    QTest::addRow("redSec 0 never overdue") << 0 << 60 << 0 << 61;
    QTest::addRow("negative redSec never overdue") << -5 << 60 << 0 << 61;
    QTest::addRow("redSec one past maxSec: overdue and ended together") << 61 << 60 << 61 << 61;
    QTest::addRow("redSec beyond that never overdue") << 62 << 60 << 0 << 61;
    QTest::addRow("maxSec 0 ends on the first tick") << 20 << 0 << 0 << 1;
    QTest::addRow("negative maxSec ends on the first tick") << 20 << -10 << 0 << 1;
    QTest::addRow("maxSec 0 with redSec 1") << 1 << 0 << 1 << 1;
}

void TestCallState::callTurnsOverdueThenEnds()
{
    QFETCH(qint32, redSec);
    QFETCH(qint32, maxSec);
    QFETCH(int, overdueTick);
    QFETCH(int, endTick);

    CallState state;
    QCOMPARE(state.look(), CallState::Look::Idle);
    state.startCall();
    QCOMPARE(state.look(), CallState::Look::Calling);
    QCOMPARE(state.curT, 0);

    for (int t = 1; t <= endTick + 3; ++t) {
        const CallState::Tick tick = state.advance(redSec, maxSec);
        QCOMPARE(tick.turnedRed, t == overdueTick);
        QCOMPARE(tick.ended, t == endTick);
        if (t >= endTick) {
            QCOMPARE(state.look(), CallState::Look::Idle);
            QCOMPARE(state.curT, -1);
            QVERIFY(!state.isOn && !state.isRed);
        } else {
            const bool overdue = overdueTick > 0 && t >= overdueTick;
            QCOMPARE(state.look(), overdue ? CallState::Look::Overdue : CallState::Look::Calling);
            QCOMPARE(state.curT, t);
        }
    }
}

void TestCallState::idleBedIgnoresTicksAndEndCall()
{
    CallState state;
    const CallState::Tick tick = state.advance(-1, 0);
    QVERIFY(!tick.turnedRed && !tick.ended);
    QCOMPARE(state.curT, -1);
    state.endCall();
    QCOMPARE(state.look(), CallState::Look::Idle);
    QCOMPARE(state.curT, -1);
}

void TestCallState::newCallStartsOver_data()
{
    QTest::addColumn<int>("ticksBefore");
    QTest::addColumn<CallState::Look>("lookBefore");
    QTest::addRow("from idle") << 0 << CallState::Look::Idle;
    QTest::addRow("while calling") << 5 << CallState::Look::Calling;
    QTest::addRow("while overdue") << 25 << CallState::Look::Overdue;
}

void TestCallState::newCallStartsOver()
{
    QFETCH(int, ticksBefore);
    QFETCH(CallState::Look, lookBefore);
    CallState state;
    if (ticksBefore > 0)
        state.startCall();
    for (int t = 0; t < ticksBefore; ++t)
        state.advance(20, 60);
    QCOMPARE(state.look(), lookBefore);

    state.startCall();
    QCOMPARE(state.look(), CallState::Look::Calling);
    QCOMPARE(state.curT, 0);
    // The new call counts its own seconds: overdue again only after 20 more.
    for (int t = 1; t < 20; ++t)
        QVERIFY(!state.advance(20, 60).turnedRed);
    QVERIFY(state.advance(20, 60).turnedRed);
    QCOMPARE(state.look(), CallState::Look::Overdue);
    state.endCall();
    QCOMPARE(state.look(), CallState::Look::Idle);
    QCOMPARE(state.curT, -1);
}

QTEST_APPLESS_MAIN(TestCallState)
#include "tst_callstate.moc"
