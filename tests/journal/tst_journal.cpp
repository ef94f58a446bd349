// The call journal: its settings, the row each way a call ends leaves, times
// under a changed system clock, the schema and its migrations, files it must
// not write, restoring after an unclean end, purging, the files' modes in a
// shared folder, and a writer that cannot write for a while.

#include "JournalTestSupport.h"
#include "journal/Journal.h"
#include "journal/JournalSchema.h"
#include "journal/JournalSettings.h"
#include "journal/Restore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>

using namespace kalvora;
using namespace kalvora::journal;
using namespace kalvora::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

bool writeText(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString file() const { return m_dir.filePath(QStringLiteral("journal.sqlite")); }

    std::shared_ptr<ManualClock> clockAt(qint64 wall)
    {
        return std::make_shared<ManualClock>(wall, 5000);
    }

private slots:
    void init()
    {
        for (const QString &name : QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(m_dir.filePath(name));
    }

    void settings_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("file"); // relative to the data folder; "/..." absolute
        QTest::addColumn<bool>("restore");
        QTest::addColumn<int>("keepDays");
        QTest::addRow("no section: off")
            << QByteArray("[Logic]\nmaxSec=60\n") << QString() << false << 0;
        QTest::addRow("all three")
            << QByteArray("[Journal]\nFile=journal.sqlite\nRestoreCalls=1\nKeepDays=365\n")
            << "journal.sqlite" << true << 365;
        QTest::addRow("key names ignore case, quotes dropped")
            << QByteArray("[journal]\nfile = \"sub/j.sqlite\"\nrestorecalls=$1\nkeepdays=0x10\n")
            << "sub/j.sqlite" << true << 16;
        QTest::addRow("absolute file") << QByteArray("[Journal]\nFile=/var/lib/kalvora/j.sqlite\n")
                                       << "/var/lib/kalvora/j.sqlite" << false << 0;
        QTest::addRow("malformed integers take the defaults")
            << QByteArray("[Journal]\nFile=j.sqlite\nRestoreCalls=yes\nKeepDays=30 days\n")
            << "j.sqlite" << false << 0;
        QTest::addRow("any other integer turns restoring on")
            << QByteArray("[Journal]\nFile=j.sqlite\nRestoreCalls=2\nKeepDays=-5\n") << "j.sqlite"
            << true << -5;
        QTest::addRow("empty file: off")
            << QByteArray("[Journal]\nFile=\nRestoreCalls=1\n") << QString() << true << 0;
    }
    void settings()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, file);
        QFETCH(bool, restore);
        QFETCH(int, keepDays);
        const QString path = m_dir.filePath(QStringLiteral("kalvora.ini"));
        QVERIFY(writeText(path, ini));
        const QString data = m_dir.filePath(QStringLiteral("data"));
        const JournalSettings s = readJournalSettings(path, data);
        const QString expected = file.isEmpty() ? QString()
            : file.startsWith(u'/')             ? file
                                                : data + u'/' + file;
        QCOMPARE(s.file, expected);
        QCOMPARE(s.enabled(), !file.isEmpty());
        QCOMPARE(s.restoreCalls, restore);
        QCOMPARE(s.keepDays, keepDays);
        QCOMPARE(readBytes(path), ini); // read only, never completed
    }

    // Each way a call ends: the row, its times to the millisecond, and that
    // nothing after the end changes it.
    void callEnds_data()
    {
        QTest::addColumn<int>("reason"); // -1: the console is closed
        QTest::addColumn<bool>("overdue");
        QTest::addColumn<bool>("acknowledged");
        QTest::addColumn<QString>("expected");
        QTest::addRow("server cancel")
            << int(EndReason::ServerCancel) << false << false << "server_cancel";
        QTest::addRow("click on an overdue bed")
            << int(EndReason::Click) << true << false << "click";
        QTest::addRow("click after acknowledging")
            << int(EndReason::Click) << true << true << "click";
        QTest::addRow("timeout") << int(EndReason::Timeout) << true << false << "timeout";
        QTest::addRow("bed deleted")
            << int(EndReason::BedDeleted) << false << false << "bed_deleted";
        QTest::addRow("console closed") << -1 << true << true << "console_closed";
    }
    void callEnds()
    {
        QFETCH(int, reason);
        QFETCH(bool, overdue);
        QFETCH(bool, acknowledged);
        QFETCH(QString, expected);
        const auto clock = clockAt(kStartWall);
        Journal j(fastOptions(file()), clock);
        j.consoleStarted({ 20, 60, 3 });
        clock->advance(1000);
        const CallId id = j.callStarted(QStringLiteral("101"), QStringLiteral("Палата 1, койка 2"),
                                        QStringLiteral("Сестра Иванова"), CallType::Bill);
        QVERIFY(id != kNoCall);
        clock->advance(20000);
        if (overdue)
            j.callOverdue(id);
        clock->advance(4321);
        if (acknowledged)
            j.callAcknowledged(id);
        clock->advance(1000);
        if (reason < 0)
            j.consoleClosed();
        else
            j.callEnded(id, EndReason(reason));
        // After the end nothing changes the row.
        clock->advance(1000);
        j.callEnded(id, EndReason::Timeout);
        j.callOverdue(id);
        j.callAcknowledged(id);
        j.callRepeated(id, true);
        QVERIFY(j.waitUntilWritten(10s));

        const auto rows = query(file(), QStringLiteral("SELECT * FROM calls"));
        QCOMPARE(rows.size(), 1);
        const QVariantMap &row = rows.first();
        QCOMPARE(row[u"bed_code"_s].toString(), u"101"_s);
        QCOMPARE(row[u"bed_name"_s].toString(), u"Палата 1, койка 2"_s);
        QCOMPARE(row[u"responsible"_s].toString(), u"Сестра Иванова"_s);
        QCOMPARE(row[u"call_type"_s].toString(), u"bill"_s);
        QCOMPARE(row[u"started_utc"_s].toLongLong(), kStartWall + 1000);
        QCOMPARE(row[u"overdue_utc"_s].isNull(), !overdue);
        if (overdue)
            QCOMPARE(row[u"overdue_utc"_s].toLongLong(), kStartWall + 21000);
        QCOMPARE(row[u"acknowledged_utc"_s].isNull(), !acknowledged);
        if (acknowledged)
            QCOMPARE(row[u"acknowledged_utc"_s].toLongLong(), kStartWall + 25321);
        QCOMPARE(row[u"ended_utc"_s].toLongLong(), kStartWall + 26321);
        QCOMPARE(row[u"end_reason"_s].toString(), expected);
        QCOMPARE(row[u"repeats"_s].toInt(), 0);
        QCOMPARE(query(file(), QStringLiteral("SELECT duration_sec FROM calls_readable"))
                     .first()
                     .first()
                     .toDouble(),
                 25.321);
        QCOMPARE(
            query(file(), QStringLiteral("SELECT started FROM calls_readable")).first().first(),
            u"2025-06-15T12:00:01.000Z"_s);

        const auto runs = query(file(), QStringLiteral("SELECT * FROM runs"));
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.first()[u"started_utc"_s].toLongLong(), kStartWall);
        QCOMPARE(runs.first()[u"red_sec"_s].toInt(), 20);
        QCOMPARE(runs.first()[u"max_sec"_s].toInt(), 60);
        QCOMPARE(runs.first()[u"beds"_s].toInt(), 3);
        QCOMPARE(runs.first()[u"end_kind"_s].isNull(), reason >= 0);
        QCOMPARE(j.status(), QString());
    }

    // Setting the system clock while the console runs moves none of the
    // run's times and changes no duration; the next run starts from the
    // clock as it then is.
    void systemClockSetBack_keepsTheRunsTimes()
    {
        const auto clock = clockAt(kStartWall);
        {
            Journal j(fastOptions(file()), clock);
            clock->advance(1000);
            const CallId id = j.callStarted(u"7"_s, u"Койка 7"_s, QString(), CallType::Call);
            clock->setWall(kStartWall - 3600000); // an hour back
            clock->advance(30000);
            j.callEnded(id, EndReason::Click);
            clock->setWall(kStartWall + 86400000); // a day forward
            clock->advance(5000);
            const CallId second = j.callStarted(u"8"_s, u"Койка 8"_s, QString(), CallType::Call);
            clock->advance(2000);
            j.callEnded(second, EndReason::ServerCancel);
            j.consoleClosed();
        }
        const auto rows =
            query(file(), QStringLiteral("SELECT started_utc, ended_utc FROM calls ORDER BY seq"));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0][u"started_utc"_s].toLongLong(), kStartWall + 1000);
        QCOMPARE(rows[0][u"ended_utc"_s].toLongLong(), kStartWall + 31000);
        QCOMPARE(rows[1][u"started_utc"_s].toLongLong(), kStartWall + 36000);
        QCOMPARE(rows[1][u"ended_utc"_s].toLongLong(), kStartWall + 38000);
        QCOMPARE(count(file(), QStringLiteral("SELECT closed_utc FROM runs")), kStartWall + 38000);

        Journal next(fastOptions(file()), clock);
        QCOMPARE(next.runStartedUtc(), kStartWall + 86400000 + 5000 + 2000);
    }

    // Repeats are counted, a repeat that asked for the bill is noted, link
    // states are recorded when they change, and so are the bed file's saves.
    void repeatsLinkAndSaves()
    {
        const auto clock = clockAt(kStartWall);
        {
            Journal j(fastOptions(file()), clock);
            j.consoleStarted({ 20, 60, 2 });
            const CallId id = j.callStarted(u"5"_s, u"Койка 5"_s, u"Сестра"_s, CallType::Call);
            j.callRepeated(id, false);
            j.callRepeated(id, true);
            j.callRepeated(id, false);
            j.callEnded(id, EndReason::ServerCancel);
            for (const bool answered : { false, true, true, false, false, true, true })
                j.linkState(answered);
            j.bedFileSaved(false, u"Cannot create file \"/d/tables.txt\": No space left"_s);
            j.bedFileSaved(true);
            j.consoleClosed();
        }
        const auto call =
            query(file(), QStringLiteral("SELECT repeats, bill_by_repeat FROM calls"));
        QCOMPARE(call.size(), 1);
        QCOMPARE(call.first()[u"repeats"_s].toInt(), 3);
        QCOMPARE(call.first()[u"bill_by_repeat"_s].toInt(), 1);
        QStringList events;
        for (const auto &row :
             query(file(), QStringLiteral("SELECT kind, detail FROM events ORDER BY seq")))
            events << row[u"kind"_s].toString()
                    + (row[u"detail"_s].toString().isEmpty()
                           ? QString()
                           : u": "_s + row[u"detail"_s].toString());
        QCOMPARE(events,
                 QStringList(
                     { u"console_started"_s, u"server_found"_s, u"server_lost"_s,
                       u"server_found_again"_s,
                       u"beds_save_failed: Cannot create file \"/d/tables.txt\": No space left"_s,
                       u"beds_saved"_s, u"console_closed"_s }));
    }

    // Every version of the schema is brought to the newest with its data;
    // the newest is left as it is.
    void migrations_data()
    {
        QTest::addColumn<int>("from");
        for (int v = 1; v <= kSchemaVersion; ++v)
            QTest::addRow("from version %d", v) << v;
    }
    void migrations()
    {
        QFETCH(int, from);
        {
            Connection c(file(), Connection::Mode::ReadWrite, 1000);
            QVERIFY(!c.open());
            QVERIFY(!migrate(c.db(), 0, from));
            QVERIFY(!exec(
                c.db(), u"INSERT INTO runs (id, started_utc, last_seen_utc) VALUES (1, 10, 20)"_s));
            QVERIFY(!exec(c.db(),
                          u"INSERT INTO calls (run_id, seq, bed_code, bed_name, responsible, "
                          "call_type, started_utc, ended_utc, end_reason) "
                          "VALUES (1, 1, '9', 'Койка 9', '', 'call', 10, 15, 'click')"_s));
        }
        const auto clock = clockAt(kStartWall);
        {
            Journal j(fastOptions(file()), clock);
            j.callEnded(j.callStarted(u"9"_s, u"Койка 9"_s, QString(), CallType::Call),
                        EndReason::Click);
            j.consoleClosed();
        }
        QCOMPARE(count(file(), u"PRAGMA user_version"_s), qint64(kSchemaVersion));
        QCOMPARE(count(file(), u"PRAGMA application_id"_s), qint64(kApplicationId));
        QCOMPARE(query(file(), u"PRAGMA journal_mode"_s).first().first().toString(), u"wal"_s);
        QCOMPARE(count(file(), u"SELECT count(*) FROM calls WHERE bed_code = '9'"_s), 2);
        QCOMPARE(count(file(), u"SELECT count(*) FROM runs"_s), 2);
    }

    // Another program's database and a journal of a newer schema are never
    // written; the console goes on without a journal and says why.
    void foreignFiles_leftAlone_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("status");
        QTest::addRow("another program's database")
            << u"CREATE TABLE patients (id INTEGER)"_s << u"не является журналом"_s;
        QTest::addRow("a newer journal")
            << QStringLiteral("PRAGMA application_id = %1; PRAGMA user_version = %2")
                   .arg(kApplicationId)
                   .arg(kSchemaVersion + 1)
            << u"более новой версией"_s;
    }
    void foreignFiles_leftAlone()
    {
        QFETCH(QString, setup);
        QFETCH(QString, status);
        {
            Connection c(file(), Connection::Mode::ReadWrite, 1000);
            QVERIFY(!c.open());
            for (const QString &sql : setup.split(u"; "_s))
                QVERIFY(!exec(c.db(), sql));
        }
        const QByteArray before = readBytes(file());
        const auto clock = clockAt(kStartWall);
        {
            Journal j(fastOptions(file()), clock);
            QSignalSpy changes(&j, &Journal::statusChanged);
            j.consoleStarted({ 20, 60, 1 });
            QVERIFY(j.callStarted(u"1"_s, QString(), QString(), CallType::Call) != kNoCall);
            QTRY_VERIFY2(j.status().contains(status), qPrintable(j.status()));
            QCOMPARE(changes.count(), 1);
            QVERIFY(j.status().contains(u"Журнал не ведётся"_s));
        }
        QCOMPARE(readBytes(file()), before);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList { u"journal.sqlite"_s });
    }

    // A file that is not a database, or a damaged one, is renamed aside,
    // never written; a new journal takes the calls and the status says so.
    void damagedFile_setAside_data()
    {
        QTest::addColumn<bool>("damagedJournal"); // else: a text file
        QTest::addRow("not a database") << false;
        QTest::addRow("a journal with damaged pages") << true;
    }
    void damagedFile_setAside()
    {
        QFETCH(bool, damagedJournal);
        const auto clock = clockAt(kStartWall);
        if (damagedJournal) {
            {
                Journal j(fastOptions(file()), clock);
                for (int i = 0; i < 300; ++i)
                    j.callStarted(QString::number(i), QString(200, u'x'), QString(),
                                  CallType::Call);
            }
            QFile f(file());
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.size() > 8 * 4096);
            for (qint64 page = 1; page < f.size() / 4096; ++page) {
                f.seek(page * 4096);
                f.write(QByteArray(4096, '\x5a'));
            }
        } else {
            QVERIFY(writeText(file(), "Это не база данных, а заметки дежурной сестры.\n"));
        }
        const QByteArray damaged = readBytes(file());

        clock->advance(60000);
        Journal j(fastOptions(file()), clock);
        j.consoleStarted({ 20, 60, 1 });
        j.callEnded(j.callStarted(u"1"_s, u"Койка 1"_s, QString(), CallType::Call),
                    EndReason::Click);
        QVERIFY(j.waitUntilWritten(10s));
        QTRY_VERIFY2(
            j.status().startsWith(
                u"Журнал вызовов был повреждён: он сохранён как journal.sqlite.damaged-"_s),
            qPrintable(j.status()));
        QStringList aside =
            QDir(m_dir.path()).entryList({ u"journal.sqlite.damaged-*"_s }, QDir::Files);
        aside.removeIf([](const QString &name) {
            return name.endsWith(u"-wal"_s) || name.endsWith(u"-shm"_s);
        });
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readBytes(m_dir.filePath(aside.first())), damaged);
        QCOMPARE(count(file(), u"SELECT count(*) FROM calls"_s), 1);
        QCOMPARE(query(file(), u"SELECT detail FROM events WHERE kind = 'journal_renamed'"_s)
                     .first()
                     .first()
                     .toString(),
                 aside.first());
    }

    // A console that ends without closing leaves its calls open; the next
    // run ends them "interrupted" and offers them once; a restored call gets
    // a new row linked to the old one; after a clean close nothing is offered.
    void uncleanEnd_offersOpenCallsOnce()
    {
        const auto clock = clockAt(kStartWall);
        CallId first = kNoCall;
        {
            Journal j(fastOptions(file()), clock);
            j.consoleStarted({ 20, 60, 3 });
            first = j.callStarted(u"101"_s, u"Койка 1"_s, u"Сестра А"_s, CallType::Call);
            clock->advance(2000);
            const CallId bill =
                j.callStarted(u"102"_s, u"Койка 2"_s, u"Сестра Б"_s, CallType::Bill);
            j.callRepeated(bill, false);
            clock->advance(19000);
            j.callOverdue(first);
            j.callEnded(j.callStarted(u"103"_s, u"Койка 3"_s, QString(), CallType::Call),
                        EndReason::Click);
            QVERIFY(j.waitUntilWritten(10s));
            // No consoleClosed(): the process is killed here.
        }
        clock->advance(5000);
        auto second = std::make_unique<Journal>(fastOptions(file()), clock);
        Journal &j = *second;
        QSignalSpy found(&j, &Journal::interruptedCallsFound);
        QTRY_COMPARE(found.count(), 1);
        const auto calls = found.first().first().value<QList<RestorableCall>>();
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls[0].bedCode, u"101"_s);
        QCOMPARE(calls[0].bedName, u"Койка 1"_s);
        QCOMPARE(calls[0].responsible, u"Сестра А"_s);
        QCOMPARE(calls[0].type, CallType::Call);
        QCOMPARE(calls[0].startedUtc, kStartWall);
        QCOMPARE(calls[0].overdueUtc, std::optional<UtcMs>(kStartWall + 21000));
        QCOMPARE(calls[1].bedCode, u"102"_s);
        QCOMPARE(calls[1].type, CallType::Bill);
        QCOMPARE(calls[1].startedUtc, kStartWall + 2000);
        QCOMPARE(calls[1].overdueUtc, std::nullopt);
        QCOMPARE(calls[1].repeats, 1);
        QCOMPARE(j.now() - calls[0].startedUtc, 26000);

        const CallId restored = j.callRestored(calls[0]);
        clock->advance(3000);
        j.callEnded(restored, EndReason::Click);
        j.consoleClosed();
        QVERIFY(j.waitUntilWritten(10s));
        const auto rows =
            query(file(),
                  u"SELECT id, run_id, bed_code, started_utc, overdue_utc, ended_utc, "
                  "end_reason, restored_from FROM calls ORDER BY id"_s);
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[0][u"end_reason"_s].toString(), u"restored"_s);
        QCOMPARE(rows[1][u"end_reason"_s].toString(), u"interrupted"_s);
        QVERIFY(rows[1][u"ended_utc"_s].toLongLong() >= kStartWall + 21000); // last seen alive
        QCOMPARE(rows[2][u"end_reason"_s].toString(), u"click"_s);
        QCOMPARE(rows[3][u"bed_code"_s].toString(), u"101"_s);
        QCOMPARE(rows[3][u"started_utc"_s].toLongLong(), kStartWall);
        QCOMPARE(rows[3][u"overdue_utc"_s].toLongLong(), kStartWall + 21000);
        QCOMPARE(rows[3][u"ended_utc"_s].toLongLong(), kStartWall + 29000);
        QCOMPARE(rows[3][u"restored_from"_s], rows[0][u"id"_s]);
        QCOMPARE(rows[3][u"run_id"_s].toInt(), 2);
        QCOMPARE(query(file(), u"SELECT end_kind FROM runs ORDER BY id"_s),
                 QList<QVariantMap>({ { { u"end_kind"_s, u"interrupted"_s } },
                                      { { u"end_kind"_s, u"closed"_s } } }));

        second.reset();
        Journal after(fastOptions(file()), clock);
        QSignalSpy none(&after, &Journal::interruptedCallsFound);
        after.consoleStarted({ 20, 60, 3 });
        QVERIFY(after.waitUntilWritten(10s));
        QCoreApplication::processEvents();
        QCOMPARE(none.count(), 0);
    }

    // A console killed outright (kill -9) leaves its lock file and its open
    // calls: the next run sees that the lock's process is gone, takes the
    // journal over and offers the calls.
    void killedConsole_callsOfferedAndLockTakenOver()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"KALVORA_JOURNAL_CHILD"_s, file());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), { u"holdOpenCalls_inChild"_s });
        QVERIFY(child.waitForStarted());
        QByteArray output;
        while (!output.contains("calls written") && child.waitForReadyRead(30000))
            output += child.readAllStandardOutput();
        QVERIFY2(output.contains("calls written"), output.constData());
        QVERIFY(QFile::exists(file() + u".lock"_s));
        child.kill(); // SIGKILL: nothing is closed, the lock file stays
        QVERIFY(child.waitForFinished());
        QVERIFY(QFile::exists(file() + u".lock"_s));

        Journal j(fastOptions(file()), clockAt(kStartWall + 60000));
        QSignalSpy found(&j, &Journal::interruptedCallsFound);
        QTRY_COMPARE(found.count(), 1);
        const auto calls = found.first().first().value<QList<RestorableCall>>();
        QCOMPARE(calls.size(), 3);
        QCOMPARE(calls.last().bedCode, u"3"_s);
        QVERIFY(j.waitUntilWritten(10s));
        QCOMPARE(j.status(), QString());
    }

    // The console that kill -9 ends: three calls open, written, then it waits.
    void holdOpenCalls_inChild()
    {
        const QString path = qEnvironmentVariable("KALVORA_JOURNAL_CHILD");
        if (path.isEmpty())
            QSKIP("runs in the child process of killedConsole_callsOfferedAndLockTakenOver");
        Journal j(fastOptions(path), clockAt(kStartWall));
        j.consoleStarted({ 20, 60, 3 });
        for (const char *code : { "1", "2", "3" })
            j.callStarted(QString::fromLatin1(code), QString(), QString(), CallType::Call);
        QVERIFY(j.waitUntilWritten(10s));
        std::fputs("calls written\n", stdout);
        std::fflush(stdout);
        std::getchar(); // until the parent kills this process
    }

    void planRestore_data()
    {
        QTest::addColumn<qint64>("ageMs");
        QTest::addColumn<int>("redSec");
        QTest::addColumn<int>("maxSec");
        QTest::addColumn<bool>("keepUntilCancelled");
        QTest::addColumn<bool>("bedFree");
        QTest::addColumn<int>("elapsed"); // -1: not restored
        QTest::addColumn<bool>("overdue");
        QTest::addRow("young call") << qint64(5400) << 20 << 60 << false << true << 5 << false;
        QTest::addRow("past redSec") << qint64(45999) << 20 << 60 << false << true << 45 << true;
        QTest::addRow("exactly maxSec") << qint64(60999) << 20 << 60 << false << true << 60 << true;
        QTest::addRow("older than maxSec")
            << qint64(61000) << 20 << 60 << false << true << -1 << false;
        QTest::addRow("kept until cancelled")
            << qint64(3600000) << 20 << 60 << true << true << 3600 << true;
        QTest::addRow("bed gone or busy")
            << qint64(1000) << 20 << 60 << false << false << -1 << false;
        QTest::addRow("redSec 0: never overdue")
            << qint64(30000) << 0 << 60 << false << true << 30 << false;
        QTest::addRow("start after now (clock set back)")
            << qint64(-5000) << 20 << 60 << false << true << 0 << false;
    }
    void planRestore()
    {
        QFETCH(qint64, ageMs);
        QFETCH(int, redSec);
        QFETCH(int, maxSec);
        QFETCH(bool, keepUntilCancelled);
        QFETCH(bool, bedFree);
        QFETCH(int, elapsed);
        QFETCH(bool, overdue);
        const UtcMs now = kStartWall;
        RestorableCall call;
        call.bedCode = u"A1"_s;
        call.startedUtc = now - ageMs;
        RestorableCall older = call; // the same bed, an older open call: never restored
        older.startedUtc -= 1000;
        older.row = 7;
        RestorableCall other;
        other.bedCode = u"B"_s;
        other.startedUtc = now - 2500;
        const auto plan =
            journal::planRestore({ call, other, older }, now, redSec, maxSec, keepUntilCancelled,
                                 [&](const QString &code) { return code == u"B"_s || bedFree; });
        QList<RestoredCall> expected;
        if (elapsed >= 0 && call.startedUtc < other.startedUtc)
            expected.append({ call, elapsed, overdue });
        expected.append({ other, 2, false });
        if (elapsed >= 0 && call.startedUtc >= other.startedUtc)
            expected.append({ call, elapsed, overdue });
        QCOMPARE(plan.size(), expected.size());
        for (qsizetype i = 0; i < plan.size(); ++i) {
            QCOMPARE(plan[i].call, expected[i].call);
            QCOMPARE(plan[i].elapsedSec, expected[i].elapsedSec);
            QCOMPARE(plan[i].overdue, expected[i].overdue);
        }
    }

    // KeepDays deletes, at start-up, the calls and events older than that
    // and the runs left empty.
    void keepDays_purgesOldCalls()
    {
        const qint64 day = 86400000;
        for (const qint64 daysAgo : { 40, 10 }) {
            const auto clock = clockAt(kStartWall - daysAgo * day);
            Journal j(fastOptions(file()), clock);
            j.consoleStarted({ 20, 60, 1 });
            j.callEnded(j.callStarted(u"1"_s, QString(), QString(), CallType::Call),
                        EndReason::Click);
            j.consoleClosed();
        }
        auto options = fastOptions(file());
        options.writer.keepDays = 30;
        Journal j(options, clockAt(kStartWall));
        j.consoleStarted({ 20, 60, 1 });
        QVERIFY(j.waitUntilWritten(10s));
        QCOMPARE(count(file(), u"SELECT count(*) FROM calls"_s), 1);
        QCOMPARE(count(file(), u"SELECT min(started_utc) FROM calls"_s), kStartWall - 10 * day);
        QCOMPARE(count(file(), u"SELECT count(*) FROM runs"_s), 2);
        QCOMPARE(count(file(), u"SELECT min(at_utc) FROM events"_s), kStartWall - 10 * day);
    }

    // Staff accounts share the data folder through its group: in a
    // group-writable folder every file of the journal is made group-writable,
    // whatever the umask; elsewhere the umask decides, as for any file.
    void filesInASharedFolder_areTheGroups_data()
    {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileMode");
        QTest::addRow("shared folder (2775)") << 02775 << 0664;
        QTest::addRow("private folder (0755)") << 0755 << 0644;
    }
    void filesInASharedFolder_areTheGroups()
    {
        QFETCH(int, folderMode);
        QFETCH(int, fileMode);
        const QString folder = m_dir.filePath(u"data"_s);
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(folderMode)), 0);
        const mode_t umaskBefore = ::umask(022);
        const auto restoreUmask = qScopeGuard([&] { ::umask(umaskBefore); });
        const auto removeFolder = qScopeGuard([&] { QDir(folder).removeRecursively(); });
        const QString journal = folder + u"/journal.sqlite"_s;
        Journal j(fastOptions(journal), clockAt(kStartWall));
        j.consoleStarted({ 20, 60, 1 });
        j.callStarted(u"101"_s, QString(), QString(), CallType::Call);
        QVERIFY(j.waitUntilWritten(10s));
        for (const char *suffix : { "", "-wal", "-shm", ".lock" }) {
            struct stat info { };
            const QByteArray path = QFile::encodeName(journal + QLatin1String(suffix));
            QVERIFY2(::stat(path.constData(), &info) == 0, path.constData());
            QCOMPARE(int(info.st_mode & 0777), fileMode);
        }
    }

    // While another console holds the journal, calls go on, the status says
    // why, at most maxBacklog rows wait (the rest are counted as lost) and
    // are written, once each, when the file is free.
    void otherConsole_backlogBoundedThenWritten()
    {
        const auto clock = clockAt(kStartWall);
        auto holder = std::make_unique<Journal>(fastOptions(file()), clock);
        holder->consoleStarted({ 20, 60, 1 });
        QVERIFY(holder->waitUntilWritten(10s));

        auto options = fastOptions(file());
        options.writer.maxBacklog = 50;
        Journal j(options, clock);
        QSignalSpy changes(&j, &Journal::statusChanged);
        j.consoleStarted({ 20, 60, 1 });
        QTRY_VERIFY2(j.status().contains(u"его уже ведёт другая консоль"_s),
                     qPrintable(j.status()));
        for (int i = 0; i < 60; ++i) {
            const CallId id =
                j.callStarted(QString::number(i), QString(), QString(), CallType::Call);
            QCOMPARE(id, CallId(i + 2));
            j.callEnded(id, EndReason::Click);
        }
        QTRY_COMPARE(j.stats().lost, quint64(11)); // the start event and 49 calls are kept
        QTRY_VERIFY2(j.status().endsWith(u"Часть записей журнала потеряна."_s),
                     qPrintable(j.status()));
        QVERIFY(!j.waitUntilWritten(100ms));

        holder.reset();
        QVERIFY(j.waitUntilWritten(10s));
        QCOMPARE(count(file(), u"SELECT count(*) FROM calls WHERE run_id = 2"_s), 49);
        QCOMPARE(count(file(), u"SELECT count(DISTINCT seq) FROM calls WHERE run_id = 2"_s), 49);
        QCOMPARE(count(file(), u"SELECT count(*) FROM calls WHERE end_reason = 'click'"_s), 49);
        QCOMPARE(query(file(), u"SELECT detail FROM events WHERE kind = 'records_lost'"_s)
                     .first()
                     .first()
                     .toString(),
                 u"11"_s);
        QTRY_COMPARE(j.status(), u"Часть записей журнала потеряна."_s);
        QCOMPARE(changes.count(), 3);
    }

    // Another program holding a write lock (a backup, a hospital's tool):
    // the batch waits and is written once the lock goes, every row once.
    void lockedByAnotherProgram_writtenOnceLater()
    {
        const auto clock = clockAt(kStartWall);
        Journal j(fastOptions(file()), clock);
        j.consoleStarted({ 20, 60, 1 });
        QVERIFY(j.waitUntilWritten(10s));
        Connection other(file(), Connection::Mode::ReadWrite, 10);
        QVERIFY(!other.open());
        QVERIFY(!exec(other.db(), u"BEGIN EXCLUSIVE"_s));
        QList<CallId> ids;
        for (int i = 0; i < 20; ++i)
            ids.append(j.callStarted(QString::number(i), QString(), QString(), CallType::Call));
        QTRY_VERIFY2(j.status().contains(u"файл занят другой программой"_s),
                     qPrintable(j.status()));
        for (const CallId id : ids)
            j.callEnded(id, EndReason::Timeout);
        QVERIFY(!exec(other.db(), u"ROLLBACK"_s));
        QVERIFY(j.waitUntilWritten(10s));
        QTRY_COMPARE(j.status(), QString());
        QCOMPARE(count(file(), u"SELECT count(*) FROM calls"_s), 20);
        QCOMPARE(count(file(), u"SELECT count(*) FROM calls WHERE end_reason = 'timeout'"_s), 20);
        QCOMPARE(count(file(), u"SELECT count(*) FROM events"_s), 1);
        QCOMPARE(j.stats().lost, quint64(0));
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
