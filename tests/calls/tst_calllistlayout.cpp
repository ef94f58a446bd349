#include "calls/AccessibleText.h"
#include "calls/CallListLayout.h"

#include <QTest>

#include <limits>

using namespace kalvora;
using namespace Qt::StringLiterals;

class TestCallListLayout : public QObject {
    Q_OBJECT

private slots:
    void waitingTimeText_data();
    void waitingTimeText();
    void rowsThatFitTheWindow_data();
    void rowsThatFitTheWindow();
    void lowWindowShowsNoRows_data();
    void lowWindowShowsNoRows();
    void newestEntriesAreShown_data();
    void newestEntriesAreShown();
    void spokenNames_data();
    void spokenNames();
};

void TestCallListLayout::waitingTimeText_data()
{
    QTest::addColumn<qint32>("secs");
    QTest::addColumn<QString>("text");

    QTest::addRow("minutes and seconds") << 75 << u"1 мин. 15 сек."_s;
    QTest::addRow("whole minutes keep the trailing space") << 120 << u"2 мин. "_s;
    QTest::addRow("seconds only") << 59 << u"59 сек."_s;
    QTest::addRow("one second") << 1 << u"1 сек."_s;
    QTest::addRow("one minute") << 60 << u"1 мин. "_s;
    QTest::addRow("one minute one second") << 61 << u"1 мин. 1 сек."_s;
    QTest::addRow("an hour is counted in minutes") << 3600 << u"60 мин. "_s;
    QTest::addRow("over an hour") << 3661 << u"61 мин. 1 сек."_s;
    QTest::addRow("zero") << 0 << QString();
    QTest::addRow("no call") << -1 << QString();
    QTest::addRow("negative minute") << -61 << QString();
}

void TestCallListLayout::waitingTimeText()
{
    QFETCH(qint32, secs);
    QFETCH(QString, text);
    QCOMPARE(SecondsToText(secs), text);
}

void TestCallListLayout::rowsThatFitTheWindow_data()
{
    QTest::addColumn<qint32>("height");
    QTest::addColumn<qint32>("cy");
    QTest::addColumn<qint32>("lineHeight");
    QTest::addColumn<qint32>("dd");
    QTest::addColumn<qint32>("rows");

    QTest::addRow("default window") << 1050 << 20 << 19 << 5 << 41;
    QTest::addRow("exactly three pitches") << 112 << 20 << 19 << 5 << 2;
    QTest::addRow("one pixel short") << 111 << 20 << 19 << 5 << 1;
    QTest::addRow("title row only") << 64 << 20 << 19 << 5 << 0;
    QTest::addRow("negative gap") << 1050 << 20 << 19 << -9 << 100;
    QTest::addRow("zero pitch") << 1050 << 20 << 19 << -19 << 0;
    QTest::addRow("negative pitch") << 1050 << 20 << 19 << -30 << 0;
    QTest::addRow("zero pitch in a low window") << 10 << 20 << 0 << 0 << 0;
    QTest::addRow("huge window does not overflow")
        << std::numeric_limits<qint32>::max() << std::numeric_limits<qint32>::min() << 0 << 1
        << std::numeric_limits<qint32>::max();
}

void TestCallListLayout::rowsThatFitTheWindow()
{
    QFETCH(qint32, height);
    QFETCH(qint32, cy);
    QFETCH(qint32, lineHeight);
    QFETCH(qint32, dd);
    QFETCH(qint32, rows);
    QCOMPARE(rowsThatFit(height, cy, lineHeight, dd), rows);
}

void TestCallListLayout::lowWindowShowsNoRows_data()
{
    QTest::addColumn<qint32>("height");
    QTest::addRow("room for the titles only") << 63;
    QTest::addRow("shorter than the margins") << 30;
    QTest::addRow("no client area") << 0;
    QTest::addRow("negative height") << -500;
}

void TestCallListLayout::lowWindowShowsNoRows()
{
    QFETCH(qint32, height);
    const qint32 maxn = rowsThatFit(height, 20, 19, 5);
    QVERIFY2(maxn <= 0, qPrintable(QString::number(maxn)));
    const CallListRows rows = layCallList(5, maxn);
    QCOMPARE(rows.shown, 0);
    QCOMPARE(rows.hidden, 5);
}

void TestCallListLayout::newestEntriesAreShown_data()
{
    QTest::addColumn<qint32>("count");
    QTest::addColumn<qint32>("maxn");
    QTest::addColumn<qint32>("hidden");
    QTest::addColumn<qint32>("shown");

    QTest::addRow("more entries than rows") << 3 << 2 << 1 << 2;
    QTest::addRow("as many entries as rows") << 3 << 3 << 0 << 3;
    QTest::addRow("fewer entries than rows") << 2 << 41 << 0 << 2;
    QTest::addRow("no entries") << 0 << 41 << 0 << 0;
    QTest::addRow("no rows") << 3 << 0 << 3 << 0;
    QTest::addRow("negative rows") << 3 << -1 << 3 << 0;
    QTest::addRow("no entries, negative rows") << 0 << -3 << 0 << 0;
}

void TestCallListLayout::newestEntriesAreShown()
{
    QFETCH(qint32, count);
    QFETCH(qint32, maxn);
    QFETCH(qint32, hidden);
    QFETCH(qint32, shown);
    const CallListRows rows = layCallList(count, maxn);
    QCOMPARE(rows.hidden, hidden);
    QCOMPARE(rows.shown, shown);
}

// What a screen reader says: a bed in each state, a call list line, an alert.
void TestCallListLayout::spokenNames_data()
{
    using S = BedSpeech::State;
    QTest::addColumn<QString>("spoken");
    QTest::addColumn<QString>("expected");
    const QString bed = QStringLiteral("Палата 1, койка 2");
    const QString code = QStringLiteral("101");
    const auto say = [&](S state, qint32 seconds, bool bill = false, bool acknowledged = false,
                         const QString &name = QStringLiteral("Палата 1, койка 2"),
                         const QString &c = QStringLiteral("101")) {
        return bedAccessibleName({ name, c, state, bill, acknowledged, seconds });
    };
    QTest::newRow("idle") << say(S::Idle, 0) << "Палата 1, койка 2 (101): нет вызова";
    QTest::newRow("idle, time of the last call not said")
        << say(S::Idle, 75) << "Палата 1, койка 2 (101): нет вызова";
    QTest::newRow("calling, before its first second")
        << say(S::Calling, 0) << "Палата 1, койка 2 (101): вызов";
    QTest::newRow("calling") << say(S::Calling, 75)
                             << "Палата 1, койка 2 (101): вызов, 1 мин. 15 сек.";
    QTest::newRow("overdue") << say(S::Overdue, 120)
                             << "Палата 1, койка 2 (101): вызов просрочен, 2 мин.";
    QTest::newRow("bill") << say(S::Calling, 5, true)
                          << "Палата 1, койка 2 (101): вызов, счёт, 5 сек.";
    QTest::newRow("acknowledged overdue bill")
        << say(S::Overdue, 30, true, true)
        << "Палата 1, койка 2 (101): вызов просрочен, счёт, принят, 30 сек.";
    QTest::newRow("no name") << say(S::Calling, 1, false, false, QString()) << "101: вызов, 1 сек.";
    QTest::newRow("no code") << say(S::Idle, 0, false, false, bed, QString())
                             << "Палата 1, койка 2: нет вызова";
    QTest::newRow("neither") << say(S::Idle, 0, false, false, QString(), QString()) << "нет вызова";

    QTest::newRow("line") << callLineAccessibleName(QStringLiteral("Медсестра Иванова"), bed,
                                                    QStringLiteral("15 сек. "), false, false)
                          << "Медсестра Иванова; Палата 1, койка 2; 15 сек.";
    QTest::newRow("line, overdue and acknowledged")
        << callLineAccessibleName(QStringLiteral("Медсестра Иванова"), bed, SecondsToText(120),
                                  true, true)
        << "Медсестра Иванова; Палата 1, койка 2; 2 мин.; вызов просрочен, принят";
    QTest::newRow("line, no time yet")
        << callLineAccessibleName(QString(), bed, SecondsToText(0), false, false)
        << "; Палата 1, койка 2";

    QTest::newRow("alert: new call")
        << callAlertText(CallAlert::NewCall, bed, code) << "Новый вызов: Палата 1, койка 2 (101)";
    QTest::newRow("alert: new bill call") << callAlertText(CallAlert::NewBillCall, bed, code)
                                          << "Новый вызов, счёт: Палата 1, койка 2 (101)";
    QTest::newRow("alert: overdue")
        << callAlertText(CallAlert::Overdue, QString(), code) << "Вызов просрочен: 101";
}

void TestCallListLayout::spokenNames()
{
    QFETCH(QString, spoken);
    QFETCH(QString, expected);
    QCOMPARE(spoken, expected);
}

QTEST_APPLESS_MAIN(TestCallListLayout)
#include "tst_calllistlayout.moc"
