// Starting the console on broken files: a settings folder it cannot write on
// the first start, settings files with every kind of bad value, and missing,
// truncated or corrupt pictures and sounds. The console never crashes: it
// starts with defaults where values are bad, or reports the documented error;
// and where a calling or overdue picture is unusable, calls still work.

#include "ConsoleFixture.h"
#include "FaultSupport.h"
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
#include <QStringEncoder>
#include <QTest>
#include <QUdpSocket>

#include <climits>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace kalvora;
using namespace kalvora::test;

namespace {

QString str(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// Damage done to a data file.
QByteArray damaged(const QByteArray &original, const QString &damage)
{
    if (damage == u"empty")
        return {};
    if (damage == u"header only")
        return original.left(16);
    if (damage == u"cut in half")
        return original.left(original.size() / 2);
    if (damage == u"garbage") {
        QByteArray junk;
        for (int i = 0; i < 4096; ++i)
            junk += char((i * 7919 + 13) % 251);
        return junk;
    }
    if (damage == u"text")
        return "not a picture or a sound\r\n";
    return original;
}

// Puts a special file in a file's place: "FIFO" (which would block open()),
// "link to /dev/zero" (which would be read until memory runs out), "device"
// (a node of /dev/zero's numbers, root only) or "link" (to a copy of the file
// beside it). Empty, or why it could not.
QString makeSpecial(const QString &path, const QString &kind)
{
    const QByteArray name = QFile::encodeName(path);
    if (QFile::exists(path) && kind == u"link"
        && !QFile::rename(path, path + QLatin1String(".elsewhere")))
        return QStringLiteral("cannot move the file aside");
    QFile::remove(path);
    if (kind == u"FIFO")
        return ::mkfifo(name.constData(), 0644) == 0 ? QString() : QStringLiteral("no FIFO");
    if (kind == u"link to /dev/zero")
        return QFile::link(QStringLiteral("/dev/zero"), path) ? QString()
                                                              : QStringLiteral("no link");
    if (kind == u"link")
        return QFile::link(path + QLatin1String(".elsewhere"), path) ? QString()
                                                                     : QStringLiteral("no link");
    if (kind == u"device")
        return ::mknod(name.constData(), S_IFCHR | 0644, makedev(1, 5)) == 0
            ? QString()
            : QStringLiteral("no device node (needs root)");
    return QStringLiteral("unknown kind");
}

} // namespace

class TestStartFaults : public QObject {
    Q_OBJECT

    QStringList m_boxes;

    // The console takes a call, shows it, ticks it overdue and ends it.
    void verifyCallsWork(TkrdoMF &w, const QString &code)
    {
        w.TimerPlus->stop(); // ticks by hand
        Ttable *bed = w.sl.find(code);
        QVERIFY(bed);
        QUdpSocket server;
        QVERIFY(server.writeDatagram(QString(u'#' + code + str(";8;Сестра;Палата")).toUtf8(),
                                     QHostAddress::LocalHost, w.IdUDPServer1->port())
                > 0);
        QTRY_VERIFY(bed->isOn);
        QCOMPARE(w.sinc.size(), 1);
        QCOMPARE(w.sinc.at(0)->table, bed);
        for (int t = 1; t <= w.redSec; ++t)
            guarded([&] { w.TimerPlusTimer(); });
        QVERIFY(bed->isRed);
        QCOMPARE(bed->curT, w.redSec);
        QVERIFY(w.sinc.at(0)->l3->text().contains(str("сек.")));
        for (int t = w.redSec; t <= w.maxSec; ++t)
            guarded([&] { w.TimerPlusTimer(); });
        QVERIFY(!bed->isOn);
        QCOMPARE(w.sinc.size(), 0);
        QCOMPARE(bed->iT->holder().picture(), w.iTable[size_t(bed->imagenumber)].picture());
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

    void unwritableSettingsFolderAtFirstStart_reportsAndLeavesFilesAlone()
    {
        // A first start listens on the default port: in a network of its own,
        // so that it takes the port from no other test.
        if (!inChildMountNamespace()) {
            if (!mountNamespaceAvailable())
                QSKIP("this system allows no private namespaces (unshare)");
            const ChildRun run = runChildInMountNamespace(
                QStringLiteral("unwritableSettingsFolderAtFirstStart_reportsAndLeavesFilesAlone"),
                true);
            QVERIFY2(run.exitCode == 0, run.output.constData());
            return;
        }
        ConsoleFixture f;
        const QString folder = f.dir() + QLatin1String("/etc");
        QVERIFY(QDir().mkpath(folder));
        const QString settings = folder + QLatin1String("/kalvora.ini");
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        const QByteArray before = readAll(tables);
        {
            FolderWriteLock lock(folder);
            if (!lock.engaged())
                QSKIP("this process can write to a folder without write permission");
            TkrdoMF w({ settings, f.dataDir() });
            w.FormCreate();
            QVERIFY(!w.isinit);
            QCOMPARE(m_boxes,
                     QStringList { QStringLiteral("Unable to write to ") + settings + u'.' });
            QVERIFY(!QFile::exists(settings));
            QVERIFY(!w.IdUDPServer1->isActive());
            QVERIFY(w.sl.isEmpty());
            QVERIFY(w.close());
        }
        QCOMPARE(readAll(tables), before);
        QVERIFY(!QFile::exists(f.dataFile(QStringLiteral("tables.bac"))));

        // Writable again: the next first start writes the settings file.
        m_boxes.clear();
        TkrdoMF w({ settings, f.dataDir() });
        w.FormCreate();
        QVERIFY2(w.isinit, qPrintable(m_boxes.join(u'\n')));
        QVERIFY(readAll(settings).startsWith("[Server]\n"));
    }

    void brokenSettings_startWithDefaults_data()
    {
        QTest::addColumn<QByteArray>("ini"); // %PORT% stands for a free listening port
        QTest::addColumn<int>("redSec");
        QTest::addColumn<int>("maxSec");
        QTest::addColumn<int>("cx");
        QTest::addColumn<int>("dd");
        QTest::addColumn<int>("minl");
        QTest::addColumn<QString>("cs1");

        const QString cs1 = str("Ответственный");
        const QByteArray server = "[Server]\nFromServerPort=%PORT%\nToServerPort=%PORT%\n";
        QTest::addRow("garbage numbers") << server
                + "[Logic]\nredSec=twenty\nmaxSec=6O\n[Visualization]\ncx=12px\ndd=--5\nminl=1e3\n"
                                         << 20 << 60 << 20 << 5 << 500 << cs1;
        QTest::addRow("decimal numbers past 32 bits") << server
                + "[Logic]\nredSec=99999999999\nmaxSec=2147483648\n[Visualization]\ncx=-"
                  "2147483649\n"
                  "dd=18446744073709551617\nminl=000000000000000000000000000600\n"
                                                      << 20 << 60 << 20 << 5 << 600 << cs1;
        QTest::addRow("hexadecimal past 32 bits") << server
                + "[Logic]\nredSec=$100000000\nmaxSec=0x1FFFFFFFF\n[Visualization]\ncx=x123456789\n"
                  "dd=$FFFFFFFFF\nminl=0x\n" << 20 << 60
                                                  << 20 << 5 << 500 << cs1;
        QTest::addRow("hexadecimal that fits")
            << server + "[Logic]\nredSec=$1F\nmaxSec=0X7f\n[Visualization]\ncx=-x10\ndd=$FFFFFFFF\n"
            << 31 << 127 << -16 << -1 << 500 << cs1;
        QTest::addRow("binary junk in values and lines")
            << server
                + "[Logic]\nredSec=\x01\x02\xff\xfe\x80\nmaxSec=\x7f\x9f\n\xc3\x28\xa0\xa1="
                  "\xe2\x28\n"
                  "[Visualization]\ncs1=\xff\xfe\x01\n"
            // Not UTF-8, so read as Windows-1251: 0xFF is "я", 0xFE "ю".
            << 20 << 60 << 20 << 5 << 500 << QString(QChar(0x44f)) + QChar(0x44e) + QChar(1);
        QTest::addRow("missing sections") << server << 20 << 60 << 20 << 5 << 500 << cs1;
        QTest::addRow("values outside any section")
            << "redSec=5\nmaxSec=6\n" + server << 20 << 60 << 20 << 5 << 500 << cs1;
        QTest::addRow("duplicate keys and sections") << server
                + "[Logic]\nredSec=7\nredSec=8\n[Visualization]\ncx=1\n[logic]\nmaxSec=9\n"
                  "[Visualization]\ncx=2\ndd=3\n" << 7
                                                     << 9 << 1 << 3 << 500 << cs1;
        QTest::addRow("broken section headers")
            << server + "[Logic\nredSec=7\n[]\nmaxSec=8\n]Logic[\nmaxSec=9\n"
            << 20 << 60 << 20 << 5 << 500 << cs1;
        QTest::addRow("spaces and quotes around numbers")
            << server + "[Logic]\n redSec = \" 9\" \nmaxSec=\"70 \"\n[Visualization]\ncx=\"\"\n"
            << 9 << 60 << 20 << 5 << 500 << cs1;
        QTest::addRow("a title far too long")
            << server + "[Visualization]\ncs1=" + QByteArray(100000, 'W') + "\n"
            << 20 << 60 << 20 << 5 << 500 << QString(kMaxSettingLength, u'W');
        QTest::addRow("extreme but valid numbers")
            << server
                + "[Logic]\nredSec=-2147483648\nmaxSec=2147483647\n[Visualization]\n"
                  "cx=2147483647\ncy=-2147483648\ncw1=2147483647\ncw2=-2147483648\n"
                  "minl=2147483647\ndd=-2147483648\nbdx=2147483647\nbdy=-2147483648\n"
            << int(INT_MIN) << int(INT_MAX) << int(INT_MAX) << int(INT_MIN) << int(INT_MAX) << cs1;
        QTest::addRow("zero and negative timings")
            << server + "[Logic]\nredSec=0\nmaxSec=-1\n[Visualization]\ndd=-19\n"
            << 0 << -1 << 20 << -19 << 500 << cs1;
        // Files in which no port survives: the console listens on the default.
        QTest::addRow("empty file") << QByteArray() << 20 << 60 << 20 << 5 << 500 << cs1;
        QTest::addRow("UTF-16 without byte-order mark") << QByteArray(
            QStringEncoder(QStringEncoder::Utf16LE).encode(QStringLiteral("[Logic]\nredSec=7\n")))
                                                        << 20 << 60 << 20 << 5 << 500 << cs1;
        QTest::addRow("NUL before the values")
            << QByteArray("[Logic]\n\0redSec=7\n", 17) << 20 << 60 << 20 << 5 << 500 << cs1;
    }
    void brokenSettings_startWithDefaults()
    {
        QFETCH(QByteArray, ini);
        QFETCH(int, redSec);
        QFETCH(int, maxSec);
        QFETCH(int, cx);
        QFETCH(int, dd);
        QFETCH(int, minl);
        QFETCH(QString, cs1);
        const bool ownPort = ini.contains("%PORT%");
        // A file without a port makes the console listen on the default one:
        // in a network of its own, so that it takes the port from no other test.
        if (!ownPort && !inChildMountNamespace()) {
            if (!mountNamespaceAvailable())
                QSKIP("this system allows no private namespaces (unshare)");
            const ChildRun run =
                runChildInMountNamespace(QStringLiteral("brokenSettings_startWithDefaults:")
                                             + QString::fromUtf8(QTest::currentDataTag()),
                                         true);
            QVERIFY2(run.exitCode == 0, run.output.constData());
            QVERIFY2(
                run.output.contains("PASS   : TestStartFaults::brokenSettings_startWithDefaults("),
                run.output.constData());
            return;
        }
        ConsoleFixture f;
        const quint16 port = ConsoleFixture::freePort();
        QVERIFY(writeAll(f.settingsFile(),
                         QByteArray(ini).replace("%PORT%", QByteArray::number(port))));

        TkrdoMF &w = f.start();
        QVERIFY2(w.isinit, qPrintable(m_boxes.join(u'\n')));
        QCOMPARE(w.redSec, redSec);
        QCOMPARE(w.maxSec, maxSec);
        QCOMPARE(w.cx, cx);
        QCOMPARE(w.dd, dd);
        QCOMPARE(w.minl, minl);
        QCOMPARE(w.cs1, cs1);
        QCOMPARE(w.cl1->text(), cs1);
        QCOMPARE(w.FromServerPort, ownPort ? port : quint16(5567));
        QCOMPARE(w.sl.size(), 24);
        QVERIFY(m_boxes.isEmpty());

        // Calls are taken, listed and ticked with these values.
        w.TimerPlus->stop();
        w.AddSinc(QStringLiteral("#101;4;Сестра;Палата"));
        QVERIFY(w.sl.find(QStringLiteral("101"))->isOn);
        QCOMPARE(w.sinc.size(), 1);
        for (int t = 0; t < 3; ++t)
            QVERIFY(guarded([&] { w.TimerPlusTimer(); }));
        w.resize(800, 600);
        QVERIFY(w.close());
        QVERIFY(loadBeds(f.dataDir()).ok());
    }

    void damagedDataFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>(
            "damage"); // missing, empty, header only, cut in half, garbage, text
        QTest::addColumn<QString>("outcome"); // starts, error (the documented one), either

        const QStringList damages = {
            QStringLiteral("missing"),          QStringLiteral("empty"),
            QStringLiteral("header only"),      QStringLiteral("cut in half"),
            QStringLiteral("garbage"),          QStringLiteral("FIFO"),
            QStringLiteral("link to /dev/zero")
        };
        // A FIFO or a link to /dev/zero is never opened: for a picture it is a
        // file that cannot be opened (the holder keeps what it had: nothing
        // for a kind's picture, the built-in bill for bill.gif), for a sound
        // one that cannot be played (the alert).
        const auto rows = [&](const char *file, const char *missing, const char *broken,
                              const char *half, const char *special) {
            for (const QString &damage : damages) {
                const char *outcome = damage == u"missing"                     ? missing
                    : damage == u"cut in half"                                 ? half
                    : damage.startsWith(u"FIFO") || damage.startsWith(u"link") ? special
                                                                               : broken;
                QTest::addRow("%s %s", file, qPrintable(damage))
                    << QString::fromLatin1(file) << damage << QString::fromLatin1(outcome);
            }
        };
        rows("plan.jpg", "starts", "starts", "starts", "starts");
        rows("panel.jpg", "starts", "starts", "starts", "starts");
        rows("bill.gif", "starts", "error", "either", "starts");
        rows("bed0.gif", "error", "error", "either", "error"); // kind 0 has beds
        // Missing, kind 0's picture stands in; present, it is used.
        rows("bed3.gif", "starts", "error", "either", "error");
        rows("greenbed3.gif", "starts", "starts", "starts", "starts");
        rows("redbed3.gif", "starts", "starts", "starts", "starts");
        rows("greenbed0.gif", "starts", "starts", "starts", "starts");
        rows("call.wav", "starts", "starts", "starts", "starts");
        rows("bill.wav", "starts", "starts", "starts", "starts");
    }
    void damagedDataFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, damage);
        QFETCH(QString, outcome);
        ConsoleFixture f;
        f.writeSettings();
        const QString path = f.dataFile(file);
        const QString tables = f.dataFile(QStringLiteral("tables.txt"));
        const QByteArray before = readAll(tables);
        if (damage == u"missing")
            QVERIFY(QFile::remove(path));
        else if (damage == u"FIFO" || damage.startsWith(u"link"))
            QCOMPARE(makeSpecial(path, damage), QString());
        else
            QVERIFY(writeAll(path, damaged(readAll(path), damage)));

        TkrdoMF &w = f.start();
        if (outcome == u"error" || (outcome == u"either" && !w.isinit)) {
            QVERIFY(!w.isinit);
            QCOMPARE(m_boxes,
                     QStringList { QStringLiteral("Could not load image. Invalid format.") });
            QVERIFY(w.close());
            QCOMPARE(readAll(tables), before);
            QVERIFY(!QFile::exists(f.dataFile(QStringLiteral("tables.bac"))));
            return;
        }
        QVERIFY2(w.isinit, qPrintable(m_boxes.join(u'\n')));
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(u'\n')));
        QCOMPARE(w.sl.size(), 24);

        // Bed 101 is of kind 3, bed 102 of kind 0.
        const QString code = file.contains(u'0') ? QStringLiteral("102") : QStringLiteral("101");
        verifyCallsWork(w, code);
        // An unusable overdue picture is reported when the bed
        // would show it: once, when the call turns overdue; a calling
        // picture fails inside the datagram's handling, which stays silent.
        const bool overdueBroken = file.startsWith(QLatin1String("redbed")) && damage != u"missing"
            && damage != u"cut in half";
        if (overdueBroken)
            QCOMPARE(m_boxes,
                     QStringList { QStringLiteral("Could not load image. Invalid format.") });
        else
            QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(u'\n')));

        // The sounds: a missing file is silent, a broken one gives the alert.
        const int alerts = w.sounds().alerts();
        w.AddSinc(QStringLiteral("#103;4;Сестра;Палата"));
        w.AddSinc(QStringLiteral("#104;8;Сестра;Палата"));
        QVERIFY(w.sl.find(QStringLiteral("103"))->isOn);
        QVERIFY(w.sl.find(QStringLiteral("104"))->isOn);
        if (file.endsWith(QLatin1String(".wav"))) {
            if (damage == u"missing")
                QCOMPARE(w.sounds().alerts(), alerts);
            else
                QTRY_VERIFY(w.sounds().alerts() > alerts);
        }
        QVERIFY(w.close());
        QVERIFY(loadBeds(f.dataDir()).ok());
    }

    void specialBedOrSettingsFile_neitherHangsNorFillsMemory_data()
    {
        QTest::addColumn<QString>("file"); // in the fixture's folder
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason"); // of the start-up error; empty: starts with defaults
        const QString notRegular = QStringLiteral("Is not a regular file");
        const QString link = QStringLiteral("Is a symbolic link");
        QTest::addRow("bed file: FIFO") << "data/tables.txt"
                                        << "FIFO" << notRegular;
        QTest::addRow("bed file: device") << "data/tables.txt"
                                          << "device" << notRegular;
        QTest::addRow("bed file: link to /dev/zero") << "data/tables.txt"
                                                     << "link to /dev/zero" << link;
        QTest::addRow("bed file: link to a bed file") << "data/tables.txt"
                                                      << "link" << link;
        QTest::addRow("settings file: FIFO") << "kalvora.ini"
                                             << "FIFO" << QString();
        QTest::addRow("settings file: link to /dev/zero") << "kalvora.ini"
                                                          << "link to /dev/zero" << QString();
    }
    void specialBedOrSettingsFile_neitherHangsNorFillsMemory()
    {
        QFETCH(QString, file);
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        // With the settings unread the console listens on the default port:
        // in a network of its own, so that it takes the port from no other test.
        if (reason.isEmpty() && !inChildMountNamespace()) {
            if (!mountNamespaceAvailable())
                QSKIP("this system allows no private namespaces (unshare)");
            const ChildRun run = runChildInMountNamespace(
                QStringLiteral("specialBedOrSettingsFile_neitherHangsNorFillsMemory:")
                    + QString::fromUtf8(QTest::currentDataTag()),
                true);
            QVERIFY2(run.exitCode == 0, run.output.constData());
            QVERIFY2(run.output.contains("PASS   : TestStartFaults::specialBedOrSettingsFile_"),
                     run.output.constData());
            return;
        }
        ConsoleFixture f;
        f.writeSettings();
        const QString path = f.dir() + u'/' + file;
        if (const QString why = makeSpecial(path, kind); !why.isEmpty())
            QSKIP(qPrintable(why));

        TkrdoMF &w = f.start(); // returns: nothing blocks, nothing is read without end
        if (reason.isEmpty()) {
            QVERIFY2(w.isinit, qPrintable(m_boxes.join(u'\n')));
            QCOMPARE(w.FromServerPort, quint16(5567));
            QCOMPARE(w.redSec, 20);
            QCOMPARE(w.sl.size(), 24);
            QVERIFY(w.close());
            QVERIFY(loadBeds(f.dataDir()).ok());
            return;
        }
        QVERIFY(!w.isinit);
        QCOMPARE(m_boxes, QStringList { u"Cannot open file \"" + path + u"\". " + reason + u'.' });
        QVERIFY(w.close());
        // Nothing written at closing: the special file is still what it was.
        QVERIFY(!QFile::exists(f.dataFile(QStringLiteral("tables.bac"))));
        QCOMPARE(QFileInfo(path).isSymLink(), kind.startsWith(u"link"));
        QVERIFY(!QFileInfo(path).isFile() || QFileInfo(path).isSymLink());
    }

    void callWithUnusableCallingPicture_isStillListedAndHeard()
    {
        ConsoleFixture f;
        f.writeSettings();
        QVERIFY(writeAll(f.dataFile(QStringLiteral("greenbed3.gif")), "GIF89a broken"));
        TkrdoMF &w = f.start();
        QVERIFY(w.isinit);
        const int sounds = w.sounds().requests();
        QUdpSocket server;
        QVERIFY(
            server.writeDatagram("#101;4;Сестра;Палата", QHostAddress::LocalHost, w.FromServerPort)
            > 0);
        Ttable *bed = w.sl.find(QStringLiteral("101"));
        QTRY_VERIFY(bed->isOn);
        QCOMPARE(w.sinc.size(), 1);
        QCOMPARE(w.sounds().requests(), sounds + 1);
        QVERIFY(w.sounds().lastRequested().endsWith(QLatin1String("/call.wav")));
        QVERIFY(!bed->iB->isHidden());
    }
};

QTEST_MAIN(TestStartFaults)
#include "tst_startfaults.moc"
