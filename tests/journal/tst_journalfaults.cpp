// The journal on a disk that fills up or turns read-only while the console
// runs: calls go on, the status says what is wrong, and once the disk is
// back every waiting row is written, each once. The file system is a small
// tmpfs in a child process with its own mount namespace.

#include "FaultSupport.h"
#include "JournalTestSupport.h"
#include "journal/Journal.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace kalvora;
using namespace kalvora::journal;
using namespace kalvora::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

class TestJournalFaults : public QObject {
    Q_OBJECT

    void faultRows()
    {
        QTest::addColumn<bool>("readOnly"); // else: the disk is full
        QTest::addColumn<QString>("status");
        QTest::addRow("disk full") << false << u"диск заполнен"_s;
        QTest::addRow("read-only") << true << u"только для чтения"_s;
    }

private slots:
    void diskFault_data() { faultRows(); }
    void diskFault()
    {
        if (!mountNamespaceAvailable())
            QSKIP("this system allows no private mount namespace (unshare --mount)");
        const ChildRun run = runChildInMountNamespace(u"diskFault_inChild:"_s
                                                      + QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY2(run.exitCode == 0, run.output.constData());
        QVERIFY2(run.output.contains("PASS   : TestJournalFaults::diskFault_inChild("),
                 run.output.constData());
    }

    void diskFault_inChild_data() { faultRows(); }
    void diskFault_inChild()
    {
        if (!inChildMountNamespace())
            QSKIP("runs in the child process of diskFault");
        QFETCH(bool, readOnly);
        QFETCH(QString, status);
        QTemporaryDir scratch;
        const QString folder = scratch.filePath(u"disk"_s);
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!mountTmpfs(folder, 1024 * 1024));
        const QString file = folder + u"/journal.sqlite"_s;

        const auto clock = std::make_shared<ManualClock>(kStartWall, 0);
        const auto calls = [&](Journal &j, int from, int to) {
            for (int i = from; i < to; ++i) {
                const CallId id = j.callStarted(QString::number(i), QString(300, u'Ж'), u"Сестра"_s,
                                                CallType::Call);
                QCOMPARE(id, CallId(i + 2));
                clock->advance(1000);
                j.callEnded(id, EndReason::Click);
            }
        };
        {
            Journal before(fastOptions(file), clock);
            before.consoleStarted({ 20, 60, 40 });
            calls(before, 0, 20);
            before.consoleClosed();
        }

        // The disk fills up while the journal is open; or the file system
        // is read-only when the console starts (Linux refuses to make one
        // read-only while a file on it is open for writing).
        QString filler;
        if (readOnly)
            QVERIFY(!remountTmpfs(folder, true));
        Journal j(fastOptions(file), clock);
        j.consoleStarted({ 20, 60, 40 });
        if (!readOnly) {
            QVERIFY(j.waitUntilWritten(10s));
            const auto filled = fillFileSystem(folder, 0);
            QVERIFY2(filled.ok(), qPrintable(filled.error()));
            filler = *filled;
        }
        calls(j, 0, 400); // about 240 KB of rows, more than any page left
        QTRY_VERIFY2(j.status().contains(status), qPrintable(j.status()));
        QVERIFY(j.status().contains(u"записи будут дописаны позже"_s));
        QVERIFY(!j.waitUntilWritten(200ms));
        QCOMPARE(j.stats().lost, quint64(0));

        if (readOnly)
            QVERIFY(!remountTmpfs(folder, false));
        else
            QVERIFY(QFile::remove(filler));
        calls(j, 400, 410);
        QVERIFY(j.waitUntilWritten(20s));
        QTRY_COMPARE(j.status(), QString());
        QCOMPARE(count(file, u"SELECT count(*) FROM calls"_s), 430);
        QCOMPARE(count(file, u"SELECT count(DISTINCT seq) FROM calls WHERE run_id = 2"_s), 410);
        QCOMPARE(count(file, u"SELECT count(*) FROM calls WHERE end_reason = 'click'"_s), 430);
        QCOMPARE(count(file, u"SELECT max(ended_utc) - min(started_utc) FROM calls"_s), 430000);
        QCOMPARE(count(file, u"SELECT count(*) FROM events"_s), 3);
        QCOMPARE(query(file, u"PRAGMA integrity_check"_s).first().first().toString(), u"ok"_s);
        j.consoleClosed();
    }
};

QTEST_GUILESS_MAIN(TestJournalFaults)
#include "tst_journalfaults.moc"
