// The console killed in the middle of saving its bed file: at every step of
// the save (kalvora-savekill stops itself there), and at random moments of a
// console that saves over and over. Whatever the moment, the data folder
// holds a bed file that loads, with either the old beds or the new ones, and
// a backup that is either absent or a whole earlier bed file.

#include "ConsoleFixture.h"
#include "FaultSupport.h"
#include "NetworkGuard.h"
#include "app/TkrdoMF.h"
#include "plan/BedFile.h"
#include "plan/Ttable.h"
#include "settings/TextFile.h"
#include "ui/Errors.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

using namespace kalvora;
using namespace kalvora::test;

namespace {

QString helper()
{
    return QStringLiteral(KALVORA_SAVEKILL);
}

void startHelper(QProcess &p, const ConsoleFixture &f, const QString &mode)
{
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(helper(), { f.settingsFile(), f.dataDir(), mode });
}

// The beds of the demo bed file moved by `shift` pixels, as the loop saves them.
QList<BedRecord> shifted(QList<BedRecord> beds, qint32 shift)
{
    for (BedRecord &bed : beds)
        bed.dx += shift;
    return beds;
}

// Which save of the loop wrote these beds (their shift), or -1.
qint32 shiftOf(const QList<BedRecord> &beds, const QList<BedRecord> &original)
{
    if (beds.size() != original.size() || beds.isEmpty())
        return -1;
    const qint32 shift = beds.first().dx - original.first().dx;
    return beds == shifted(original, shift) ? shift : -1;
}

} // namespace

class TestSaveKill : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        KALVORA_REQUIRE_PRIVATE_NETWORK();
        setBoxObserver([](const BoxRecord &box) {
            qWarning("box: %s", qPrintable(box.text));
            return true;
        });
    }

    void killedAtAStepOfTheSave_leavesOldOrNewBeds_data()
    {
        QTest::addColumn<QString>("point");
        QTest::addColumn<bool>("newBeds");
        QTest::addColumn<bool>("backupWritten");
        QTest::addRow("before the backup is written") << "before-backup" << false << false;
        QTest::addRow("halfway through the backup") << "backup-half" << false << false;
        QTest::addRow("backup written, not yet in place") << "backup-written" << false << false;
        QTest::addRow("between backup and bed file") << "between" << false << true;
        QTest::addRow("before the bed file is written") << "before-bed" << false << true;
        QTest::addRow("halfway through the bed file") << "bed-half" << false << true;
        QTest::addRow("bed file written, not yet in place") << "bed-written" << false << true;
        QTest::addRow("bed file written under a temporary name") << "bed-named" << false << true;
        QTest::addRow("right after the bed file is in place") << "after" << true << true;
    }
    void killedAtAStepOfTheSave_leavesOldOrNewBeds()
    {
        QFETCH(QString, point);
        QFETCH(bool, newBeds);
        QFETCH(bool, backupWritten);
        ConsoleFixture f;
        f.writeSettings();
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        const QString backup = f.dataFile(QStringLiteral("tables.bac"));
        const QByteArray before = readAll(tables);
        const auto old = loadBeds(f.dataDir());
        QVERIFY(old.ok());

        QProcess p;
        startHelper(p, f, point);
        QVERIFY(p.waitForFinished(60000));
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY2(out.contains(QByteArray("reached " + point.toLatin1())),
                 QByteArray(out + p.readAllStandardError()).constData());
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);

        // The bed file loads, with the old beds or all the new ones.
        const auto beds = loadBeds(f.dataDir());
        QVERIFY2(beds.ok(), qPrintable(beds.error()));
        if (newBeds) {
            QCOMPARE(beds->size(), old->size());
            for (qsizetype i = 0; i < beds->size(); ++i) {
                QCOMPARE(beds->at(i).dx, old->at(i).dx + 1);
                QCOMPARE(beds->at(i).l, old->at(i).l + QStringLiteral(" (moved)"));
            }
        } else {
            QCOMPARE(readAll(tables), before);
        }
        QCOMPARE(QFile::exists(backup), backupWritten);
        if (backupWritten)
            QCOMPARE(readAll(backup), before);
        // A file left under a temporary name is litter, not loss: it holds
        // the whole new bed file.
        const QStringList stray =
            strayFiles(f.dataDir(), { QStringLiteral("tables.txt"), QStringLiteral("tables.bac") });
        QCOMPARE(stray.size(), point == u"bed-named" ? 1 : 0);
        for (const QString &name : stray) {
            const auto lines = readTextLines(f.dataFile(name), BedFile::kMaxBytes, Links::Refuse);
            QVERIFY(lines.ok());
            QCOMPARE(lines->lines.size(), old->size());
            QVERIFY(lines->lines.first().contains(QStringLiteral(" (moved)")));
        }

        // And the next console starts on it.
        TkrdoMF &w = f.start();
        QVERIFY(w.isinit);
        QCOMPARE(w.sl.size(), old->size());
    }

    void killedAtRandomMoments_alwaysLeavesALoadableBedFile()
    {
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        const int rounds = qEnvironmentVariableIntValue("KALVORA_KILL_ROUNDS") > 0
            ? qEnvironmentVariableIntValue("KALVORA_KILL_ROUNDS")
            : 20;
        int killedMidway = 0;
        for (int round = 0; round < rounds; ++round) {
            const QByteArray context =
                "seed " + QByteArray::number(seed) + ", round " + QByteArray::number(round);
            ConsoleFixture f;
            f.writeSettings();
            const auto original = loadBeds(f.dataDir());
            QVERIFY(original.ok());

            QProcess p;
            startHelper(p, f, QStringLiteral("loop"));
            QByteArray out;
            // Killed at a random moment once the saves are under way.
            QTRY_VERIFY_WITH_TIMEOUT((out += p.readAllStandardOutput()).contains("saved 1\n"),
                                     60000);
            QTest::qWait(int(random.bounded(40)));
            p.kill();
            QVERIFY(p.waitForFinished(10000));
            out += p.readAllStandardOutput();
            const int lastSaved = out.trimmed().split('\n').last().mid(6).toInt();

            const auto beds = loadBeds(f.dataDir());
            QVERIFY2(beds.ok(), QByteArray(context + ": " + beds.error().toUtf8()).constData());
            const qint32 k = shiftOf(*beds, *original);
            // The bed file holds the last finished save or the one after it.
            QVERIFY2(k == lastSaved || k == lastSaved + 1,
                     QByteArray(context + ": bed file of save " + QByteArray::number(k)
                                + ", last saved " + QByteArray::number(lastSaved))
                         .constData());
            const auto backup = readTextLines(f.dataFile(QStringLiteral("tables.bac")),
                                              BedFile::kMaxBytes, Links::Refuse);
            QVERIFY2(backup.ok(), context.constData());
            QList<BedRecord> backupBeds;
            for (const QString &line : backup->lines) {
                const auto bed = parseBedLine(line);
                QVERIFY2(bed.ok(), context.constData());
                backupBeds.append(*bed);
            }
            const qint32 b = shiftOf(backupBeds, *original);
            QVERIFY2(b == k || b == k - 1,
                     QByteArray(context + ": backup of save " + QByteArray::number(b)
                                + ", bed file of save " + QByteArray::number(k))
                         .constData());
            killedMidway += b == k ? 1 : 0;
        }
        qInfo("%d rounds (seed %u); %d killed between backup and bed file", rounds, seed,
              killedMidway);
    }
};

QTEST_MAIN(TestSaveKill)
#include "tst_savekill.moc"
