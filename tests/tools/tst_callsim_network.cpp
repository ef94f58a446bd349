// The simulator on loopback: pings get the presence reply at the console port, and events
// arrive as the exact datagram bytes. Runs only inside a private network namespace.

#include "NetworkGuard.h"
#include "Options.h"
#include "Runner.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <optional>

using namespace kalvora::callsim;

namespace {

const QString kExecutable = QStringLiteral(CALLSIM_EXECUTABLE);

std::optional<QNetworkDatagram> nextDatagram(QUdpSocket &socket, int timeoutMs = 3000)
{
    if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(timeoutMs))
        return std::nullopt;
    return socket.receiveDatagram();
}

// A UDP port that is free right now.
quint16 freePort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::Any, 0))
        return 0;
    return probe.localPort();
}

// Runs the simulator to its end; returns its exit code (-1 if it did not end in time).
int runSim(const QStringList &arguments, QByteArray *out = nullptr, QByteArray *err = nullptr)
{
    QProcess process;
    process.start(kExecutable, arguments);
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (out)
        *out = process.readAllStandardOutput();
    if (err)
        *err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Waits until the running simulator has printed a line containing `text`.
bool waitForOutput(QProcess &process, const QByteArray &text, QByteArray *seen)
{
    while (!seen->contains(text)) {
        if (!process.waitForReadyRead(5000))
            return false;
        *seen += process.readAllStandardOutput();
    }
    return true;
}

} // namespace

class TestCallSimNetwork : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void pingGetsReply_data();
    void pingGetsReply();
    void sendArrivesExactly_data();
    void sendArrivesExactly();
    void serveAnswersAndStops();
    void serveFailsOnBusyPort();
    void playSendsScenarioAndServes();
    void playRejectsBadFile();
    void loadSendsPlan();
};

void TestCallSimNetwork::initTestCase()
{
    KALVORA_REQUIRE_PRIVATE_NETWORK();
}

void TestCallSimNetwork::pingGetsReply_data()
{
    QTest::addColumn<QString>("loopback");
    QTest::addColumn<QString>("pingText");
    QTest::addColumn<QString>("replyText");

    QTest::addRow("IPv4, default texts") << "127.0.0.1"
                                         << ""
                                         << "";
    QTest::addRow("IPv6, default texts") << "::1"
                                         << ""
                                         << "";
    QTest::addRow("IPv4, own texts") << "127.0.0.1"
                                     << "Пинг"
                                     << "Ответ сервера";
}

void TestCallSimNetwork::pingGetsReply()
{
    QFETCH(QString, loopback);
    QFETCH(QString, pingText);
    QFETCH(QString, replyText);
    const QHostAddress address(loopback);

    QUdpSocket console;
    if (!console.bind(address, 0))
        QSKIP(qPrintable(QStringLiteral("no %1 here: %2").arg(loopback, console.errorString())));

    Options options;
    if (!pingText.isEmpty()) {
        options.pingText = pingText;
        options.replyText = replyText;
    }
    options.serverPort = 0; // any free port
    options.consolePort = console.localPort();
    PingResponder responder(options);
    QString error;
    QVERIFY2(responder.listen(&error), qPrintable(error));

    // Compared exactly: a ping in other letters, or with a terminator, gets no reply.
    console.writeDatagram(options.pingText.toLower().toUtf8(), address, responder.port());
    console.writeDatagram(options.pingText.toUtf8() + '\n', address, responder.port());
    console.writeDatagram(options.pingText.toUtf8(), address, responder.port());
    QTRY_VERIFY(console.hasPendingDatagrams());
    const QNetworkDatagram reply = console.receiveDatagram();
    QCOMPARE(reply.data(), options.replyText.toUtf8());
    QCOMPARE(reply.senderPort(), int(responder.port()));
    QTest::qWait(200);
    QVERIFY(!console.hasPendingDatagrams());
    QCOMPARE(responder.answered(), 1);
}

void TestCallSimNetwork::sendArrivesExactly_data()
{
    QTest::addColumn<QString>("loopback");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("logged");

    const auto args = [](const char *commandLine) {
        return QString::fromUtf8(commandLine).split(QLatin1Char('|'));
    };
    QTest::addRow("call") << "127.0.0.1" << args("call|101|--responsible|Nurse A|--name|Bed 2")
                          << QByteArray("#101;8;Nurse A;Bed 2")
                          << "sent call 101 (Nurse A / Bed 2) to 127.0.0.1:";
    QTest::addRow("bill, Cyrillic")
        << "127.0.0.1" << args("bill|203|--responsible|Медсестра Петрова|--name|Палата 5, койка 3")
        << QString::fromUtf8("#203;4;Медсестра Петрова;Палата 5, койка 3").toUtf8()
        << "sent bill 203 (Медсестра Петрова / Палата 5, койка 3)";
    QTest::addRow("cancel with cancel code")
        << "127.0.0.1" << args("cancel|101|--cancel-code|101C") << QByteArray("#101;2;;;101C")
        << "sent cancel 101, cancel code 101C";
    QTest::addRow("announce") << "127.0.0.1" << args("announce|999") << QByteArray("#999;0;;")
                              << "sent announce 999";
    QTest::addRow("raw") << "127.0.0.1" << args("raw|odd;;text") << QByteArray("odd;;text")
                         << "sent raw \"odd;;text\" (9 bytes)";
    QTest::addRow("IPv6") << "::1" << args("call|7") << QByteArray("#7;8;;")
                          << "sent call 7 to [::1]:";
}

void TestCallSimNetwork::sendArrivesExactly()
{
    QFETCH(QString, loopback);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, datagram);
    QFETCH(QString, logged);

    QUdpSocket console;
    if (!console.bind(QHostAddress(loopback), 0))
        QSKIP(qPrintable(QStringLiteral("no %1 here: %2").arg(loopback, console.errorString())));
    const QStringList command =
        QStringList { QStringLiteral("send"), QStringLiteral("--to"), loopback,
                      QStringLiteral("--console-port"), QString::number(console.localPort()) }
        + arguments;
    QByteArray out, err;
    QCOMPARE(runSim(command, &out, &err), 0);
    QVERIFY2(err.isEmpty(), err.constData());
    QVERIFY2(QString::fromUtf8(out).contains(logged), out.constData());
    const std::optional<QNetworkDatagram> received = nextDatagram(console);
    QVERIFY(received);
    QCOMPARE(received->data(), datagram);
}

void TestCallSimNetwork::serveAnswersAndStops()
{
    QUdpSocket console;
    QVERIFY(console.bind(QHostAddress::LocalHost, 0));
    const quint16 serverPort = freePort();
    QProcess process;
    process.start(kExecutable,
                  { QStringLiteral("serve"), QStringLiteral("--server-port"),
                    QString::number(serverPort), QStringLiteral("--console-port"),
                    QString::number(console.localPort()), QStringLiteral("--duration"),
                    QStringLiteral("30") });
    QByteArray out;
    QVERIFY2(waitForOutput(process, "answering", &out), out.constData());

    QUdpSocket pinger;
    for (int i = 0; i < 2; ++i) { // as the console does, every 500 ms
        pinger.writeDatagram("#ToDovrelanServer", QHostAddress::LocalHost, serverPort);
        const std::optional<QNetworkDatagram> reply = nextDatagram(console);
        QVERIFY(reply);
        QCOMPARE(reply->data(), QByteArray("#FromDovrelanServer"));
    }
    QVERIFY2(waitForOutput(process, "ping from 127.0.0.1:", &out), out.constData());

    process.terminate(); // SIGTERM ends it cleanly
    QVERIFY(process.waitForFinished(5000));
    out += process.readAllStandardOutput();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(out.contains("terminated") && out.contains("stopped; 2 pings answered"),
             out.constData());
}

void TestCallSimNetwork::serveFailsOnBusyPort()
{
    QUdpSocket taken;
    QVERIFY(taken.bind(QHostAddress::Any, 0, QAbstractSocket::DontShareAddress));
    QByteArray err;
    QCOMPARE(runSim({ QStringLiteral("serve"), QStringLiteral("--server-port"),
                      QString::number(taken.localPort()) },
                    nullptr, &err),
             1);
    QVERIFY2(err.contains("cannot listen on port"), err.constData());
}

void TestCallSimNetwork::playSendsScenarioAndServes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("scenario.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# test\n"
               "0.3  call    101 responsible=\"Медсестра Иванова\" name=\"Палата 1, койка 1\"\n"
               "0.2  bill    203\n"
               "0.2  cancel  101\n"
               "0    raw     \"#x\" repeat=2\n");
    file.close();

    QUdpSocket console;
    QVERIFY(console.bind(QHostAddress::LocalHost, 0));
    const quint16 serverPort = freePort();
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(kExecutable,
                  { QStringLiteral("play"), QStringLiteral("--server-port"),
                    QString::number(serverPort), QStringLiteral("--console-port"),
                    QString::number(console.localPort()), path });
    QByteArray out;
    QVERIFY2(waitForOutput(process, "playing", &out), out.constData());
    QUdpSocket pinger;
    pinger.writeDatagram("#ToDovrelanServer", QHostAddress::LocalHost, serverPort);

    QList<QByteArray> received;
    while (received.size() < 5) {
        const std::optional<QNetworkDatagram> datagram = nextDatagram(console);
        QVERIFY2(datagram, qPrintable(QStringLiteral("got only %1").arg(received.size())));
        received << datagram->data();
    }
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(clock.elapsed() >= 700);
    // The reply to the ping comes before the first event, which is due after 0.3 s.
    QCOMPARE(received.takeFirst(), QByteArray("#FromDovrelanServer"));
    QCOMPARE(received,
             QList<QByteArray>(
                 { QString::fromUtf8("#101;8;Медсестра Иванова;Палата 1, койка 1").toUtf8(),
                   "#203;4;;", "#101;2;;", "#x#x" }));
    out += process.readAllStandardOutput();
    QVERIFY2(out.contains("scenario over"), out.constData());
}

void TestCallSimNetwork::playRejectsBadFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("1 call 101\n2 ring 102\n");
    file.close();
    QByteArray err;
    QCOMPARE(runSim({ QStringLiteral("play"), QStringLiteral("--no-serve"), path }, nullptr, &err),
             2);
    QVERIFY2(err.contains(QByteArray(path.toUtf8() + ":2: unknown event \"ring\"")),
             err.constData());
    QCOMPARE(
        runSim({ QStringLiteral("play"), dir.filePath(QStringLiteral("none.txt")) }, nullptr, &err),
        2);
    QVERIFY2(err.contains("cannot read"), err.constData());
    QCOMPARE(runSim({ QStringLiteral("send"), QStringLiteral("ring"), QStringLiteral("1") }), 2);
}

void TestCallSimNetwork::loadSendsPlan()
{
    QUdpSocket console;
    QVERIFY(console.bind(QHostAddress::LocalHost, 0));
    console.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(kExecutable,
                  { QStringLiteral("load"), QStringLiteral("--console-port"),
                    QString::number(console.localPort()), QStringLiteral("--rate"),
                    QStringLiteral("400"), QStringLiteral("--duration"), QStringLiteral("0.5"),
                    QStringLiteral("--codes"), QStringLiteral("1-4"), QStringLiteral("--mix"),
                    QStringLiteral("call,cancel") });
    QList<QByteArray> received;
    while (received.size() < 200) {
        const std::optional<QNetworkDatagram> datagram = nextDatagram(console);
        QVERIFY2(datagram, qPrintable(QStringLiteral("got only %1").arg(received.size())));
        received << datagram->data();
    }
    QVERIFY(process.waitForFinished(5000));
    // Paced over the half second rather than sent at once.
    QVERIFY2(clock.elapsed() >= 450, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray out = process.readAllStandardOutput();
    QVERIFY2(out.contains("load done: sent 200 of 200 events")
                 && out.contains("call 100, cancel 100") && out.contains("send errors 0"),
             out.constData());
    QCOMPARE(received.mid(0, 9),
             QList<QByteArray>(
                 { "#1;8;Load test;Bed 1", "#2;8;Load test;Bed 2", "#3;8;Load test;Bed 3",
                   "#4;8;Load test;Bed 4", "#1;2;Load test;Bed 1", "#2;2;Load test;Bed 2",
                   "#3;2;Load test;Bed 3", "#4;2;Load test;Bed 4", "#1;8;Load test;Bed 1" }));
    QTest::qWait(100);
    QVERIFY(!console.hasPendingDatagrams());
}

QTEST_GUILESS_MAIN(TestCallSimNetwork)
#include "tst_callsim_network.moc"
