// Closing the console when its bed file cannot be written: a data folder the
// process may not write, a read-only file system, a disk that is full before
// or during the save. Each time the error is shown, the window stays open
// with its beds, calls, listener and tick, the bed file and its backup stay
// whole and loadable, and once the fault is gone the next close saves
// everything. Faults that need their own file system run in a child process
// with a private mount namespace.

#include "ConsoleFixture.h"
#include "FaultSupport.h"
#include "NetworkGuard.h"
#include "app/TkrdoMF.h"
#include "link/UdpListener.h"
#include "plan/Ttable.h"
#include "ui/Errors.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <functional>
#include <sys/stat.h>

using namespace kalvora;
using namespace kalvora::test;

namespace {

const QStringList kDataFiles = { QStringLiteral("tables.txt"), QStringLiteral("tables.bac") };

QList<BedRecord> recordsOf(const TkrdoMF &w)
{
    QList<BedRecord> beds;
    for (const auto &item : w.sl)
        beds.append(item.object->record());
    return beds;
}

QStringList callCodes(const TkrdoMF &w)
{
    QStringList codes;
    for (const auto &item : w.sinc)
        codes.append(item.key);
    return codes;
}

} // namespace

class TestSaveFaults : public QObject {
    Q_OBJECT

    QStringList m_boxes;

    // Changes that must survive: a call that renames a bed, a moved bed, a bed
    // made in add mode; with long names the new bed file needs several pages.
    void changeBeds(TkrdoMF &w, bool longNames)
    {
        w.AddSinc(QStringLiteral("#101;8;Медсестра;Переименована"));
        w.sl.find(QStringLiteral("102"))->dx += 7;
        w.nm2Click();
        w.AddSinc(QStringLiteral("#950;0;;Новая койка;950C"));
        w.nm2Click();
        if (longNames) {
            for (const auto &item : w.sl)
                item.object->l = QString(180, QChar(u'Ж')) + item.key;
        }
    }

    // The console after a refused close: nothing changed, and it still works.
    void verifyStillRunning(TkrdoMF &w, const QList<BedRecord> &beds, const QStringList &calls,
                            quint16 port)
    {
        QVERIFY(w.isinit);
        QCOMPARE(recordsOf(w), beds);
        QCOMPARE(callCodes(w), calls);
        QVERIFY(w.IdUDPServer1->isActive());
        QCOMPARE(w.IdUDPServer1->port(), port);
        QVERIFY(w.TimerPlus->isActive());
        // A call arriving now is taken and timed.
        QUdpSocket server;
        Ttable *bed = w.sl.find(QStringLiteral("103"));
        const QString name = bed->l;
        const qint32 waited = w.sl.find(QStringLiteral("101"))->curT;
        QVERIFY(server.writeDatagram(QString(QStringLiteral("#103;8;Сестра;") + name).toUtf8(),
                                     QHostAddress::LocalHost, port)
                > 0);
        QTRY_VERIFY(bed->isOn);
        QTRY_VERIFY(w.sl.find(QStringLiteral("101"))->curT > waited);
        w.AddSinc(QStringLiteral("#103;2;;") + name);
    }

    // The whole fault scenario on a started console whose data folder is
    // f.dataDir(): break, close (refused), check, repair, close (saves).
    void closeFailsThenSaves(ConsoleFixture &f, bool longNames, const QString &failingFile,
                             const QString &reason, const std::function<void()> &breakIt,
                             const std::function<void()> &repair)
    {
        TkrdoMF &w = f.console();
        QVERIFY(w.isinit);
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        const QString backup = f.dataFile(QStringLiteral("tables.bac"));
        const QByteArray before = readAll(tables);
        QVERIFY(!QFile::exists(backup) || readAll(backup) == before);
        changeBeds(w, longNames);
        const QList<BedRecord> beds = recordsOf(w);
        const QStringList calls = callCodes(w);
        const quint16 port = w.IdUDPServer1->port();

        breakIt();
        if (QTest::currentTestFailed())
            return;
        m_boxes.clear();
        QVERIFY(!w.close());
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().startsWith(QStringLiteral("Cannot create file \"") + f.dataDir()),
                 qPrintable(m_boxes.first()));
        QVERIFY2(m_boxes.first().contains(failingFile), qPrintable(m_boxes.first()));
        QVERIFY2(m_boxes.first().contains(reason), qPrintable(m_boxes.first()));

        verifyStillRunning(w, beds, calls, port);
        if (QTest::currentTestFailed())
            return;
        // The bed file is the old one, whole; a backup, if written, is too.
        QCOMPARE(readAll(tables), before);
        QVERIFY(!QFile::exists(backup) || readAll(backup) == before);
        QVERIFY(loadBeds(f.dataDir()).ok());
        QCOMPARE(strayFiles(f.dataDir(), kDataFiles), QStringList());

        // A second try while the fault lasts changes nothing either.
        m_boxes.clear();
        QVERIFY(!w.close());
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(readAll(tables), before);

        repair();
        m_boxes.clear();
        QVERIFY2(w.close(), qPrintable(m_boxes.join(u'\n')));
        QVERIFY(m_boxes.isEmpty());
        const auto saved = loadBeds(f.dataDir());
        QVERIFY2(saved.ok(), qPrintable(saved.error()));
        QCOMPARE(*saved, beds);
        QCOMPARE(readAll(backup), before);
        QCOMPARE(strayFiles(f.dataDir(), kDataFiles), QStringList());
    }

private slots:
    void initTestCase()
    {
        KALVORA_REQUIRE_PRIVATE_NETWORK();
        setBoxObserver([this](const BoxRecord &box) {
            m_boxes.append(box.text);
            return true;
        });
    }
    void init() { m_boxes.clear(); }

    void unwritableFolderAtClose_data()
    {
        QTest::addColumn<bool>("backupExists");
        QTest::addRow("no backup yet: refused until the folder is writable") << false;
        // As on a ward where data/ is root's and only the two files are the group's.
        QTest::addRow("both files writable: saved in place") << true;
    }
    void unwritableFolderAtClose()
    {
        QFETCH(bool, backupExists);
        {
            QTemporaryDir scratch;
            FolderWriteLock probe(scratch.path());
            if (!probe.engaged())
                QSKIP("this process can write to a folder without write permission");
        }
        ConsoleFixture f;
        f.writeSettings();
        f.start();
        std::unique_ptr<FolderWriteLock> lock;
        if (!backupExists) {
            closeFailsThenSaves(
                f, false, QStringLiteral("tables.bac"), QStringLiteral("Permission denied"),
                [&] {
                    lock = std::make_unique<FolderWriteLock>(f.dataDir());
                    QVERIFY(lock->engaged());
                },
                [&] { lock->release(); });
            return;
        }
        TkrdoMF &w = f.console();
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        const QString backup = f.dataFile(QStringLiteral("tables.bac"));
        const QByteArray before = readAll(tables);
        QVERIFY(writeAll(backup, "an older backup\r\n"));
        QVERIFY(QFile::setPermissions(
            backup, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup));
        changeBeds(w, true);
        const QList<BedRecord> beds = recordsOf(w);
        lock = std::make_unique<FolderWriteLock>(f.dataDir());
        QVERIFY(lock->engaged());
        QVERIFY2(w.close(), qPrintable(m_boxes.join(u'\n')));
        QVERIFY(m_boxes.isEmpty());
        lock->release();
        const auto saved = loadBeds(f.dataDir());
        QVERIFY2(saved.ok(), qPrintable(saved.error()));
        QCOMPARE(*saved, beds);
        QCOMPARE(readAll(backup), before);
        QCOMPARE(QFile::permissions(backup),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser
                     | QFile::ReadGroup | QFile::WriteGroup);
        QCOMPARE(strayFiles(f.dataDir(), kDataFiles), QStringList());
    }

    // A member of the ward's group links the bed files to another member's
    // files, or puts a FIFO there, while a console runs: its closing refuses,
    // naming the file, writes nothing through it, and saves once it is gone.
    void linkOrSpecialFileAtClose_isRefusedAndWrittenThroughNever_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");
        QTest::addRow("backup linked to a login script")
            << "tables.bac"
            << "link"
            << "Cannot create file \"%1\". Is a symbolic link.";
        QTest::addRow("bed file linked to a private file")
            << "tables.txt"
            << "link"
            << "Cannot open file \"%1\". Is a symbolic link.";
        QTest::addRow("backup is a FIFO") << "tables.bac"
                                          << "FIFO"
                                          << "Cannot create file \"%1\". Is not a regular file.";
        QTest::addRow("bed file is a FIFO") << "tables.txt"
                                            << "FIFO"
                                            << "Cannot open file \"%1\". Is not a regular file.";
    }
    void linkOrSpecialFileAtClose_isRefusedAndWrittenThroughNever()
    {
        QFETCH(QString, file);
        QFETCH(QString, kind);
        QFETCH(QString, error);
        ConsoleFixture f;
        f.writeSettings();
        TkrdoMF &w = f.start();
        QVERIFY(w.isinit);
        changeBeds(w, false);
        const QList<BedRecord> beds = recordsOf(w);
        const QString path = f.dataFile(file);
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        const QByteArray before = readAll(tables);
        const QString victim = f.dir() + QLatin1String("/victim");
        const QByteArray victimBytes("echo this member's own file\n");
        QVERIFY(writeAll(victim, victimBytes));
        QVERIFY(QFile::setPermissions(victim, QFile::ReadOwner | QFile::WriteOwner));
        QFile::rename(path, path + QLatin1String(".aside")); // tables.txt kept aside
        if (kind == u"link")
            QVERIFY(QFile::link(victim, path));
        else
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0664), 0);

        QVERIFY(!w.close());
        QCOMPARE(m_boxes, QStringList { error.arg(path) });
        QCOMPARE(readAll(victim), victimBytes);
        QCOMPARE(QFileInfo(victim).permissions(),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QVERIFY(w.isinit);
        QCOMPARE(recordsOf(w), beds);
        if (file == u"tables.bac")
            QCOMPARE(readAll(tables), before);

        // Gone again: the next close saves.
        QVERIFY(QFile::remove(path));
        QFile::rename(path + QLatin1String(".aside"), path);
        m_boxes.clear();
        QVERIFY2(w.close(), qPrintable(m_boxes.join(u'\n')));
        const auto saved = loadBeds(f.dataDir());
        QVERIFY2(saved.ok(), qPrintable(saved.error()));
        QCOMPARE(*saved, beds);
        QCOMPARE(readAll(victim), victimBytes);
    }

    // Runs each row of fileSystemFault_inChild in a child process of its own.
    void fileSystemFaultAtClose_data() { faultRows(); }
    void fileSystemFaultAtClose()
    {
        if (!mountNamespaceAvailable())
            QSKIP("this system allows no private mount namespace (unshare --mount)");
        const ChildRun run = runChildInMountNamespace(QStringLiteral("fileSystemFault_inChild:")
                                                      + QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY2(run.exitCode == 0, run.output.constData());
        QVERIFY2(run.output.contains("PASS   : TestSaveFaults::fileSystemFault_inChild("),
                 run.output.constData());
    }

    void fileSystemFault_inChild_data() { faultRows(); }
    void fileSystemFault_inChild()
    {
        QFETCH(QString, fault);
        QFETCH(int, pagesFree);
        QFETCH(bool, longNames);
        QFETCH(QString, failingFile);
        QFETCH(QString, reason);
        if (!inChildMountNamespace())
            QSKIP(
                "runs in a child process with a private mount namespace (fileSystemFaultAtClose)");

        ConsoleFixture f;
        f.writeSettings();
        // The data folder on a small file system of its own.
        QVERIFY(!mountTmpfs(f.dataDir(), 2 * 1024 * 1024));
        const auto unmountAtEnd = qScopeGuard([&] {
            f.destroy();
            unmount(f.dataDir());
        });
        copyDemoData(f.dataDir());
        const bool inPlace = fault == u"full, folder read-only";
        if (inPlace) // the backup a ward's data folder starts with
            QVERIFY(QFile::copy(f.dataFile(QStringLiteral("tables.txt")),
                                f.dataFile(QStringLiteral("tables.bac"))));
        f.start();

        QString filler;
        std::unique_ptr<FolderWriteLock> lock;
        closeFailsThenSaves(
            f, longNames, failingFile, reason,
            [&] {
                if (fault == u"read-only") {
                    QVERIFY(!remountTmpfs(f.dataDir(), true));
                    return;
                }
                const auto filled = fillFileSystem(f.dataDir(), pagesFree);
                QVERIFY2(filled.ok(), qPrintable(filled.error()));
                filler = *filled;
                if (inPlace) {
                    lock = std::make_unique<FolderWriteLock>(f.dataDir());
                    QVERIFY(lock->engaged());
                }
            },
            [&] {
                if (lock)
                    lock->release();
                if (fault == u"read-only")
                    QVERIFY(!remountTmpfs(f.dataDir(), false));
                else
                    QVERIFY(QFile::remove(filler));
            });
    }

private:
    void faultRows()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("pagesFree");
        QTest::addColumn<bool>("longNames");
        QTest::addColumn<QString>("failingFile");
        QTest::addColumn<QString>("reason");
        const QString full = QStringLiteral("No space left on device");
        QTest::addRow("disk full before the save")
            << QStringLiteral("full") << 0 << false << QStringLiteral("tables.bac") << full;
        QTest::addRow("room for the backup only")
            << QStringLiteral("full") << 1 << false << QStringLiteral("tables.txt") << full;
        QTest::addRow("disk full in the middle of the bed file")
            << QStringLiteral("full") << 2 << true << QStringLiteral("tables.txt") << full;
        // Written in place: the backup fits in its old room, the longer bed
        // file does not, and its old content must stay whole.
        QTest::addRow("disk full, folder read-only: bed file in place")
            << QStringLiteral("full, folder read-only") << 0 << true << QStringLiteral("tables.txt")
            << full;
        QTest::addRow("read-only file system")
            << QStringLiteral("read-only") << 0 << false << QStringLiteral("tables.bac")
            << QStringLiteral("Read-only file system");
    }
};

QTEST_MAIN(TestSaveFaults)
#include "tst_savefaults.moc"
