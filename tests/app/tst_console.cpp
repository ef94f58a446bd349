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
    }
    void failedStartUp_showsErrorAndLeavesFilesAlone()
    {
        QFETCH(QString, broken);
        QFETCH(QString, message);
        ConsoleFixture f;
        const quint16 port = ConsoleFixture::freePort();
        f.writeSettings({ { QStringLiteral("Server/FromServerPort"), QString::number(port) } });
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

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("KALVORA_NONINTERACTIVE"), QStringLiteral("1"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        const auto launch = [&](QProcess &p) {
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(dir.path());
            p.start(dir.filePath(QStringLiteral("kalvora")), {});
            QVERIFY(p.waitForStarted());
        };

        QProcess first;
        launch(first);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("kalvora.ini"))), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("Tesmarin_CHECKEXIST"))),
                                 10000);

        QProcess second;
        launch(second);
        QVERIFY(second.waitForFinished(10000));
        QVERIFY(QString::fromLocal8Bit(second.readAllStandardError())
                    .contains(QStringLiteral("Tesmarin: один экземпляр программы уже открыт.")));
        QCOMPARE(first.state(), QProcess::Running);

        first.kill(); // a crash: no clean exit
        QVERIFY(first.waitForFinished(10000));
        QProcess third;
        launch(third);
        QVERIFY(!third.waitForFinished(1500));
        QCOMPARE(third.state(), QProcess::Running);
        third.terminate();
        QVERIFY(third.waitForFinished(10000));
    }
};

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
