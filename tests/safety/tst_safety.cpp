#include "plan/CallState.h"
#include "safety/CallMarks.h"
#include "safety/LinkSupervisor.h"
#include "safety/OverflowRow.h"
#include "safety/SafetySettings.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

using namespace kalvora;
using namespace Qt::StringLiterals;

namespace {

QString fields(const SafetySettings &s)
{
    return u"LinkLossSec=%1 FaultSound=%2 ReminderSec=%3 ClickAction=%4 KeepUntilCancelled=%5 "
           u"ShowOverflow=%6 OverdueSound=%7"_s.arg(s.LinkLossSec)
               .arg(s.FaultSound)
               .arg(s.ReminderSec)
               .arg(s.ClickAction == OnClick::Acknowledge ? u"acknowledge"_s : u"cancel"_s)
               .arg(int(s.KeepUntilCancelled))
               .arg(int(s.ShowOverflow))
               .arg(s.OverdueSound);
}

// One call of a reminder scenario: "start:kind[:aT][:cT]", kind P (plain,
// type 8) or B (with bill, type 4); it starts, is acknowledged (a) or
// cancelled (c) just after the tick of that second (0: before the first).
struct ScenarioCall {
    qint32 start = 0;
    CallKind kind = CallKind::Plain;
    qint32 acknowledged = -1;
    qint32 cancelled = -1;
    CallState state;
    CallMarks marks;
};

std::vector<ScenarioCall> parseCalls(const QString &text)
{
    std::vector<ScenarioCall> calls;
    for (const QString &item : text.split(u',', Qt::SkipEmptyParts)) {
        const QStringList parts = item.trimmed().split(u':');
        ScenarioCall call;
        call.start = parts[0].toInt();
        call.kind = parts[1] == u"B" ? CallKind::WithBill : CallKind::Plain;
        for (const QString &p : parts.mid(2))
            (p.startsWith(u'a') ? call.acknowledged : call.cancelled) = p.mid(1).toInt();
        calls.push_back(call);
    }
    return calls;
}

} // namespace

class TestSafety : public QObject {
    Q_OBJECT

private slots:
    void readsTheSafetySection_data();
    void readsTheSafetySection();
    void supervisesTheLink_data();
    void supervisesTheLink();
    void bannerAndTimerFollowTheSilence();
    void titleFollowsTheLink_data();
    void titleFollowsTheLink();
    void tickSounds_data();
    void tickSounds();
    void callsKeptUntilCancelledNeverTimeOut();
    void leftClickOutcome_data();
    void leftClickOutcome();
    void acknowledgeThenSecondClickEnds();
    void overflowRow_data();
    void overflowRow();
};

void TestSafety::readsTheSafetySection_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected"); // the settings that differ from the defaults
    const auto row = [](const char *name, const char *file, const QString &changed = {}) {
        QTest::addRow("%s", name) << QByteArray(file) << changed;
    };
    row("no section", "[Logic]\nredSec=5\n");
    row("empty section", "[Safety]\n");
    row("every key",
        "[Safety]\nLinkLossSec=5\nFaultSound=alarm.wav\nReminderSec=30\nClickAction=acknowledge\n"
        "KeepUntilCancelled=1\nShowOverflow=1\nOverdueSound=overdue.wav\n",
        u"LinkLossSec=5 FaultSound=alarm.wav ReminderSec=30 ClickAction=acknowledge "
        u"KeepUntilCancelled=1 ShowOverflow=1 OverdueSound=overdue.wav"_s);
    row("names in another case", "[SAFETY]\nlinklosssec=7\n", u"LinkLossSec=7"_s);
    row("hexadecimal", "[Safety]\nReminderSec=$1E\n", u"ReminderSec=30"_s);
    row("trailing text gives the default", "[Safety]\nLinkLossSec=5s\n");
    row("out of range gives the default", "[Safety]\nReminderSec=99999999999\n");
    row("negative seconds are kept (and mean off)", "[Safety]\nLinkLossSec=-3\n",
        u"LinkLossSec=-3"_s);
    row("acknowledge in capitals", "[Safety]\nClickAction=ACKNOWLEDGE\n",
        u"ClickAction=acknowledge"_s);
    row("quoted acknowledge", "[Safety]\nClickAction=\" Acknowledge \"\n");
    row("unknown click action cancels", "[Safety]\nClickAction=ack\n");
    row("empty click action cancels", "[Safety]\nClickAction=\n");
    row("any non-zero integer switches on", "[Safety]\nShowOverflow=2\nKeepUntilCancelled=-1\n",
        u"KeepUntilCancelled=1 ShowOverflow=1"_s);
    row("hexadecimal one switches on", "[Safety]\nShowOverflow=0x1\n", u"ShowOverflow=1"_s);
    row("zero stays off", "[Safety]\nKeepUntilCancelled=0\n");
    row("a word is no switch", "[Safety]\nKeepUntilCancelled=yes\n");
    row("empty fault sound", "[Safety]\nFaultSound=\n", u"FaultSound="_s);
    row("keys of another section not read", "[Logic]\nReminderSec=10\n");
    row("comment entry not read", "[Safety]\n;LinkLossSec=5\n");
}

void TestSafety::readsTheSafetySection()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"kalvora.ini"_s);
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();

    QStringList want = fields(SafetySettings()).split(u' ');
    for (const QString &change : expected.split(u' ', Qt::SkipEmptyParts)) {
        const QString key = change.section(u'=', 0, 0) + u'=';
        for (QString &f : want) {
            if (f.startsWith(key))
                f = change;
        }
    }
    QCOMPARE(fields(readSafetySettings(path)), want.join(u' '));
    QCOMPARE(fields(readSafetySettings(dir.filePath(u"missing.ini"_s))), fields(SafetySettings()));
}

void TestSafety::supervisesTheLink_data()
{
    // Steps "tMS" (time passes) or "rMS" (a presence reply), each followed by
    // what it must ask of the window: L lost, C changed, F fault sound, - none.
    QTest::addColumn<qint32>("lossSec");
    QTest::addColumn<QString>("steps");
    QTest::addRow("start-up with no reply yet") << 5 << u"t4999 -; t5000 LCF; t5001 L"_s;
    QTest::addRow("lost exactly LinkLossSec after the last reply")
        << 5 << u"r1000 -; t5000 -; t5999 -; t6000 LCF"_s;
    QTest::addRow("fault sound every 10 s while lost")
        << 5 << u"t5000 LCF; t6000 L; t14999 L; t15000 LF; t24000 L; t25000 LF"_s;
    QTest::addRow("a late timer sounds once, then on the 10 s rhythm")
        << 5 << u"t5000 LCF; t37000 LF; t44999 L; t45000 LF"_s;
    QTest::addRow("first reply restores at once")
        << 5 << u"t5000 LCF; r5500 C; t5501 -; t10499 -; t10500 LCF"_s;
    QTest::addRow("a new loss sounds at once")
        << 3 << u"t3000 LCF; r4000 C; t7000 LCF; t16999 L; t17000 LF"_s;
    QTest::addRow("regular replies keep the link up")
        << 5 << u"r500 -; r1000 -; t5999 -; r5999 -; t10998 -"_s;
    QTest::addRow("a reply while up changes nothing") << 1 << u"r10 -; r20 -; t1019 -"_s;
    QTest::addRow("a first loss found late sounds at once") << 2 << u"t60000 LCF; t61000 L"_s;
    QTest::addRow("off") << 0 << u"t100000 -; r5 -; t2000000000 -"_s;
    QTest::addRow("negative is off") << -5 << u"t100000 -"_s;
}

void TestSafety::supervisesTheLink()
{
    QFETCH(qint32, lossSec);
    QFETCH(QString, steps);
    LinkSupervisor link(lossSec, 0);
    static const QRegularExpression stepPattern(u"^([tr])(\\d+) ([LCF]+|-)$"_s);
    for (const QString &text : steps.split(u"; "_s)) {
        const QRegularExpressionMatch m = stepPattern.match(text);
        QVERIFY2(m.hasMatch(), qPrintable(text));
        const qint64 at = m.captured(2).toLongLong();
        const LinkSupervisor::Step step = m.captured(1) == u"t" ? link.tick(at) : link.reply(at);
        const QString flags = m.captured(3);
        const LinkSupervisor::Step want { flags.contains(u'L'), flags.contains(u'C'),
                                          flags.contains(u'F') };
        QVERIFY2(step == want, qPrintable(text));
        QCOMPARE(link.isLost(), want.lost);
    }
}

void TestSafety::bannerAndTimerFollowTheSilence()
{
    LinkSupervisor link(5, 1000);
    const auto due = [&](qint64 now) { return link.nextDueMs(now).value_or(-1); };
    QCOMPARE(due(1000), 6000);
    link.reply(2500);
    QCOMPARE(due(2600), 7500); // the loss moment
    QVERIFY(link.tick(7500).changed);
    QCOMPARE(due(7500), 8500); // the banner's next whole second
    QCOMPARE(link.bannerText(7500), u"Нет связи с сервером вызовов\nнет ответа 5 сек."_s);
    QCOMPARE(link.bannerText(8499), u"Нет связи с сервером вызовов\nнет ответа 5 сек."_s);
    QCOMPARE(link.bannerText(67500), u"Нет связи с сервером вызовов\nнет ответа 1 мин. 5 сек."_s);
    QCOMPARE(due(17000), 17500); // the fault sound, on a whole second too
    QVERIFY(link.tick(17500).playFault);
    QCOMPARE(due(17500), 18500);
    link.reply(18000);
    QCOMPARE(link.silenceMs(18400), 400);
    QCOMPARE(due(18400), 23000);
    QVERIFY(!LinkSupervisor().nextDueMs(0));
}

void TestSafety::titleFollowsTheLink_data()
{
    QTest::addColumn<TitleMoment>("moment");
    QTest::addColumn<bool>("moveMode");
    QTest::addColumn<bool>("lost");
    QTest::addColumn<bool>("replied");
    QTest::addColumn<QString>("title"); // empty: the title stays
    const QString lost = u"Kalvora: Нет связи с сервером."_s;
    const QString found = u"Kalvora: Сервер найден."_s;
    const QString notFound = u"Kalvora: Не найден сервер."_s;
    using M = TitleMoment;
    QTest::addRow("search tick, up, replied") << M::SearchTick << false << false << true << found;
    QTest::addRow("search tick, up, silent")
        << M::SearchTick << false << false << false << notFound;
    QTest::addRow("search tick, lost") << M::SearchTick << false << true << false << lost;
    QTest::addRow("search tick, lost though a reply came before the loss")
        << M::SearchTick << false << true << true << lost;
    QTest::addRow("lost") << M::LinkLost << false << true << false << lost;
    QTest::addRow("restored") << M::LinkRestored << false << false << true << found;
    QTest::addRow("move mode keeps its title when lost")
        << M::LinkLost << true << true << false << QString();
    QTest::addRow("move mode keeps its title when restored")
        << M::LinkRestored << true << false << true << QString();
    QTest::addRow("move mode keeps its title at the search tick")
        << M::SearchTick << true << true << false << QString();
    QTest::addRow("leaving move mode while lost")
        << M::MoveModeLeft << false << true << false << lost;
    QTest::addRow("leaving move mode while up")
        << M::MoveModeLeft << false << false << true << u"Kalvora."_s;
}

void TestSafety::titleFollowsTheLink()
{
    QFETCH(TitleMoment, moment);
    QFETCH(bool, moveMode);
    QFETCH(bool, lost);
    QFETCH(bool, replied);
    QFETCH(QString, title);
    QCOMPARE(linkTitle(moment, moveMode, lost, replied).value_or(QString()), title);
}

void TestSafety::tickSounds_data()
{
    QTest::addColumn<qint32>("reminderSec");
    QTest::addColumn<bool>("overdueSound");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<QString>("calls");
    QTest::addColumn<qint32>("ticks");
    QTest::addColumn<QString>("sounds"); // "tick kind" (P, B) or "tick O" (overdue), in order
    // redSec 20, maxSec 60 throughout.
    QTest::addRow("one call until it times out")
        << 10 << false << false << u"0:P"_s << 70 << u"10P 20P 30P 40P 50P 60P"_s;
    QTest::addRow("the sound the call started with")
        << 25 << false << false << u"3:B"_s << 70 << u"28B 53B"_s;
    QTest::addRow("a new call restarts the rhythm, not doubling it")
        << 10 << false << false << u"0:P, 15:B"_s << 40 << u"10P 25B 35B"_s;
    QTest::addRow("acknowledging the newest hands the rhythm to the older")
        << 10 << false << false << u"0:P, 15:B:a22"_s << 45 << u"10P 30P 40P"_s;
    QTest::addRow("an acknowledged call is not reminded")
        << 10 << false << false << u"0:P:a3"_s << 70 << QString();
    QTest::addRow("every call acknowledged")
        << 5 << false << false << u"0:P:a4, 1:B:a4"_s << 70 << QString();
    QTest::addRow("acknowledged newest, unacknowledged older")
        << 10 << false << false << u"0:B, 5:P:a5"_s << 25 << u"10B 20B"_s;
    QTest::addRow("a cancelled call is not reminded")
        << 10 << false << false << u"0:P:c15"_s << 70 << u"10P"_s;
    QTest::addRow("two calls of one second, the later in the list")
        << 10 << false << false << u"0:P, 0:B"_s << 12 << u"10B"_s;
    QTest::addRow("off") << 0 << false << false << u"0:P"_s << 70 << QString();
    QTest::addRow("overdue sound once for calls overdue together")
        << 0 << true << false << u"0:P, 0:B, 4:P"_s << 70 << u"20O 24O"_s;
    QTest::addRow("overdue sound also for an acknowledged call")
        << 0 << true << false << u"0:P:a1"_s << 30 << u"20O"_s;
    QTest::addRow("reminder before the overdue sound on one tick")
        << 10 << true << false << u"0:P"_s << 25 << u"10P 20P 20O"_s;
    QTest::addRow("no overdue sound unset") << 0 << false << false << u"0:P"_s << 30 << QString();
    QTest::addRow("kept until cancelled, reminded past maxSec")
        << 30 << false << true << u"0:P:c125"_s << 200 << u"30P 60P 90P 120P"_s;
}

void TestSafety::tickSounds()
{
    QFETCH(qint32, reminderSec);
    QFETCH(bool, overdueSound);
    QFETCH(bool, keep);
    QFETCH(QString, calls);
    QFETCH(qint32, ticks);
    QFETCH(QString, sounds);

    SafetySettings settings;
    settings.ReminderSec = reminderSec;
    settings.OverdueSound = overdueSound ? u"overdue.wav"_s : QString();
    const qint32 maxSec = effectiveMaxSec(60, keep);
    std::vector<ScenarioCall> list = parseCalls(calls);

    QStringList heard;
    const auto events = [&](qint32 second) {
        for (ScenarioCall &c : list) {
            if (c.start == second) {
                c.state.startCall();
                c.marks = { c.kind, false };
            }
            if (c.acknowledged == second)
                c.marks.acknowledged = true;
            if (c.cancelled == second)
                c.state.endCall();
        }
    };
    events(0);
    for (qint32 t = 1; t <= ticks; ++t) {
        TickSounds tick(settings);
        for (ScenarioCall &c : list)
            tick.call(c.state, c.marks, c.state.advance(20, maxSec).turnedRed);
        if (const auto kind = tick.reminder())
            heard << QString::number(t) + (*kind == CallKind::WithBill ? u'B' : u'P');
        if (tick.overdue())
            heard << QString::number(t) + u'O';
        events(t);
    }
    QCOMPARE(heard.join(u' '), sounds);
}

void TestSafety::callsKeptUntilCancelledNeverTimeOut()
{
    CallState kept;
    CallState timed;
    kept.startCall();
    timed.startCall();
    for (int t = 1; t <= 100000; ++t) {
        QVERIFY(!kept.advance(20, effectiveMaxSec(60, true)).ended);
        const bool ended = timed.advance(20, effectiveMaxSec(60, false)).ended;
        QCOMPARE(ended, t == 61);
    }
    QCOMPARE(kept.look(), CallState::Look::Overdue);
    QCOMPARE(kept.curT, 100000);
    QCOMPARE(timed.look(), CallState::Look::Idle);

    kept.curT = std::numeric_limits<qint32>::max() - 1; // the longest call there can be
    QVERIFY(!kept.advance(20, effectiveMaxSec(60, true)).ended);
    QVERIFY(!kept.advance(20, effectiveMaxSec(60, true)).ended);
    QVERIFY(kept.isOn);
}

void TestSafety::leftClickOutcome_data()
{
    QTest::addColumn<OnClick>("action");
    QTest::addColumn<bool>("calling");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<bool>("acknowledged");
    QTest::addColumn<ClickOutcome>("outcome");
    using O = ClickOutcome;
    QTest::addRow("cancel ends") << OnClick::Cancel << true << true << false << O::End;
    QTest::addRow("acknowledge first")
        << OnClick::Acknowledge << true << true << false << O::Acknowledge;
    QTest::addRow("acknowledged call ends")
        << OnClick::Acknowledge << true << true << true << O::End;
    QTest::addRow("idle bed with its ended call still listed")
        << OnClick::Acknowledge << false << true << false << O::End;
    QTest::addRow("idle bed") << OnClick::Acknowledge << false << false << false << O::End;
}

void TestSafety::leftClickOutcome()
{
    QFETCH(OnClick, action);
    QFETCH(bool, calling);
    QFETCH(bool, listed);
    QFETCH(bool, acknowledged);
    QFETCH(ClickOutcome, outcome);
    const CallMarks marks { CallKind::Plain, acknowledged };
    QCOMPARE(kalvora::leftClickOutcome(action, calling, listed ? &marks : nullptr), outcome);
}

void TestSafety::acknowledgeThenSecondClickEnds()
{
    CallState bed;
    bed.startCall();
    auto marks = std::make_unique<CallMarks>(CallMarks { CallKind::WithBill });
    QCOMPARE(responsibleText(u"Nurse A"_s, marks->acknowledged), u"Nurse A"_s);

    QCOMPARE(kalvora::leftClickOutcome(OnClick::Acknowledge, bed.isOn, marks.get()),
             ClickOutcome::Acknowledge);
    marks->acknowledged = true;
    QCOMPARE(bed.look(), CallState::Look::Calling); // the bed keeps its picture
    QCOMPARE(responsibleText(u"Nurse A"_s, marks->acknowledged), u"✓ Nurse A"_s);

    QCOMPARE(kalvora::leftClickOutcome(OnClick::Acknowledge, bed.isOn, marks.get()),
             ClickOutcome::End);
    bed.endCall();
    marks.reset(); // the next tick drops the line

    bed.startCall(); // called again: a new line, unacknowledged
    marks = std::make_unique<CallMarks>();
    QCOMPARE(kalvora::leftClickOutcome(OnClick::Acknowledge, bed.isOn, marks.get()),
             ClickOutcome::Acknowledge);
}

void TestSafety::overflowRow_data()
{
    QTest::addColumn<qint32>("count");
    QTest::addColumn<qint32>("maxn");
    QTest::addColumn<QList<qint32>>("overduePositions"); // list positions, 0 the oldest
    QTest::addColumn<qint32>("hidden");
    QTest::addColumn<qint32>("shown");
    QTest::addColumn<qint32>("notShown");
    QTest::addColumn<bool>("maroon");
    QTest::addRow("c = k - 1") << 4 << 5 << QList<qint32>() << 0 << 4 << 0 << false;
    QTest::addRow("c = k") << 5 << 5 << QList<qint32> { 0 } << 0 << 5 << 0 << false;
    QTest::addRow("c = k + 1") << 6 << 5 << QList<qint32>() << 2 << 4 << 2 << false;
    QTest::addRow("eight calls, five rows") << 8 << 5 << QList<qint32>() << 4 << 4 << 4 << false;
    QTest::addRow("a hidden overdue call") << 8 << 5 << QList<qint32> { 2 } << 4 << 4 << 4 << true;
    QTest::addRow("the newest call it stands for is overdue")
        << 8 << 5 << QList<qint32> { 3 } << 4 << 4 << 4 << true;
    QTest::addRow("only shown calls overdue")
        << 8 << 5 << QList<qint32> { 4, 7 } << 4 << 4 << 4 << false;
    QTest::addRow("one row stands for every call")
        << 3 << 1 << QList<qint32> { 2 } << 3 << 0 << 3 << true;
    QTest::addRow("one row, one call") << 1 << 1 << QList<qint32>() << 0 << 1 << 0 << false;
    QTest::addRow("no row") << 3 << 0 << QList<qint32> { 0 } << 3 << 0 << 0 << false;
    QTest::addRow("negative rows") << 3 << -2 << QList<qint32> { 0 } << 3 << 0 << 0 << false;
    QTest::addRow("no calls") << 0 << 5 << QList<qint32>() << 0 << 0 << 0 << false;
}

void TestSafety::overflowRow()
{
    QFETCH(qint32, count);
    QFETCH(qint32, maxn);
    QFETCH(QList<qint32>, overduePositions);
    QFETCH(qint32, hidden);
    QFETCH(qint32, shown);
    QFETCH(qint32, notShown);
    QFETCH(bool, maroon);
    const OverflowRows out = withOverflowRow(layCallList(count, maxn), [&](qint32 position) {
        return overduePositions.contains(position);
    });
    QCOMPARE(out.rows.hidden, hidden);
    QCOMPARE(out.rows.shown, shown);
    QCOMPARE(out.notShown, notShown);
    QCOMPARE(out.overdue, maroon);
    if (notShown > 0) {
        QCOMPARE(out.row(), maxn); // the last row that fits
        QCOMPARE(overflowText(notShown), u"+%1 вызовов не показано"_s.arg(notShown));
    }
}

QTEST_APPLESS_MAIN(TestSafety)
#include "tst_safety.moc"
