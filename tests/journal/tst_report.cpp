// kalvora-report: its figures on a small journal whose answers are worked
// out by hand, its filters, its three outputs, and its errors.

#include "Figures.h"
#include "JournalTestSupport.h"
#include "Options.h"
#include "Render.h"
#include "journal/Journal.h"
#include "journal/JournalReader.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace kalvora;
using namespace kalvora::journal;
using namespace kalvora::report;
using namespace kalvora::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runReport(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral(KALVORA_REPORT), arguments);
    Run r;
    if (!p.waitForFinished(60000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

class TestReport : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_journal;
    // The start of each call, by bed and order, for the hour figures.
    QList<UtcMs> m_starts;

    // Waits are seconds from the call's start to its end.
    void call(Journal &j, ManualClock &clock, const QString &bed, CallType type, int waitSec,
              std::optional<EndReason> end)
    {
        m_starts.append(j.now());
        const CallId id = j.callStarted(bed, u"Койка "_s + bed, u"Сестра"_s, type);
        if (waitSec >= 20) {
            clock.advance(20000);
            j.callOverdue(id);
            clock.advance(qint64(waitSec - 20) * 1000);
        } else {
            clock.advance(qint64(waitSec) * 1000);
        }
        if (end)
            j.callEnded(id, *end);
        clock.advance(3600000 - qint64(waitSec) * 1000); // the next call an hour later
    }

private slots:
    // A ward's journal: bed 1 answered after 10, 20, 30 and 40 s; bed 2 a
    // bill that timed out, a bill answered after 5 s, a call whose bed was
    // deleted; bed 10 a call still waiting when the console closed; bed 3 a
    // call interrupted by a crash, restored and answered 15 s after it began.
    void initTestCase()
    {
        m_journal = m_dir.filePath(u"journal.sqlite"_s);
        const auto clock = std::make_shared<ManualClock>(kStartWall, 0);
        {
            Journal j(fastOptions(m_journal), clock);
            j.consoleStarted({ 20, 60, 4 });
            m_starts.append(j.now());
            j.callStarted(u"3"_s, u"Койка 3"_s, u"Сестра"_s, CallType::Call);
            clock->advance(5000);
            QVERIFY(j.waitUntilWritten(10s));
        }
        Journal j(fastOptions(m_journal), clock);
        QSignalSpy found(&j, &Journal::interruptedCallsFound);
        j.consoleStarted({ 20, 60, 4 });
        QTRY_COMPARE(found.count(), 1);
        const CallId restored =
            j.callRestored(found.first().first().value<QList<RestorableCall>>().first());
        clock->advance(10000);
        j.callEnded(restored, EndReason::Click);
        clock->advance(3600000);
        call(j, *clock, u"1"_s, CallType::Call, 10, EndReason::Click);
        call(j, *clock, u"1"_s, CallType::Call, 20, EndReason::ServerCancel);
        call(j, *clock, u"1"_s, CallType::Call, 30, EndReason::Click);
        call(j, *clock, u"1"_s, CallType::Call, 40, EndReason::Click);
        call(j, *clock, u"2"_s, CallType::Bill, 61, EndReason::Timeout);
        call(j, *clock, u"2"_s, CallType::Bill, 5, EndReason::ServerCancel);
        call(j, *clock, u"2"_s, CallType::Call, 3, EndReason::BedDeleted);
        call(j, *clock, u"10"_s, CallType::Call, 7, std::nullopt);
        j.consoleClosed();
        QVERIFY(j.waitUntilWritten(10s));
    }

    void percentiles_data()
    {
        QTest::addColumn<QList<qint64>>("values");
        QTest::addColumn<double>("p");
        QTest::addColumn<double>("expected"); // -1: none
        QTest::addRow("median of four") << QList<qint64> { 10, 20, 30, 40 } << 50.0 << 25.0;
        QTest::addRow("90th of four") << QList<qint64> { 10, 20, 30, 40 } << 90.0 << 37.0;
        QTest::addRow("one value") << QList<qint64> { 7 } << 90.0 << 7.0;
        QTest::addRow("median of three") << QList<qint64> { 1, 5, 100 } << 50.0 << 5.0;
        QTest::addRow("none") << QList<qint64> {} << 50.0 << -1.0;
    }
    void percentiles()
    {
        QFETCH(QList<qint64>, values);
        QFETCH(double, p);
        QFETCH(double, expected);
        const auto v = percentile(std::vector<qint64>(values.begin(), values.end()), p);
        QCOMPARE(v.has_value(), expected >= 0);
        if (v)
            QCOMPARE(*v, expected);
    }

    void figures()
    {
        auto reader = JournalReader::open(m_journal);
        QVERIFY2(reader.ok(), qPrintable(reader.error()));
        const auto r = buildReport(**reader, m_journal, {});
        QVERIFY2(r.ok(), qPrintable(r.error()));
        // Waits answered: 15, 10, 20, 30, 40, 5 s.
        QCOMPARE(r->ward.calls, 9);
        QCOMPARE(r->ward.answered, 6);
        QCOMPARE(*r->ward.medianMs, 17500.0);
        QCOMPARE(*r->ward.p90Ms, 35000.0);
        QCOMPARE(r->ward.overdue, 4);
        QCOMPARE(r->ward.timeouts, 1);
        QCOMPARE(r->ward.bills, 2);
        QCOMPARE(r->overdueSec, std::optional<qint32>(20));
        QCOMPARE(r->waitsMs, (std::vector<qint64> { 5000, 10000, 15000, 20000, 30000, 40000 }));

        QStringList codes;
        for (const BedStats &b : r->beds)
            codes << b.code;
        QCOMPARE(codes, QStringList({ u"1"_s, u"2"_s, u"3"_s, u"10"_s }));
        const Stats &one = r->beds[0].stats;
        QCOMPARE(r->beds[0].name, u"Койка 1"_s);
        QCOMPARE(one.calls, 4);
        QCOMPARE(*one.medianMs, 25000.0);
        QCOMPARE(*one.p90Ms, 37000.0);
        QCOMPARE(one.overdue, 3);
        const Stats &two = r->beds[1].stats;
        QCOMPARE(two.calls, 3);
        QCOMPARE(two.answered, 1);
        QCOMPARE(two.timeouts, 1);
        QCOMPARE(two.bills, 2);
        QCOMPARE(*r->beds[2].stats.medianMs, 15000.0);
        QCOMPARE(r->beds[3].stats.answered, 0);
        QCOMPARE(r->beds[3].stats.medianMs, std::nullopt);

        std::array<qint64, 24> perHour {};
        for (const UtcMs start : m_starts)
            ++perHour[QDateTime::fromMSecsSinceEpoch(start).time().hour()];
        for (int h = 0; h < 24; ++h)
            QCOMPARE(r->hours[h].calls, perHour[h]);

        QStringList unanswered;
        for (const auto &c : r->unanswered)
            unanswered << c.bedCode + u':' + endReasonName(*c.endReason);
        QCOMPARE(unanswered,
                 QStringList({ u"2:timeout"_s, u"2:bed_deleted"_s, u"10:console_closed"_s }));
    }

    void filters_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("wardRow"); // the CSV's ward row
        QTest::addRow("all") << QStringList() << u"Отделение;;;;9;6;17,5;35,0;4;1;2"_s;
        QTest::addRow("one bed") << QStringList { u"--bed"_s, u"2"_s }
                                 << u"Отделение;;;;3;1;5,0;5,0;1;1;2"_s;
        const auto local = [](qint64 ms) {
            return QDateTime::fromMSecsSinceEpoch(ms).toString(u"yyyy-MM-dd HH:mm"_s);
        };
        // Bed 1's calls start 1, 2, 3 and 4 hours after the restart: the first two.
        QTest::addRow("from and to")
            << QStringList { u"--from"_s, local(kStartWall + 5000 + 3600000 + 10000), u"--to"_s,
                             local(kStartWall + 5000 + 2 * 3600000 + 10000 + 60000) }
            << u"Отделение;;;;2;2;15,0;19,0;1;0;0"_s;
        QTest::addRow("a day before the journal") << QStringList {
            u"--to"_s,
            QDateTime::fromMSecsSinceEpoch(kStartWall).addDays(-1).toString(u"yyyy-MM-dd"_s)
        } << u"Отделение;;;;0;0;;;0;0;0"_s;
    }
    void filters()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, wardRow);
        const QString csv = m_dir.filePath(u"figures.csv"_s);
        const QString html = m_dir.filePath(u"report.html"_s);
        QFile::remove(csv);
        const Run run =
            runReport(QStringList { m_journal, u"--csv"_s, csv, u"--html"_s, html } + arguments);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(run.out, QString());
        const QByteArray bytes = readBytes(csv);
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(u"\r\n"_s);
        QCOMPARE(
            lines[0],
            u"Раздел;Код;Койка;Час;Вызовов;Отвечено;Медиана, с;90 %, с;Просрочено;Таймаут;Со счётом"_s);
        QCOMPARE(lines[1], wardRow);

        const QString page = QString::fromUtf8(readBytes(html));
        QVERIFY(page.startsWith(u"<!DOCTYPE html>"_s));
        QCOMPARE(page.count(u"<svg"_s), page.contains(u"Отвеченных вызовов нет"_s) ? 1 : 3);
        for (const QString &outside :
             { u"http:"_s, u"https:"_s, u"<script"_s, u"src="_s, u"url("_s, u"@import"_s })
            QVERIFY2(!page.contains(outside), qPrintable(outside));
        if (arguments.isEmpty()) {
            QVERIFY(page.contains(u"порог просрочки 20 с"_s));
            QVERIFY(page.contains(u"<h2>Вызовы без ответа (3)</h2>"_s));
            QVERIFY(page.contains(u"<td class=\"l\">Койка 10</td>"_s));
        }
    }

    void terminal()
    {
        const Run run = runReport({ m_journal, u"--bed"_s, u"1"_s });
        QCOMPARE(run.exitCode, 0);
        QStringList lines = run.out.split(u'\n');
        QVERIFY2(lines.size() > 40, qPrintable(run.out));
        QCOMPARE(lines[0], u"Отчёт по вызовам: "_s + m_journal);
        QCOMPARE(lines[2], u"Койка: 1"_s);
        QCOMPARE(lines[3], u"Порог просрочки: 20 с"_s);
        QCOMPARE(lines[6].simplified(),
                 u"Вызовов Отвечено Медиана, с 90 %, с Просрочено Таймаут Со счётом"_s);
        QCOMPARE(lines[7].simplified(), u"4 4 25,0 37,0 3 0 0"_s);
        QCOMPARE(lines[11].simplified(), u"1 Койка 1 4 4 25,0 37,0 3 0 0"_s);
        QVERIFY(run.out.endsWith(u"Вызовов без ответа: 0 (список: --html)\n"_s));
    }

    void errors_data()
    {
        QTest::addColumn<QString>("setup"); // what the file is
        QTest::addColumn<QStringList>("arguments"); // after the file
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addRow("missing file") << u"none"_s << QStringList() << 1 << u"no such file"_s;
        QTest::addRow("empty file")
            << u"empty"_s << QStringList() << 1 << u"is not a Kalvora call journal"_s;
        QTest::addRow("text file")
            << u"text"_s << QStringList() << 1 << u"is not a database, or it is damaged"_s;
        QTest::addRow("another database")
            << u"foreign"_s << QStringList() << 1 << u"is not a Kalvora call journal"_s;
        QTest::addRow("newer schema")
            << u"newer"_s << QStringList() << 1
            << QStringLiteral(
                   "is a journal of schema version %1; this program reads versions 1 to %2")
                   .arg(kSchemaVersion + 1)
                   .arg(kSchemaVersion);
        QTest::addRow("unreadable date")
            << u"journal"_s << QStringList { u"--from"_s, u"01.03.2025"_s } << 2
            << u"cannot read the date '01.03.2025'"_s;
        QTest::addRow("impossible date")
            << u"journal"_s << QStringList { u"--to"_s, u"2025-02-30"_s } << 2
            << u"cannot read the date '2025-02-30'"_s;
        QTest::addRow("from after to")
            << u"journal"_s
            << QStringList { u"--from"_s, u"2025-03-02"_s, u"--to"_s, u"2025-03-01"_s } << 2
            << u"--from must be earlier than --to"_s;
        QTest::addRow("unknown option")
            << u"journal"_s << QStringList { u"--pdf"_s } << 2 << u"Unknown option 'pdf'"_s;
        QTest::addRow("no journal")
            << u"omit"_s << QStringList() << 2 << u"no journal file given"_s;
        QTest::addRow("output unwritable")
            << u"journal"_s << QStringList { u"--csv"_s, u"/nonexistent/dir/f.csv"_s } << 1
            << u"cannot write /nonexistent/dir/f.csv"_s;
    }
    void errors()
    {
        QFETCH(QString, setup);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const QString path = m_dir.filePath(u"input-"_s + setup);
        QFile::remove(path);
        if (setup == u"empty"_s || setup == u"text"_s) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            if (setup == u"text"_s)
                f.write("Дежурство: 3 вызова, все отвечены.\n");
        } else if (setup == u"foreign"_s || setup == u"newer"_s) {
            Connection c(path, Connection::Mode::ReadWrite, 1000);
            QVERIFY(!c.open());
            if (setup == u"foreign"_s) {
                QVERIFY(!exec(c.db(), u"CREATE TABLE beds (code TEXT)"_s));
            } else {
                QVERIFY(!migrate(c.db(), 0));
                QVERIFY(!exec(c.db(),
                              QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion + 1)));
            }
        }
        const QString file = setup == u"journal"_s ? m_journal : path;
        const Run run =
            runReport(setup == u"omit"_s ? arguments : QStringList { file } + arguments);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.startsWith(u"kalvora-report: "_s), qPrintable(run.err));
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(run.out, QString());
    }
};

QTEST_GUILESS_MAIN(TestReport)
#include "tst_report.moc"
