// Start-up, layout and closing of the console, on temporary copies of the
// demo data.

#include "ConsoleFixture.h"
#include "LogCapture.h"
#include "JournalTestSupport.h"
#include "NetworkGuard.h"
#include "NotifySocket.h"
#include "app/ConsoleApplication.h"
#include "app/TkrdoMF.h"
#include "calls/CallListLayout.h"
#include "link/UdpListener.h"
#include "plan/Ttable.h"
#include "settings/Settings.h"
#include "ui/Errors.h"
#include "ui/PictureControl.h"
#include "ui/TextLabel.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkDatagram>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QTranslator>
#include <QUdpSocket>

#include <csignal>

using namespace kalvora;
using namespace Qt::StringLiterals;
using kalvora::test::ConsoleFixture;
using kalvora::test::LogCapture;
using kalvora::test::NotifySocket;

namespace {

// Starts the real console: the executable, copied beside the fixture's
// settings file and data folder, with the environment given added.
void launchConsole(QProcess &p, const ConsoleFixture &f, const QMap<QString, QString> &env = {})
{
    const QString exe = f.dir() + QLatin1String("/kalvora");
    if (!QFile::exists(exe)) {
        QVERIFY(QFile::copy(QStringLiteral(KALVORA_EXE), exe));
        QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    e.insert(QStringLiteral("KALVORA_NONINTERACTIVE"), QStringLiteral("1"));
    e.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.multimedia*=false"));
    e.insert(QStringLiteral("XDG_RUNTIME_DIR"), f.dir());
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    p.setProcessEnvironment(e);
    p.setWorkingDirectory(f.dir());
    // Whatever this test runs under, the console gets the signals' defaults.
    p.setChildProcessModifier([] {
        for (const int signal : { SIGTERM, SIGHUP, SIGINT })
            ::signal(signal, SIG_DFL);
    });
    p.start(exe, {});
    QVERIFY(p.waitForStarted());
}

// Counts the console's pings: each one is a later turn of its event loop.
struct PingCounter {
    QUdpSocket socket;
    int seen = 0;
    int count()
    {
        while (socket.hasPendingDatagrams()) {
            socket.receiveDatagram();
            ++seen;
        }
        return seen;
    }
};

// Standard output of an X tool run on the given display.
QString xTool(const QString &display, const QString &program, const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// The numbers of a tool's output, in order.   "x: 40, 30" => {40, 30}
QList<int> numbersIn(const QString &text)
{
    QList<int> numbers;
    static const QRegularExpression number(QStringLiteral("-?\\d+"));
    for (const auto &m : number.globalMatch(text))
        numbers.append(m.captured().toInt());
    return numbers;
}

// A window's client area on the screen, from xwininfo.
QRect clientArea(const QString &display, const QString &window)
{
    const QString info =
        xTool(display, QStringLiteral("xwininfo"), { QStringLiteral("-id"), window });
    const auto value = [&](const char *name) {
        const QRegularExpression re(QLatin1String(name) + QLatin1String(":\\s*(-?\\d+)"));
        return re.match(info).captured(1).toInt();
    };
    return { value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"),
             value("Height") };
}

} // namespace

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
        const LogCapture log;
        TkrdoMF &w = f.start();
        QVERIFY(w.isinit);
        QCOMPARE(LogCapture::lines(),
                 QStringList({ QStringLiteral("kalvora.settings: Settings %1: FromServerPort=%2 "
                                              "ToServerPort=%3 redSec=20 maxSec=60")
                                   .arg(f.settingsFile())
                                   .arg(w.FromServerPort)
                                   .arg(w.ToServerPort),
                               QStringLiteral("kalvora.app: Data folder: ") + f.dataDir(),
                               QStringLiteral("kalvora.beds: 24 beds loaded from ")
                                   + f.dataFile(QStringLiteral("tables.txt")),
                               QStringLiteral("kalvora.link: Listening for the call server on "
                                              "UDP port %1")
                                   .arg(w.FromServerPort) }));

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
        QTest::addColumn<QString>("lastStep"); // the log's last line before the error
        QTest::addRow("no bed file") << "no-tables"
                                     << "Cannot open file"
                                     << "kalvora.app: Data folder:";
        QTest::addRow("bed line with a bad number") << "bad-line"
                                                    << "'4x' is not a valid integer value"
                                                    << "kalvora.app: Data folder:";
        QTest::addRow("bill picture that is no picture") << "bad-bill"
                                                         << "Could not load image. Invalid format"
                                                         << "kalvora.app: Data folder:";
        QTest::addRow("no idle picture for a kind") << "no-bed0"
                                                    << "Could not load image. Invalid format"
                                                    << "kalvora.app: Data folder:";
        QTest::addRow("listening port taken") << "port"
                                              << "UDP port"
                                              << "kalvora.beds: 24 beds loaded from";
        QTest::addRow("settings file cannot be written") << "settings"
                                                         << "Unable to write to"
                                                         << "";
        // Port 0 would let the system choose a random port, on which no server sends.
        QTest::addRow("listening port 0") << "0"
                                          << "FromServerPort"
                                          << "";
        QTest::addRow("listening port 65536, whose low 16 bits are 0") << "65536"
                                                                       << "FromServerPort"
                                                                       << "";
    }
    void failedStartUp_showsErrorAndLeavesFilesAlone()
    {
        QFETCH(QString, broken);
        QFETCH(QString, message);
        QFETCH(QString, lastStep);
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

        const LogCapture log;
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
        // The log says how far start-up came, and then the error, as shown.
        const QStringList lines = LogCapture::lines();
        QCOMPARE(lines.last(), QStringLiteral("kalvora.app: Error box: ") + m_boxes.first());
        QCOMPARE(lines.size() >= 2 ? lines[lines.size() - 2].left(lastStep.size()) : QString(),
                 lastStep);
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
        f.writeSettings({ { QStringLiteral("Journal/File"), QStringLiteral("journal.sqlite") } });
        const QString journal = f.dataFile(QStringLiteral("journal.sqlite"));
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
        // Nothing has ended: the call goes on in the journal too.
        QVERIFY(w.journal() && w.journal()->waitUntilWritten(std::chrono::seconds(10)));
        QCOMPARE(test::count(journal,
                             QStringLiteral("SELECT count(*) FROM calls WHERE ended_utc "
                                            "IS NULL")),
                 1);

        QVERIFY(QDir(f.dataFile(QStringLiteral("tables.bac"))).removeRecursively());
        QVERIFY(w.close());
        QCOMPARE(f.readFile(f.dataFile(QStringLiteral("tables.bac"))), before);
        QVERIFY(f.readFile(f.dataFile(QStringLiteral("tables.txt"))).contains(";Bed;"));
        QCOMPARE(test::query(journal,
                             QStringLiteral("SELECT group_concat(kind) AS kinds FROM (SELECT "
                                            "kind FROM events ORDER BY seq)")),
                 QList<QVariantMap>({ { { u"kinds"_s,
                                          u"console_started,beds_save_failed,"
                                          "beds_saved,console_closed"_s } } }));
    }

    // A journal that cannot be opened never stops the console: calls are
    // taken, and one line at the bottom of the call-list panel says what is
    // wrong, with the list's rows ending above it.
    void journalThatCannotBeOpened_consoleTakesCallsAndSaysSo_data()
    {
        QTest::addColumn<QString>("file"); // what File names
        QTest::addColumn<QString>("status");
        QTest::addRow("a folder") << "folder"
                                  << "Журнал вызовов не пишется: файл не удаётся открыть или "
                                     "создать. Вызовы принимаются; записи будут дописаны позже.";
        QTest::addRow("a file that is not a database")
            << "text"
            << "Журнал вызовов был повреждён: он сохранён как journal.sqlite.damaged-";
    }
    void journalThatCannotBeOpened_consoleTakesCallsAndSaysSo()
    {
        QFETCH(QString, file);
        QFETCH(QString, status);
        ConsoleFixture f;
        f.writeSettings({ { QStringLiteral("Journal/File"), QStringLiteral("journal.sqlite") } });
        const QString journal = f.dataFile(QStringLiteral("journal.sqlite"));
        if (file == u"folder") {
            QVERIFY(QDir().mkpath(journal));
        } else {
            QFile text(journal);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write(QByteArray("101;10;20;3;Bed;C\r\n").repeated(200));
        }
        TkrdoMF &w = f.start();
        QVERIFY(w.isinit);
        w.TimerPlus->stop();
        w.AddSinc(QStringLiteral("#101;8;Nurse;Bed"));
        QVERIFY(w.sl.find(QStringLiteral("101"))->isOn);
        QLabel *note = w.journalNote();
        QTRY_VERIFY_WITH_TIMEOUT(!note->isHidden(), 10000);
        QVERIFY2(note->text().startsWith(status), qPrintable(note->text()));
        QVERIFY(m_boxes.isEmpty());
        QCOMPARE(
            note->geometry(),
            QRect(w.iPanel->x(), w.height() - note->height(), w.iPanel->width(), note->height()));
        QVERIFY(note->height() >= w.ll->height());
        QVERIFY(w.maxn > 0);
        const qint32 lastRowBottom =
            rowTop(w.iPanel->y(), w.cy, w.maxn, w.l1->height(), w.dd) + w.l1->height();
        QVERIFY2(lastRowBottom <= note->y(), qPrintable(QString::number(lastRowBottom)));
        // The call's line is shown at once, above the note.
        QCOMPARE(w.sinc.at(0)->lastN, 1);
        w.TimerPlusTimer();
        QCOMPARE(w.sinc.at(0)->l3->text(), QStringLiteral("1 сек."));

        QVERIFY(w.close());
        if (file == u"text") {
            // Set aside, never written: the new journal has the call.
            const QStringList aside =
                QDir(f.dataDir())
                    .entryList({ QStringLiteral("journal.sqlite.damaged-*") }, QDir::Files);
            QCOMPARE(aside.size(), 1);
            QCOMPARE(f.readFile(f.dataFile(aside.first())),
                     QByteArray("101;10;20;3;Bed;C\r\n").repeated(200));
            QCOMPARE(test::count(journal, QStringLiteral("SELECT count(*) FROM calls")), 1);
        }
    }

    // A console killed outright with calls waiting: the next start with
    // RestoreCalls shows them again, their times going on from their start;
    // killed again, it shows them again as they were (acknowledged too);
    // after a clean close, nothing.
    void killedConsole_callsShownAgainAfterRestart()
    {
        ConsoleFixture f;
        const quint16 port = ConsoleFixture::freePort();
        f.writeSettings(
            { { QStringLiteral("Server/FromServerPort"), QString::number(port) },
              { QStringLiteral("Journal/File"), QStringLiteral("journal.sqlite") },
              { QStringLiteral("Journal/RestoreCalls"), QStringLiteral("1") },
              { QStringLiteral("Logic/redSec"), QStringLiteral("2") },
              { QStringLiteral("Logic/maxSec"), QStringLiteral("600") },
              { QStringLiteral("Safety/ClickAction"), QStringLiteral("acknowledge") } });
        const QString journal = f.dataFile(QStringLiteral("journal.sqlite"));
        const auto count = [&](const char *sql) {
            return test::count(journal, QString::fromLatin1(sql));
        };

        QProcess console;
        launchConsole(console, f);
        const auto stopConsole = qScopeGuard([&] {
            console.kill();
            console.waitForFinished(5000);
        });
        // Its journal is open once start-up has finished and it listens.
        QTRY_COMPARE_WITH_TIMEOUT(count("SELECT count(*) FROM runs"), 1, 10000);
        QUdpSocket server;
        const auto send = [&](const QByteArray &datagram) {
            QCOMPARE(server.writeDatagram(datagram, QHostAddress::LocalHost, port),
                     qint64(datagram.size()));
        };
        send("#101;8;Nurse A;Bed 1");
        QTRY_COMPARE_WITH_TIMEOUT(count("SELECT count(*) FROM calls WHERE overdue_utc > 0"), 1,
                                  10000);
        send("#102;4;Nurse B;Bed 2");
        send("#103;8;Nurse C;Bed 3");
        QTRY_COMPARE_WITH_TIMEOUT(count("SELECT count(*) FROM calls WHERE ended_utc IS NULL"), 3,
                                  10000);
        console.kill(); // kill -9
        QVERIFY(console.waitForFinished(10000));
        const auto firstRows =
            test::query(journal,
                        QStringLiteral("SELECT id, bed_code, started_utc, overdue_utc FROM calls "
                                       "ORDER BY seq"));
        QCOMPARE(firstRows.size(), 3);

        const QStringList codes { u"101"_s, u"102"_s, u"103"_s };
        const QStringList responsible { u"Nurse A"_s, u"Nurse B"_s, u"Nurse C"_s };
        const auto checkRestored = [&](TkrdoMF &w, qint64 before, bool acknowledged) {
            QTRY_COMPARE_WITH_TIMEOUT(w.sinc.size(), 3, 10000);
            const qint64 after = QDateTime::currentMSecsSinceEpoch();
            for (int i = 0; i < 3; ++i) {
                const tincoming &entry = *w.sinc.at(i);
                const Ttable &bed = *entry.table;
                QCOMPARE(w.sinc.keyAt(i), codes[i]);
                const qint64 start = firstRows[i][u"started_utc"_s].toLongLong();
                QVERIFY(bed.isOn);
                QVERIFY2(bed.curT >= (before - start) / 1000 && bed.curT <= (after - start) / 1000,
                         qPrintable(QString::number(bed.curT)));
                QCOMPARE(bed.isRed, bed.curT >= 2);
                QCOMPARE(bed.iB->isHidden(), i != 1); // 102's bill request
                // Listed at once, newest on top, its time going on.
                QCOMPARE(entry.lastN, 3 - i);
                QCOMPARE(entry.l1->text(),
                         (acknowledged && i == 1 ? u"✓ "_s : QString()) + responsible[i]);
                QCOMPARE(entry.l3->text(), SecondsToText(bed.curT));
            }
            QVERIFY(w.sl.find(u"101"_s)->isRed); // overdue before the kill
            QVERIFY(w.sounds().lastRequested().endsWith(u"/bill.wav")); // 103's, a type 8
        };

        qint64 before = QDateTime::currentMSecsSinceEpoch();
        TkrdoMF &second = f.start();
        QVERIFY(second.isinit && second.journal());
        second.TimerPlus->stop(); // the times as restored
        checkRestored(second, before, false);
        QVERIFY(second.journal()->waitUntilWritten(std::chrono::seconds(10)));
        const auto restored =
            test::query(journal,
                        QStringLiteral("SELECT restored_from, started_utc, overdue_utc FROM calls "
                                       "WHERE run_id = 2 ORDER BY seq"));
        QCOMPARE(restored.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(restored[i][u"restored_from"_s], firstRows[i][u"id"_s]);
            QCOMPARE(restored[i][u"started_utc"_s], firstRows[i][u"started_utc"_s]);
        }
        QCOMPARE(restored[0][u"overdue_utc"_s], firstRows[0][u"overdue_utc"_s]);
        QCOMPARE(count("SELECT count(*) FROM calls WHERE run_id = 1 AND end_reason = 'restored'"),
                 3);

        // Bed 102's call acknowledged; then this console ends without closing.
        second.curTable = second.sl.find(u"102"_s);
        second.FormMouseDown(Qt::LeftButton);
        QVERIFY(second.curTable->isOn);
        f.destroy();
        before = QDateTime::currentMSecsSinceEpoch();
        TkrdoMF &third = f.start();
        third.TimerPlus->stop();
        checkRestored(third, before, true);
        QVERIFY(third.close());
        QCOMPARE(count("SELECT count(*) FROM calls WHERE run_id = 3 AND end_reason = "
                       "'console_closed' AND (acknowledged_utc IS NULL) = (bed_code <> '102')"),
                 3);

        // Closed cleanly: nothing is left to restore.
        TkrdoMF &fourth = f.start();
        QVERIFY(fourth.journal()->waitUntilWritten(std::chrono::seconds(10)));
        QCoreApplication::processEvents();
        QCOMPARE(fourth.sinc.size(), 0);
        QCOMPARE(count("SELECT count(*) FROM runs"), 4);
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

    void sessionEnd_savesBedsOnceAndShowsNothing_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addRow("after a move") << "move";
        QTest::addRow("save fails") << "save fails";
        QTest::addRow("start-up failed") << "no start";
    }
    void sessionEnd_savesBedsOnceAndShowsNothing()
    {
        QFETCH(QString, situation);
        ConsoleFixture f;
        f.writeSettings();
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        const QString backup = f.dataFile(QStringLiteral("tables.bac"));
        if (situation == u"no start")
            f.writeBeds({ QStringLiteral("101;1;2;4x;a;b") });
        if (situation == u"save fails")
            QVERIFY(QDir().mkpath(backup)); // a folder in the backup's place
        const QByteArray before = f.readFile(tables);
        TkrdoMF &w = f.start();
        QCOMPARE(w.isinit, situation != u"no start");
        m_boxes.clear();
        if (w.isinit) {
            // A bed moved with the pointer: picked up, moved, put down.
            Ttable *b = w.sl.find(QStringLiteral("101"));
            w.nm1Click();
            w.FormMouseMove(b->dx, b->dy);
            w.FormMouseDown(Qt::LeftButton);
            w.FormMouseMove(600, 420);
            w.FormMouseDown(Qt::LeftButton);
            QCOMPARE(QPoint(b->dx, b->dy), QPoint(600, 420));
        }
        if (situation == u"save fails")
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("Cannot create file")));

        const Status error = w.saveAtSessionEnd();
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(u'\n')));
        if (situation == u"save fails") {
            QVERIFY(error && error->startsWith(QStringLiteral("Cannot create file")));
            QCOMPARE(f.readFile(tables), before);
            QVERIFY(w.isinit); // the session may go on, and so does the console
            return;
        }
        QVERIFY(!error);
        if (situation == u"no start") {
            QCOMPARE(f.readFile(tables), before);
            QVERIFY(!QFile::exists(backup));
            return;
        }
        const QByteArray saved = f.readFile(tables);
        QVERIFY(saved.startsWith("101;600;420;"));
        QCOMPARE(f.readFile(backup), before);
        // The window then closes (the session's end, or the operator): the
        // same beds are not written again, so the backup keeps the old file.
        QVERIFY(w.close());
        QCOMPARE(f.readFile(tables), saved);
        QCOMPARE(f.readFile(backup), before);
    }

    void endSignal_savesBedsAndEnds_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("situation");
        QTest::addColumn<bool>("supervised"); // started by the user unit
        QTest::addRow("SIGTERM") << int(SIGTERM) << "saves" << false;
        QTest::addRow("SIGHUP") << int(SIGHUP) << "saves" << false;
        QTest::addRow("SIGINT") << int(SIGINT) << "saves" << false;
        QTest::addRow("SIGTERM, the save fails") << int(SIGTERM) << "save fails" << false;
        QTest::addRow("SIGTERM, start-up failed") << int(SIGTERM) << "no start" << false;
        QTest::addRow("the unit stopped") << int(SIGTERM) << "saves" << true;
        // The box of the failed step stays open, as on a ward PC.
        QTest::addRow("the unit stopped, start-up failed") << int(SIGTERM) << "box" << true;
    }
    void endSignal_savesBedsAndEnds()
    {
        QFETCH(int, signal);
        QFETCH(QString, situation);
        QFETCH(bool, supervised);
        ConsoleFixture f;
        PingCounter pings;
        QVERIFY(pings.socket.bind(QHostAddress::AnyIPv4, 0));
        const quint16 port = ConsoleFixture::freePort();
        f.writeSettings(
            { { QStringLiteral("Server/FromServerPort"), QString::number(port) },
              { QStringLiteral("Server/ToServerPort"), QString::number(pings.socket.localPort()) },
              { QStringLiteral("Journal/File"), QStringLiteral("journal.sqlite") } });
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        const QString backup = f.dataFile(QStringLiteral("tables.bac"));
        const QString journal = f.dataFile(QStringLiteral("journal.sqlite"));
        const bool started = situation == u"saves" || situation == u"save fails";
        if (!started)
            f.writeBeds({ QStringLiteral("101;1;2;4x;a;b") });
        if (situation == u"save fails")
            QVERIFY(QDir().mkpath(backup));
        const QByteArray before = f.readFile(tables);

        // The service manager's socket, and a watchdog fed every 200 ms.
        NotifySocket manager;
        QMap<QString, QString> unit;
        if (supervised)
            unit = { { QStringLiteral("NOTIFY_SOCKET"), manager.path() },
                     { QStringLiteral("WATCHDOG_USEC"), QStringLiteral("400000") } };
        if (situation == u"box")
            unit.insert(QStringLiteral("KALVORA_NONINTERACTIVE"), QStringLiteral("0"));
        QStringList told;
        const auto toldStates = [&] {
            told += manager.take();
            QStringList states = told;
            states.removeDuplicates();
            return states;
        };
        QProcess console;
        launchConsole(console, f, unit);
        QTRY_VERIFY_WITH_TIMEOUT(pings.count() > 0, 10000); // its event loop runs
        if (supervised) {
            const QString status = started
                ? QStringLiteral("Listening on UDP port %1, 24 beds").arg(port)
                : QStringLiteral("Start-up failed: no calls are received (the error is in the "
                                 "journal)");
            QTRY_COMPARE_WITH_TIMEOUT(toldStates(),
                                      QStringList({ QStringLiteral("READY=1\nSTATUS=") + status,
                                                    QStringLiteral("WATCHDOG=1") }),
                                      5000);
        }
        // A change that only a save keeps; two pings later it has been handled.
        QUdpSocket server;
        server.writeDatagram("#101;0;;Renamed", QHostAddress::LocalHost, port);
        server.writeDatagram("#102;8;Nurse;Bed 2", QHostAddress::LocalHost, port); // waits
        const int sent = pings.count();
        QTRY_VERIFY_WITH_TIMEOUT(pings.count() >= sent + 2, 5000);

        QCOMPARE(::kill(pid_t(console.processId()), signal), 0);
        QVERIFY(console.waitForFinished(10000));
        const QString errors = QString::fromLocal8Bit(console.readAllStandardError());
        if (situation == u"box") {
            // The console takes the signals over once start-up is over: until
            // then a signal ends it at once, with nothing to save.
            QCOMPARE(console.exitStatus(), QProcess::CrashExit);
            QCOMPARE(told.last(), QStringLiteral("WATCHDOG=1"));
        } else {
            QCOMPARE(console.exitStatus(), QProcess::NormalExit);
            QCOMPARE(console.exitCode(), 0);
            if (supervised)
                QCOMPARE(toldStates().last(), QStringLiteral("STOPPING=1"));
        }
        // Start-up and saving are logged, the event datagram is not.
        QVERIFY2(!errors.contains(QStringLiteral("Renamed")), qPrintable(errors));
        QCOMPARE(errors.contains(QStringLiteral("kalvora.service: Supervised: the watchdog waits "
                                                "400 ms, fed every 200 ms\n")),
                 supervised);
        if (!started)
            QVERIFY2(
                errors.contains(QStringLiteral("kalvora.app: warning: Error box: '4x' is not"))
                    && errors.contains(QStringLiteral("kalvora.app: warning: Start-up failed")),
                qPrintable(errors));
        else
            QVERIFY2(errors.contains(QStringLiteral("kalvora.beds: 24 beds loaded from")),
                     qPrintable(errors));
        if (situation == u"saves") {
            QVERIFY2(errors.contains(QStringLiteral("kalvora.beds: 24 beds saved to ")
                                     + QDir(f.dataDir()).canonicalPath()),
                     qPrintable(errors));
            QVERIFY(f.readFile(tables).startsWith("101;"));
            QVERIFY(f.readFile(tables).contains(";Renamed;"));
            QCOMPARE(f.readFile(backup), before);
        } else if (situation == u"save fails") {
            QCOMPARE(f.readFile(tables), before);
            QVERIFY2(errors.contains(QStringLiteral("could not be saved"))
                         && errors.contains(QStringLiteral("Cannot create file")),
                     qPrintable(errors));
        } else {
            QCOMPARE(f.readFile(tables), before);
            QVERIFY(!QFile::exists(backup));
            QVERIFY(!QFile::exists(journal)); // only a console that takes calls keeps one
            return;
        }
        // An end, not a crash: the waiting call ends with the console, and the
        // journal has it all.
        QCOMPARE(test::query(journal, QStringLiteral("SELECT bed_code, end_reason FROM calls")),
                 QList<QVariantMap>({ { { u"bed_code"_s, u"102"_s },
                                        { u"end_reason"_s, u"console_closed"_s } } }));
        QCOMPARE(test::count(journal,
                             QStringLiteral("SELECT count(*) FROM runs WHERE end_kind = "
                                            "'closed'")),
                 1);
        QCOMPARE(test::count(
                     journal,
                     QStringLiteral("SELECT count(*) FROM events WHERE kind = ")
                         + (situation == u"saves" ? u"'beds_saved'"_s : u"'beds_save_failed'"_s)),
                 1);
    }

    void underAWindowManager_frameFillsWorkArea_moveSurvivesSIGTERM()
    {
        QMap<QString, QString> tools;
        for (const char *name : { "Xvfb", "openbox", "xdotool", "xprop", "xwininfo" }) {
            tools[QLatin1String(name)] = QStandardPaths::findExecutable(QLatin1String(name));
            if (tools[QLatin1String(name)].isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/deps.sh installs it)")
                                     .arg(QLatin1String(name))));
        }
        ConsoleFixture f;
        f.writeSettings();
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        const QByteArray before = f.readFile(tables);
        // A work area smaller than the screen, as with a panel on two edges.
        const QString rc = f.dir() + QLatin1String("/openbox.xml");
        {
            QFile file(rc);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("<?xml version=\"1.0\"?>\n"
                       "<openbox_config xmlns=\"http://openbox.org/3.4/rc\">\n"
                       "  <margins><top>30</top><bottom>10</bottom><left>40</left>"
                       "<right>0</right></margins>\n"
                       "</openbox_config>\n");
        }

        QProcess xvfb;
        xvfb.start(tools[QStringLiteral("Xvfb")],
                   { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("1600x900x24"),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp") });
        const auto stopXvfb = qScopeGuard([&] {
            xvfb.terminate();
            xvfb.waitForFinished(5000);
        });
        QVERIFY(xvfb.waitForReadyRead(10000));
        const QString display = u':' + QString::fromLatin1(xvfb.readLine().trimmed());
        QProcess wm;
        QProcessEnvironment wmEnv = QProcessEnvironment::systemEnvironment();
        wmEnv.insert(QStringLiteral("DISPLAY"), display);
        wm.setProcessEnvironment(wmEnv);
        // The server takes connections a moment after it names its display on
        // a busy machine; a window manager started too early gives up.
        QTRY_VERIFY_WITH_TIMEOUT(
            xTool(display, tools[QStringLiteral("xprop")], { QStringLiteral("-root") }).size() > 0,
            20000);
        const auto startWm = [&] {
            wm.start(tools[QStringLiteral("openbox")], { QStringLiteral("--config-file"), rc });
            return true;
        };
        startWm();
        const auto stopWm = qScopeGuard([&] {
            if (QTest::currentTestFailed())
                qWarning(
                    "display %s, window manager: %s", qPrintable(display),
                    QByteArray(wm.readAllStandardOutput() + wm.readAllStandardError()).constData());
            wm.terminate();
            wm.waitForFinished(5000);
        });
        const auto workArea = [&] {
            const QList<int> n =
                numbersIn(xTool(display, QStringLiteral("xprop"),
                                { QStringLiteral("-root"), QStringLiteral("_NET_WORKAREA") }));
            return n.size() >= 4 ? QRect(n[0], n[1], n[2], n[3]) : QRect();
        };
        QTRY_COMPARE_WITH_TIMEOUT(
            (wm.state() == QProcess::NotRunning && startWm()) ? QRect() : workArea(),
            QRect(40, 30, 1560, 860), 20000);

        QProcess console;
        launchConsole(console, f,
                      { { QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb") },
                        { QStringLiteral("DISPLAY"), display } });
        const auto stopConsole = qScopeGuard([&] {
            if (console.state() != QProcess::NotRunning) {
                console.kill();
                console.waitForFinished(5000);
            }
        });
        const auto windows = [&] {
            return xTool(display, QStringLiteral("xdotool"),
                         { QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--pid"), QString::number(console.processId()) })
                .split(u'\n', Qt::SkipEmptyParts);
        };
        QTRY_COMPARE_WITH_TIMEOUT(windows().size(), 1, 10000);
        const QString window = windows().first();

        // The frame, title bar included, fills the work area exactly.
        const auto frame = [&] {
            const QList<int> e = numbersIn(
                xTool(display, QStringLiteral("xprop"),
                      { QStringLiteral("-id"), window, QStringLiteral("_NET_FRAME_EXTENTS") }));
            if (e.size() != 4) // left, right, top, bottom
                return QRect();
            return clientArea(display, window).adjusted(-e[0], -e[2], e[1], e[3]);
        };
        QTRY_COMPARE_WITH_TIMEOUT(frame(), workArea(), 10000);
        const QRect client = clientArea(display, window);
        QVERIFY(client.top() > 30); // the title bar lies on the screen

        // A bed moved the operator's way, through the plan's menu.
        const auto xdotool = [&](const QStringList &args) {
            xTool(display, QStringLiteral("xdotool"), args);
        };
        const auto at = [&](QPoint p) {
            p += client.topLeft();
            return QStringList { QStringLiteral("mousemove"), QString::number(p.x()),
                                 QString::number(p.y()) };
        };
        const auto title = [&] {
            return xTool(display, QStringLiteral("xdotool"),
                         { QStringLiteral("getwindowname"), window })
                .trimmed();
        };
        const auto menuCommand = [&](const QString &titleAfter) {
            xdotool(at({ 650, 420 }) << QStringLiteral("click") << QStringLiteral("3"));
            QTRY_COMPARE_WITH_TIMEOUT(windows().size(), 2, 5000);
            QString menu = windows().first() == window ? windows().last() : windows().first();
            const QRect area = clientArea(display, menu);
            // Its first item: "Перемещение объектов".
            xdotool({ QStringLiteral("mousemove"), QString::number(area.center().x()),
                      QString::number(area.top() + 10), QStringLiteral("click"),
                      QStringLiteral("1") });
            QTRY_COMPARE_WITH_TIMEOUT(title(), titleAfter, 5000);
        };
        menuCommand(QStringLiteral("Kalvora: Режим перетаскивания коек."));
        xdotool(at({ 307, 96 }) << QStringLiteral("click")
                                << QStringLiteral("1")); // bed 101's icon
        xdotool(at({ 600, 420 }) << QStringLiteral("click") << QStringLiteral("1"));
        // Out of move mode again: every event before has been handled.
        menuCommand(QStringLiteral("Kalvora."));

        QCOMPARE(::kill(pid_t(console.processId()), SIGTERM), 0);
        QVERIFY(console.waitForFinished(10000));
        QVERIFY2(console.exitCode() == 0, console.readAllStandardError().right(4000).constData());
        QVERIFY2(f.readFile(tables).startsWith("101;600;420;"), f.readFile(tables).left(40));
        QCOMPARE(f.readFile(f.dataFile(QStringLiteral("tables.bac"))), before);
    }

    void qtTranslation_makesQtsOwnTextsRussian_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("text");
        QTest::addRow("Cancel button of the delete question") << "box"
                                                              << "Отмена";
        QTest::addRow("Undo in an edit field's menu") << "edit"
                                                      << "&Отменить действие";
        QTest::addRow("Select All in an edit field's menu") << "edit"
                                                            << "Выделить всё";
    }
    void qtTranslation_makesQtsOwnTextsRussian()
    {
        QFETCH(QString, where);
        QFETCH(QString, text);
        QTranslator translator;
        QVERIFY(loadQtTranslation(translator));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        const auto remove = qScopeGuard([&] { QCoreApplication::removeTranslator(&translator); });
        QStringList texts;
        if (where == u"box") {
            // As the delete question is made.
            QMessageBox box(QMessageBox::Question, QStringLiteral("?"), QStringLiteral("?"),
                            QMessageBox::Ok | QMessageBox::Cancel);
            for (const QAbstractButton *button : box.buttons())
                texts.append(button->text());
        } else {
            QLineEdit edit;
            const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
            for (const QAction *action : menu->actions())
                texts.append(action->text().section(u'\t', 0, 0)); // without the shortcut
        }
        QVERIFY2(texts.contains(text), qPrintable(texts.join(u'|')));
    }
};

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
