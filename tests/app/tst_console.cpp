// Start-up, layout and closing of the console, on temporary copies of the
// demo data.

#include "ConsoleFixture.h"
#include "NetworkGuard.h"
#include "app/TkrdoMF.h"
#include "link/UdpListener.h"
#include "plan/Ttable.h"
#include "settings/Settings.h"
#include "ui/Errors.h"
#include "ui/PictureControl.h"
#include "ui/TextLabel.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QUdpSocket>

using namespace kalvora;
using kalvora::test::ConsoleFixture;

class TestConsole : public QObject {
    Q_OBJECT

    QStringList m_boxes;

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

    void firstStart_writesSettingsThenReadsThem()
    {
        ConsoleFixture f;
        QVERIFY(!QFile::exists(f.settingsFile()));
        TkrdoMF &w = f.start();
        QVERIFY2(w.isinit, qPrintable(m_boxes.join(u'\n')));
        const QByteArray ini = f.readFile(f.settingsFile());
        QVERIFY(ini.startsWith("[Server]\n;ToServerPing=строка опроса сервара\n"));
        QVERIFY(ini.contains("\n[Logic]\n;redSec=\"покраснение\" вызова, сек.\n"));
        QCOMPARE(w.FromServerPort, quint16(5567));
        QCOMPARE(w.cs2, QStringLiteral("Койка"));
        QCOMPARE(w.bdy, -30);
    }

    void startUp_laysOutPlanPanelTitlesAndBeds()
    {
        ConsoleFixture f;
        f.writeSettings();
        TkrdoMF &w = f.start();
        QVERIFY(w.isinit);

        QCOMPARE(w.iBackground->geometry(), QRect(0, 0, 1080, 760));
        // The demo panel picture is a narrow tile: the panel is widened to minl.
        QCOMPARE(w.iPanel->geometry(), QRect(1080, 0, 500, 760));
        QCOMPARE(w.cl1->pos(), QPoint(1100, 20));
        QCOMPARE(w.cl2->pos(), QPoint(1320, 20));
        QCOMPARE(w.cl3->pos(), QPoint(1480, 20));
        QCOMPARE(w.cl1->text(), QStringLiteral("Ответственный"));
        QCOMPARE(w.cl3->text(), QStringLiteral("Время"));
        QCOMPARE(w.geometry(), QGuiApplication::primaryScreen()->availableGeometry());

        QCOMPARE(w.sl.size(), 24);
        for (const auto &item : w.sl) {
            const Ttable &bed = *item.object;
            QCOMPARE(item.key, bed.code);
            QVERIFY(!bed.isOn);
            QCOMPARE(bed.iT->holder().picture(), w.iTable[size_t(bed.imagenumber)].picture());
            QCOMPARE(bed.iT->pos(),
                     QPoint(bed.dx - bed.iT->width() / 2, bed.dy - bed.iT->height() / 2));
            QCOMPARE(bed.lab->pos(),
                     QPoint(bed.dx - bed.lab->width() / 2, bed.dy - bed.lab->height() / 2));
            QCOMPARE(bed.lab->text(), bed.l);
            QVERIFY(!bed.iT->isHidden());
            QVERIFY(!bed.lab->isHidden());
            QVERIFY(bed.iB->isHidden());
            QCOMPARE(bed.iB->pos(), QPoint(bed.dx + 30 - 12, bed.dy - 30 - 12));
        }
        // Rows that fit follow the window's height and the list font's metrics.
        QCOMPARE(w.maxn, (w.height() - 40) / (w.l1->height() + 5) - 1);
    }

    void closing_rewritesBedFileAndKeepsBackup()
    {
        ConsoleFixture f;
        f.writeSettings();
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        // A blank line and a file in the old 8-bit code page.
        const QByteArray before =
            "101;10;20;3;\xcf\xe0\xeb\xe0\xf2\xe0 1;C1\r\n\r\n 102 ;30;40;0;;\r\n";
        {
            QFile file(tables);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(before);
        }
        TkrdoMF &w = f.start();
        QVERIFY(w.isinit);
        QCOMPARE(w.sl.size(), 2);
        QCOMPARE(w.sl.at(0)->l, QStringLiteral("Палата 1"));
        QVERIFY(w.sl.find(QStringLiteral(" 102 ")));
        QVERIFY(w.close());
        QCOMPARE(f.readFile(tables), QByteArray("101;10;20;3;Палата 1;C1\r\n 102 ;30;40;0;;\r\n"));
        QCOMPARE(f.readFile(f.dataFile(QStringLiteral("tables.bac"))), before);
        QVERIFY(w.sl.isEmpty());
        QVERIFY(!w.IdUDPServer1->isActive());
    }

    void bedFileCutAtNul_saysSoOnceAndTheBackupKeepsTheRest()
    {
        ConsoleFixture f;
        f.writeSettings();
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        QByteArray original = f.readFile(tables);
        const qsizetype line3 = original.indexOf('\n', original.indexOf('\n') + 1) + 1;
        original.insert(line3, '\0'); // the 22 beds from line 3 on are not read
        {
            QFile file(tables);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(original);
        }
        TkrdoMF &w = f.start();
        QVERIFY(w.isinit);
        QCOMPARE(w.sl.size(), 2);
        // The notice does not block: the window is already taking calls.
        w.AddSinc(QStringLiteral("#101;8;Nurse;Bed"));
        QVERIFY(w.sl.find(QStringLiteral("101"))->isOn);
        QTRY_COMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().contains(QStringLiteral("NUL в строке 3"))
                     && m_boxes.first().contains(QStringLiteral("строк с текстом: 22"))
                     && m_boxes.first().contains(tables),
                 qPrintable(m_boxes.first()));

        QVERIFY(w.close());
        QCOMPARE(m_boxes.size(), 1); // said once
        QCOMPARE(f.readFile(f.dataFile(QStringLiteral("tables.bac"))), original);
        QCOMPARE(f.readFile(tables).count("\r\n"), 2);
    }

    void savedFile_isCleanOfControlCharactersAndKeepsOddKinds()
    {
        ConsoleFixture f;
        f.writeSettings();
        f.writeBeds({ QStringLiteral("101;10;20;25;Bed;C"), QStringLiteral("102;30;40;-1;x;y") });
        TkrdoMF &w = f.start();
        QVERIFY(w.isinit);
        // Kinds outside the set show kind 0's pictures and are kept as they are.
        QCOMPARE(w.sl.at(0)->iT->holder().picture(), w.iTable[0].picture());
        w.AddSinc(QStringLiteral("#101;0;;Line\r\nbreak\u0000end"));
        QVERIFY(w.close());
        QCOMPARE(f.readFile(f.dataFile(QStringLiteral("tables.txt"))),
                 QByteArray("101;10;20;25;Line  break end;C\r\n102;30;40;-1;x;y\r\n"));
        f.destroy();
        TkrdoMF &again = f.start();
        QVERIFY(again.isinit);
        QCOMPARE(again.sl.size(), 2);
    }

    void failedStartUp_showsErrorAndLeavesFilesAlone_data()
    {
        QTest::addColumn<QString>("broken");
        QTest::addColumn<QString>("message");
        QTest::addRow("no bed file") << "no-tables"
                                     << "Cannot open file";
        QTest::addRow("bed line with a bad number") << "bad-line"
                                                    << "'4x' is not a valid integer value";
        QTest::addRow("bill picture that is no picture") << "bad-bill"
                                                         << "Could not load image. Invalid format";
        QTest::addRow("no idle picture for a kind") << "no-bed0"
                                                    << "Could not load image. Invalid format";
        QTest::addRow("listening port taken") << "port"
                                              << "UDP port";
        QTest::addRow("settings file cannot be written") << "settings"
                                                         << "Unable to write to";
        // Port 0 would let the system choose a random port, on which no server sends.
        QTest::addRow("listening port 0") << "0"
                                          << "FromServerPort";
        QTest::addRow("listening port 65536, whose low 16 bits are 0") << "65536"
                                                                       << "FromServerPort";
    }
    void failedStartUp_showsErrorAndLeavesFilesAlone()
    {
        QFETCH(QString, broken);
        QFETCH(QString, message);
        ConsoleFixture f;
        const quint16 port = ConsoleFixture::freePort();
        const bool portZero = broken == u"0" || broken == u"65536";
        f.writeSettings({ { QStringLiteral("Server/FromServerPort"),
                            portZero ? broken : QString::number(port) } });
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        QUdpSocket holder;
        if (broken == u"no-tables")
            QFile::remove(tables);
        else if (broken == u"bad-line")
            f.writeBeds({ QStringLiteral("101;1;2;3;a;b"), QStringLiteral("102;1;2;4x;a;b") });
        else if (broken == u"bad-bill")
            QFile(f.dataFile(QStringLiteral("bill.gif")))
                .open(QIODevice::WriteOnly | QIODevice::Truncate);
        else if (broken == u"no-bed0") {
            f.writeBeds({ QStringLiteral("101;1;2;7;a;b") });
            QFile::remove(f.dataFile(QStringLiteral("bed0.gif")));
            QFile::remove(f.dataFile(QStringLiteral("bed7.gif")));
        } else if (broken == u"port")
            QVERIFY(holder.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress));
        const QByteArray tablesBefore = f.readFile(tables);

        std::unique_ptr<TkrdoMF> console;
        if (broken == u"settings") {
            console = std::make_unique<TkrdoMF>(TkrdoMF::Files {
                f.dir() + QLatin1String("/missing-folder/kalvora.ini"), f.dataDir() });
            console->FormCreate();
        } else {
            f.start();
        }
        TkrdoMF &w = console ? *console : f.console();

        QVERIFY(!w.isinit);
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().contains(message), qPrintable(m_boxes.first()));
        // The tick starts just before the listener, so only a port that cannot
        // be bound leaves it running.
        QCOMPARE(w.TimerPlus->isActive(), broken == u"port");
        QVERIFY(!w.IdUDPServer1->isActive());
        // The ping goes on even so.
        QVERIFY(w.TimerToServer->isActive());

        QVERIFY(w.close());
        QCOMPARE(f.readFile(tables), tablesBefore);
        QVERIFY(!QFile::exists(f.dataFile(QStringLiteral("tables.bac"))));
    }

    void failedSave_keepsWindowOpenAndRetries()
    {
        ConsoleFixture f;
        f.writeSettings();
        TkrdoMF &w = f.start();
        QVERIFY(w.isinit);
        const QByteArray before = f.readFile(f.dataFile(QStringLiteral("tables.txt")));
        // A folder in the backup's place makes the backup impossible to write.
        QVERIFY(QDir().mkpath(f.dataFile(QStringLiteral("tables.bac"))));
        w.AddSinc(QStringLiteral("#101;8;Nurse;Bed"));
        QVERIFY(!w.close());
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().startsWith(QStringLiteral("Cannot create file")),
                 qPrintable(m_boxes.first()));
        QVERIFY(w.isinit);
        QCOMPARE(w.sl.size(), 24);
        QCOMPARE(w.sinc.size(), 1);
        QVERIFY(w.IdUDPServer1->isActive());
        QVERIFY(w.TimerPlus->isActive());
        QCOMPARE(f.readFile(f.dataFile(QStringLiteral("tables.txt"))), before);

        QVERIFY(QDir(f.dataFile(QStringLiteral("tables.bac"))).removeRecursively());
        QVERIFY(w.close());
        QCOMPARE(f.readFile(f.dataFile(QStringLiteral("tables.bac"))), before);
        QVERIFY(f.readFile(f.dataFile(QStringLiteral("tables.txt"))).contains(";Bed;"));
    }

    void secondCopy_isTurnedAwayButNotAfterACrash()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(QStringLiteral(KALVORA_EXE), dir.filePath(QStringLiteral("kalvora"))));
        QFile::setPermissions(dir.filePath(QStringLiteral("kalvora")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ConsoleFixture data; // only for its copy of the demo data
        QVERIFY(QDir().rename(data.dataDir(), dir.filePath(QStringLiteral("data"))));

        // One log-on session: its runtime folder, its session and display.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("KALVORA_NONINTERACTIVE"), QStringLiteral("1"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        env.insert(QStringLiteral("XDG_SESSION_ID"), QStringLiteral("7"));
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":7"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        const auto launch = [&](QProcess &p, const QProcessEnvironment &e) {
            p.setProcessEnvironment(e);
            p.setWorkingDirectory(dir.path());
            p.start(dir.filePath(QStringLiteral("kalvora")), {});
            QVERIFY(p.waitForStarted());
        };
        const QString refused = QStringLiteral("Tesmarin: один экземпляр программы уже открыт.");
        const auto locks = [&] {
            return QDir(dir.path())
                .entryList({ QStringLiteral("Tesmarin_CHECKEXIST-*") }, QDir::Files);
        };

        QProcess first;
        launch(first, env);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("kalvora.ini"))), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(locks().size(), 1, 10000);

        QProcess second;
        launch(second, env);
        QVERIFY(second.waitForFinished(10000));
        QVERIFY(QString::fromLocal8Bit(second.readAllStandardError()).contains(refused));
        QCOMPARE(first.state(), QProcess::Running);

        // The same user at another display is another session: not refused.
        QProcessEnvironment elsewhere = env;
        elsewhere.insert(QStringLiteral("XDG_SESSION_ID"), QStringLiteral("8"));
        elsewhere.insert(QStringLiteral("DISPLAY"), QStringLiteral(":8"));
        QProcess other;
        launch(other, elsewhere);
        QTRY_COMPARE_WITH_TIMEOUT(locks().size(), 2, 10000);
        QCOMPARE(other.state(), QProcess::Running);
        other.terminate();
        QVERIFY(other.waitForFinished(10000));
        QVERIFY(!QString::fromLocal8Bit(other.readAllStandardError()).contains(refused));

        first.kill(); // a crash: no clean exit
        QVERIFY(first.waitForFinished(10000));
        QProcess third;
        launch(third, env);
        QVERIFY(!third.waitForFinished(1500));
        QCOMPARE(third.state(), QProcess::Running);
        third.terminate();
        QVERIFY(third.waitForFinished(10000));
    }
};

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
