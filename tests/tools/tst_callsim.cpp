// The simulator's pure parts: command line, scenario files, event texts, code lists, load plan.

#include "Options.h"
#include "Protocol.h"
#include "Scenario.h"

#include <QtTest>

using namespace kalvora::callsim;

namespace {

QStringList split(const QString &commandLine)
{
    // Test command lines separate arguments with '|', so that arguments may hold spaces.
    return QString(QStringLiteral("kalvora-callsim|") + commandLine).split(QLatin1Char('|'));
}

QString mixText(const QList<EventKind> &mix)
{
    QStringList names;
    for (const EventKind kind : mix)
        names << kindName(kind);
    return names.join(QLatin1Char(','));
}

// The options that matter for each command, in one line.
QString summary(const Options &o)
{
    const QString to = o.to.toString() + QLatin1Char(':') + QString::number(o.consolePort);
    switch (o.command) {
    case Command::Serve:
        return QStringLiteral("serve %1>%2 %3>%4 %5s")
            .arg(QString::number(o.serverPort), QString::number(o.consolePort), o.pingText,
                 o.replyText, QString::number(o.duration));
    case Command::Send:
        return QStringLiteral("send %1 %2").arg(to, QString::fromUtf8(eventDatagram(o.event)));
    case Command::Play:
        return QStringLiteral("play %1 %2 server=%3 %4>%5 loop=%6 serve=%7 %8s")
            .arg(o.scenarioFile, to, QString::number(o.serverPort), o.pingText, o.replyText,
                 QString::number(o.loop), QString::number(o.serve), QString::number(o.duration));
    case Command::Load:
        return QStringLiteral("load %1 %2/s %3s %4 codes %5..%6 %7")
            .arg(to, QString::number(o.rate), QString::number(o.duration),
                 QString::number(o.codes.size()), o.codes.value(0),
                 o.codes.value(o.codes.size() - 1), mixText(o.mix));
    }
    return {};
}

// "a b c" => {"a", "b", "c"}
QStringList words(const char *text)
{
    return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QString stepsText(const QList<ScenarioStep> &steps)
{
    QStringList parts;
    for (const ScenarioStep &step : steps)
        parts << QStringLiteral("%1@%2:%3")
                     .arg(step.line)
                     .arg(step.delayMs)
                     .arg(QString::fromUtf8(eventDatagram(step.event)));
    return parts.join(QLatin1Char('|'));
}

} // namespace

class TestCallSim : public QObject {
    Q_OBJECT

private slots:
    void validCommandLines_data();
    void validCommandLines();
    void invalidCommandLines_data();
    void invalidCommandLines();
    void helpAndVersion_data();
    void helpAndVersion();

    void validScenarios_data();
    void validScenarios();
    void invalidScenarios_data();
    void invalidScenarios();
    void unreadableScenario();

    void eventDatagrams_data();
    void eventDatagrams();
    void eventErrors_data();
    void eventErrors();

    void printableTexts_data();
    void printableTexts();
    void codeLists_data();
    void codeLists();
    void badCodeLists_data();
    void badCodeLists();

    void loadPlan();
};

void TestCallSim::validCommandLines_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("expected");

    QTest::addRow("serve, defaults") << "serve"
                                     << "serve 5566>5567 #ToDovrelanServer>#FromDovrelanServer 0s";
    QTest::addRow("serve, everything")
        << "serve|--server-port|7000|--console-port=7001|--ping-text|PING|--reply-text|PONG|"
           "--duration|1.5"
        << "serve 7000>7001 PING>PONG 1.5s";
    QTest::addRow("send call") << "send|call|101|--responsible|Nurse A|--name|Bed 2"
                               << "send 127.0.0.1:5567 #101;8;Nurse A;Bed 2";
    QTest::addRow("send, options first") << "send|--to|192.168.1.20|--console-port|6000|bill|203"
                                         << "send 192.168.1.20:6000 #203;4;;";
    QTest::addRow("send cancel with cancel code") << "send|cancel|101|--cancel-code|101C"
                                                  << "send 127.0.0.1:5567 #101;2;;;101C";
    QTest::addRow("send announce, Cyrillic")
        << "send|announce|305|--responsible|Медсестра Иванова|--name|Палата 3, койка 2"
        << "send 127.0.0.1:5567 #305;0;Медсестра Иванова;Палата 3, койка 2";
    QTest::addRow("send raw") << "send|raw|#1;8;a;b;c;d;e"
                              << "send 127.0.0.1:5567 #1;8;a;b;c;d;e";
    QTest::addRow("send raw after --") << "send|raw|--|--odd"
                                       << "send 127.0.0.1:5567 --odd";
    QTest::addRow("send to IPv6") << "send|--to|::1|call|1"
                                  << "send ::1:5567 #1;8;;";
    QTest::addRow("send to bracketed IPv6") << "send|--to|[fe80::1]|call|1"
                                            << "send fe80::1:5567 #1;8;;";
    QTest::addRow("play, defaults") << "play|demo/scenario.txt"
                                    << "play demo/scenario.txt 127.0.0.1:5567 server=5566 "
                                       "#ToDovrelanServer>#FromDovrelanServer loop=0 serve=1 0s";
    QTest::addRow("play, everything")
        << "play|--loop|--no-serve|--to|::1|--console-port|6001|--server-port|6000|--ping-text|"
           "P|--reply-text|R|--duration|90|s.txt"
        << "play s.txt ::1:6001 server=6000 P>R loop=1 serve=0 90s";
    QTest::addRow("load") << "load|--rate|2000|--codes|101,102,110-130|--duration|10"
                          << "load 127.0.0.1:5567 2000/s 10s 23 codes 101..130 call,bill,cancel";
    QTest::addRow("load, mix and fractions")
        << "load|--rate|0.5|--codes|7|--duration|4|--mix|cancel,call,call|--to|10.0.0.5"
        << "load 10.0.0.5:5567 0.5/s 4s 1 codes 7..7 cancel,call,call";
}

void TestCallSim::validCommandLines()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, expected);
    const ParseOutcome outcome = parseArguments(split(commandLine));
    QCOMPARE(outcome.text, QString());
    QCOMPARE(outcome.action, ParseOutcome::Action::Run);
    QCOMPARE(summary(outcome.options), expected);
}

void TestCallSim::invalidCommandLines_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("message");

    QTest::addRow("nothing") << ""
                             << "no command given";
    QTest::addRow("unknown command") << "sned"
                                     << "unknown command \"sned\"";
    QTest::addRow("unknown option") << "serve|--fast"
                                    << "Unknown option 'fast'";
    QTest::addRow("option of another command") << "serve|--to|127.0.0.1"
                                               << "Unknown option 'to'";
    QTest::addRow("missing value") << "serve|--server-port"
                                   << "Missing value after '--server-port'";
    QTest::addRow("port not a number") << "serve|--server-port|abc"
                                       << "--server-port: \"abc\" is not a port number";
    QTest::addRow("port 0") << "serve|--console-port|0"
                            << "--console-port: \"0\" is not a port";
    QTest::addRow("port too big") << "serve|--server-port|65536"
                                  << "is not a port number";
    QTest::addRow("bad duration") << "serve|--duration|-1"
                                  << "--duration: \"-1\" is not";
    QTest::addRow("zero duration") << "serve|--duration|0"
                                   << "--duration: \"0\" is not";
    QTest::addRow("empty ping") << "serve|--ping-text="
                                << "cannot be empty";
    QTest::addRow("serve argument") << "serve|now"
                                    << "unexpected argument \"now\"";
    QTest::addRow("send nothing") << "send"
                                  << "give the event and the code";
    QTest::addRow("send no code") << "send|call"
                                  << "give the event and the code";
    QTest::addRow("send unknown event") << "send|ring|101"
                                        << "unknown event \"ring\"";
    QTest::addRow("send extra") << "send|call|101|Bed"
                                << "unexpected argument \"Bed\"";
    QTest::addRow("send semicolon in name") << "send|call|101|--name|Bed;2"
                                            << "the name \"Bed;2\" contains ';'";
    QTest::addRow("send semicolon in code") << "send|call|1;01"
                                            << "the bed code \"1;01\"";
    QTest::addRow("send empty code") << "send|call|"
                                     << "the bed code is empty";
    QTest::addRow("send raw with fields") << "send|raw|x|--name|y"
                                          << "a raw event takes no --responsible";
    QTest::addRow("send bad address") << "send|--to|ward-7|call|1"
                                      << "\"ward-7\" is not an IPv4";
    QTest::addRow("send bad IPv4") << "send|--to|300.1.1.1|call|1"
                                   << "is not an IPv4 or IPv6";
    QTest::addRow("play no file") << "play"
                                  << "give the scenario file";
    QTest::addRow("play two files") << "play|a|b"
                                    << "unexpected argument \"b\"";
    QTest::addRow("load no rate") << "load|--codes|1|--duration|1"
                                  << "--rate is required";
    QTest::addRow("load no codes") << "load|--rate|1|--duration|1"
                                   << "--codes is required";
    QTest::addRow("load no duration") << "load|--rate|1|--codes|1"
                                      << "--duration is required";
    QTest::addRow("load bad rate") << "load|--rate|fast|--codes|1|--duration|1"
                                   << "--rate: \"fast\" is not a rate";
    QTest::addRow("load rate too high") << "load|--rate|1e6|--codes|1|--duration|1"
                                        << "at most 100000";
    QTest::addRow("load bad range") << "load|--rate|1|--codes|130-110|--duration|1"
                                    << "--codes: the range \"130-110\"";
    QTest::addRow("load bad mix") << "load|--rate|1|--codes|1|--duration|1|--mix|call,raw"
                                  << "--mix: unknown event \"raw\"";
    QTest::addRow("load no event") << "load|--rate|0.1|--codes|1|--duration|1"
                                   << "gives no event";
}

void TestCallSim::invalidCommandLines()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, message);
    const ParseOutcome outcome = parseArguments(split(commandLine));
    QCOMPARE(outcome.action, ParseOutcome::Action::Error);
    QVERIFY2(outcome.text.startsWith(QStringLiteral("kalvora-callsim: ")),
             qPrintable(outcome.text));
    QVERIFY2(outcome.text.contains(message), qPrintable(outcome.text));
    QVERIFY2(outcome.text.contains(QStringLiteral("--help'.")), qPrintable(outcome.text));
}

void TestCallSim::helpAndVersion_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("contains");

    const int help = int(ParseOutcome::Action::Help);
    QTest::addRow("--help") << "--help" << help << "Usage: kalvora-callsim COMMAND";
    QTest::addRow("-h") << "-h" << help << "serve   Answer";
    QTest::addRow("help") << "help" << help << "Exit status";
    QTest::addRow("--version") << "--version" << int(ParseOutcome::Action::Version)
                               << "kalvora-callsim " KALVORA_TEST_VERSION;
    QTest::addRow("serve --help") << "serve|--help" << help << "--ping-text <TEXT>";
    QTest::addRow("send -h") << "send|-h" << help << "Usage: kalvora-callsim send";
    QTest::addRow("play --help") << "play|--help" << help << "DELAY EVENT CODE";
    QTest::addRow("load --help") << "load|--help" << help << "--mix <LIST>";
    QTest::addRow("help wins over errors") << "send|ring|--help" << help << "--cancel-code";
}

void TestCallSim::helpAndVersion()
{
    QFETCH(QString, commandLine);
    QFETCH(int, action);
    QFETCH(QString, contains);
    const ParseOutcome outcome = parseArguments(split(commandLine));
    QCOMPARE(int(outcome.action), action);
    QVERIFY2(outcome.text.contains(contains), qPrintable(outcome.text));
}

void TestCallSim::validScenarios_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected"); // line@delayMs:datagram|...

    QTest::addRow("one call") << QByteArray("0.5 call 101 responsible=\"Nurse A\" name=\"Bed 2\"")
                              << "1@500:#101;8;Nurse A;Bed 2";
    QTest::addRow("every kind")
        << QByteArray("1 call 1\n2 bill 2\n3 cancel 3\n4 announce 4\n5 raw \"x y\"")
        << "1@1000:#1;8;;|2@2000:#2;4;;|3@3000:#3;2;;|4@4000:#4;0;;|5@5000:x y";
    QTest::addRow("Cyrillic texts")
        << QByteArray("0 call 101 responsible=\"Медсестра Иванова\" name=\"Палата 1, койка 1\"")
        << "1@0:#101;8;Медсестра Иванова;Палата 1, койка 1";
    QTest::addRow("comments and blank lines")
        << QByteArray("# a comment\n\n   \n  # indented comment\n1 call 7 # trailing comment\n")
        << "5@1000:#7;8;;";
    QTest::addRow("CRLF and BOM") << QByteArray("\xEF\xBB\xBF# head\r\n2 cancel 9\r\n")
                                  << "2@2000:#9;2;;";
    QTest::addRow("tabs and many blanks")
        << QByteArray("\t0.25\t\tbill\t 203   name=x") << "1@250:#203;4;;x";
    QTest::addRow("unquoted values")
        << QByteArray("1 call 5 responsible=Ivanova name=Bed") << "1@1000:#5;8;Ivanova;Bed";
    QTest::addRow("keys before the code")
        << QByteArray("1 call name=B responsible=A 5") << "1@1000:#5;8;A;B";
    QTest::addRow("escapes in quotes")
        << QByteArray(R"(1 call 5 name="say \"hi\" \\ ok" responsible="a\b")")
        << R"(1@1000:#5;8;a\b;say "hi" \ ok)";
    QTest::addRow("empty quoted value")
        << QByteArray("1 call 5 name=\"\" responsible=\"\"") << "1@1000:#5;8;;";
    QTest::addRow("cancel code") << QByteArray("1 cancel 101 cancel-code=101C")
                                 << "1@1000:#101;2;;;101C";
    QTest::addRow("hash and equals inside words")
        << QByteArray("1 call A#1 name=\"x=y\" responsible=a=b") << "1@1000:#A#1;8;a=b;x=y";
    QTest::addRow("quoted code") << QByteArray("1 call \"1 01\"") << "1@1000:#1 01;8;;";
    QTest::addRow("raw with semicolons and hash")
        << QByteArray("0 raw \"#101;8;a;b;c;d\"") << "1@0:#101;8;a;b;c;d";
    QTest::addRow("raw repeated") << QByteArray("0 raw ab repeat=3") << "1@0:ababab";
    QTest::addRow("raw empty") << QByteArray("0 raw \"\"") << "1@0:";
    QTest::addRow("percent signs kept")
        << QByteArray("0 raw %1%2\n0 call %1 name=%2") << "1@0:%1%2|2@0:#%1;8;;%2";
    QTest::addRow("delay rounding")
        << QByteArray("0.0004 call 1\n1.2345 call 2") << "1@0:#1;8;;|2@1235:#2;8;;";
}

void TestCallSim::validScenarios()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    QString error;
    const std::optional<QList<ScenarioStep>> steps =
        parseScenario(text, QStringLiteral("s.txt"), &error);
    QVERIFY2(steps, qPrintable(error));
    QCOMPARE(stepsText(*steps), expected);
}

void TestCallSim::invalidScenarios_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");

    QTest::addRow("empty file") << QByteArray() << "s.txt: no events in the file";
    QTest::addRow("only comments") << QByteArray("# nothing\n\n") << "s.txt: no events in the file";
    QTest::addRow("bad delay") << QByteArray("soon call 1") << "s.txt:1: bad delay \"soon\"";
    QTest::addRow("negative delay") << QByteArray("-1 call 1") << "s.txt:1: bad delay \"-1\"";
    QTest::addRow("infinite delay") << QByteArray("inf call 1") << "s.txt:1: bad delay \"inf\"";
    QTest::addRow("huge delay") << QByteArray("100000 call 1") << "s.txt:1: bad delay";
    QTest::addRow("key as delay") << QByteArray("a=1 call 1") << "s.txt:1: bad delay \"a=1\"";
    QTest::addRow("no event") << QByteArray("# x\n1") << "s.txt:2: no event after the delay";
    QTest::addRow("unknown event") << QByteArray("1 cal 101") << "s.txt:1: unknown event \"cal\"";
    QTest::addRow("event in capitals")
        << QByteArray("1 CALL 101") << "s.txt:1: unknown event \"CALL\"";
    QTest::addRow("no code") << QByteArray("1 call responsible=A")
                             << "s.txt:1: no bed code after \"call\"";
    QTest::addRow("unquoted spaces")
        << QByteArray("1 call 101 name=Bed 2") << "s.txt:1: unexpected \"2\" (put texts with";
    QTest::addRow("unterminated quote")
        << QByteArray("\n\n1 call 101 name=\"Bed 2") << "s.txt:3: unterminated quoted text";
    QTest::addRow("key twice") << QByteArray("1 call 101 name=a name=b")
                               << "s.txt:1: name= given twice";
    QTest::addRow("unknown key") << QByteArray("1 call 101 bed=2")
                                 << "s.txt:1: unknown key \"bed\" (responsible=";
    QTest::addRow("repeat on a call")
        << QByteArray("1 call 101 repeat=2") << "s.txt:1: unknown key \"repeat\"";
    QTest::addRow("semicolon in name")
        << QByteArray("1 call 101 name=\"a;b\"") << "s.txt:1: the name \"a;b\" contains ';'";
    QTest::addRow("semicolon in code") << QByteArray("1 cancel 1;2") << "s.txt:1: the bed code";
    QTest::addRow("semicolon in cancel code")
        << QByteArray("1 cancel 1 cancel-code=x;y") << "s.txt:1: the cancel code";
    QTest::addRow("raw without text") << QByteArray("1 raw") << "s.txt:1: raw needs the datagram";
    QTest::addRow("raw text unquoted hash")
        << QByteArray("1 raw #1;8;a;b") << "s.txt:1: raw needs the datagram";
    QTest::addRow("raw with a name")
        << QByteArray("1 raw x name=y") << "s.txt:1: unknown key \"name\" (raw takes only repeat=)";
    QTest::addRow("raw bad repeat")
        << QByteArray("1 raw x repeat=0") << "s.txt:1: bad repeat=\"0\"";
    QTest::addRow("percent in an error")
        << QByteArray("1 raw x repeat=%1") << "s.txt:1: bad repeat=\"%1\" (a count from 1 to";
    QTest::addRow("raw two texts") << QByteArray("1 raw x y") << "s.txt:1: unexpected \"y\"";
    QTest::addRow("not UTF-8") << QByteArray("1 call 1\n1 call \xC3\x28") << "s.txt:2: not UTF-8";
    QTest::addRow("error after good lines")
        << QByteArray("# x\n1 call 1\n\n2 cancel 1\n3 ring 2\n") << "s.txt:5: unknown event";
}

void TestCallSim::invalidScenarios()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QString message;
    QVERIFY(!parseScenario(text, QStringLiteral("s.txt"), &message));
    QVERIFY2(message.startsWith(error), qPrintable(message));
}

void TestCallSim::unreadableScenario()
{
    QString error;
    QVERIFY(!loadScenario(QStringLiteral("/nonexistent/scenario.txt"), &error));
    QVERIFY2(error.startsWith(QStringLiteral("/nonexistent/scenario.txt: cannot read")),
             qPrintable(error));
}

void TestCallSim::eventDatagrams_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("responsible");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("cancelCode");
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("description");

    QTest::addRow("call") << int(EventKind::Call) << "101"
                          << "Nurse A"
                          << "Bed 2"
                          << "" << QByteArray("#101;8;Nurse A;Bed 2")
                          << "call 101 (Nurse A / Bed 2)";
    QTest::addRow("bill") << int(EventKind::Bill) << "203"
                          << ""
                          << "Bed 3"
                          << "" << QByteArray("#203;4;;Bed 3") << "bill 203 (Bed 3)";
    QTest::addRow("cancel") << int(EventKind::Cancel) << "101"
                            << ""
                            << ""
                            << "" << QByteArray("#101;2;;") << "cancel 101";
    QTest::addRow("announce") << int(EventKind::Announce) << "305"
                              << "Медбрат Орлов"
                              << ""
                              << ""
                              << QByteArray(
                                     "#305;0;\xD0\x9C\xD0\xB5\xD0\xB4\xD0\xB1\xD1\x80\xD0"
                                     "\xB0\xD1\x82 \xD0\x9E\xD1\x80\xD0\xBB\xD0\xBE\xD0\xB2;")
                              << "announce 305 (Медбрат Орлов)";
    QTest::addRow("cancel code") << int(EventKind::Call) << "1"
                                 << "a"
                                 << "b"
                                 << "1C" << QByteArray("#1;8;a;b;1C")
                                 << "call 1 (a / b), cancel code 1C";
    QTest::addRow("percent signs") << int(EventKind::Call) << "%1"
                                   << "%2"
                                   << "%3"
                                   << "" << QByteArray("#%1;8;%2;%3") << "call %1 (%2 / %3)";
    QTest::addRow("spaces kept") << int(EventKind::Call) << " 1 "
                                 << " a"
                                 << "b "
                                 << "" << QByteArray("# 1 ;8; a;b ") << "call  1  ( a / b )";
}

void TestCallSim::eventDatagrams()
{
    QFETCH(int, kind);
    Event event;
    event.kind = EventKind(kind);
    QFETCH(QString, code);
    QFETCH(QString, responsible);
    QFETCH(QString, name);
    QFETCH(QString, cancelCode);
    event.code = code;
    event.responsible = responsible;
    event.name = name;
    event.cancelCode = cancelCode;
    QCOMPARE(eventError(event), QString());
    QTEST(eventDatagram(event), "datagram");
    QTEST(describeEvent(event), "description");
}

void TestCallSim::eventErrors_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("responsible");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("cancelCode");
    QTest::addColumn<QString>("error");

    QTest::addRow("no code") << ""
                             << "a"
                             << "b"
                             << ""
                             << "the bed code is empty";
    QTest::addRow("code") << "1;2"
                          << ""
                          << ""
                          << ""
                          << "the bed code \"1;2\" contains ';', which separates the fields";
    QTest::addRow("responsible") << "1"
                                 << "a;"
                                 << ""
                                 << ""
                                 << "the responsible text \"a;\"";
    QTest::addRow("name") << "1"
                          << ""
                          << ";"
                          << ""
                          << "the name \";\"";
    QTest::addRow("cancel code") << "1"
                                 << ""
                                 << ""
                                 << "x;"
                                 << "the cancel code \"x;\"";
}

void TestCallSim::eventErrors()
{
    Event event;
    QFETCH(QString, code);
    QFETCH(QString, responsible);
    QFETCH(QString, name);
    QFETCH(QString, cancelCode);
    QFETCH(QString, error);
    event.code = code;
    event.responsible = responsible;
    event.name = name;
    event.cancelCode = cancelCode;
    QVERIFY2(eventError(event).startsWith(error), qPrintable(eventError(event)));

    Event raw;
    raw.kind = EventKind::Raw;
    raw.raw = "#;;;;";
    QCOMPARE(eventError(raw), QString());
    QCOMPARE(eventDatagram(raw), QByteArray("#;;;;"));
}

void TestCallSim::printableTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("printed");

    QTest::addRow("plain") << "Палата 1"
                           << "Палата 1";
    QTest::addRow("line breaks and tabs") << "a\r\nb\tc"
                                          << "a\\r\\nb\\tc";
    QTest::addRow("other controls") << QString(QChar(1)) + QChar(0x7f) << "\\x01\\x7f";
    QTest::addRow("long") << QString(70, QLatin1Char('x'))
                          << QString(60, QLatin1Char('x')) + QStringLiteral("...");
}

void TestCallSim::printableTexts()
{
    QFETCH(QString, text);
    QTEST(printable(text), "printed");
}

void TestCallSim::codeLists_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("codes");

    QTest::addRow("one") << "101" << words("101");
    QTest::addRow("several") << "101,102, 205 " << words("101 102 205");
    QTest::addRow("range") << "110-113" << words("110 111 112 113");
    QTest::addRow("mixed") << "101,110-112,7" << words("101 110 111 112 7");
    QTest::addRow("single range") << "5-5" << words("5");
    QTest::addRow("leading zeros") << "08-11" << words("08 09 10 11");
    QTest::addRow("non-numeric") << "A1,B-2" << words("A1 B-2");
    QTest::addRow("duplicates kept") << "1,1" << words("1 1");
}

void TestCallSim::codeLists()
{
    QFETCH(QString, list);
    QString error;
    const std::optional<QStringList> codes = expandCodes(list, &error);
    QVERIFY2(codes, qPrintable(error));
    QTEST(*codes, "codes");
}

void TestCallSim::badCodeLists_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("error");

    QTest::addRow("empty") << ""
                           << "empty code in the list";
    QTest::addRow("empty item") << "101,,102"
                                << "empty code in the list \"101,,102\"";
    QTest::addRow("trailing comma") << "101,"
                                    << "empty code";
    QTest::addRow("backwards") << "130-110"
                               << "the range \"130-110\" runs backwards";
    QTest::addRow("semicolon") << "1;2"
                               << "the code \"1;2\" contains ';'";
    QTest::addRow("too many") << "1-100001"
                              << "too many codes";
    QTest::addRow("too many in total") << "1-60000,1-60000"
                                       << "too many codes";
}

void TestCallSim::badCodeLists()
{
    QFETCH(QString, list);
    QFETCH(QString, error);
    QString message;
    QVERIFY(!expandCodes(list, &message));
    QVERIFY2(message.startsWith(error), qPrintable(message));
}

void TestCallSim::loadPlan()
{
    LoadPlan plan;
    plan.rate = 4;
    plan.count = 10;
    plan.codes = words("101 102");
    plan.mix = { EventKind::Call, EventKind::Bill, EventKind::Cancel };
    QStringList datagrams;
    for (qint64 i = 0; i < 7; ++i)
        datagrams << QString::fromUtf8(eventDatagram(plan.eventAt(i)));
    QCOMPARE(datagrams.join(QLatin1Char('|')),
             QStringLiteral("#101;8;Load test;Bed 101|#102;8;Load test;Bed 102|"
                            "#101;4;Load test;Bed 101|#102;4;Load test;Bed 102|"
                            "#101;2;Load test;Bed 101|#102;2;Load test;Bed 102|"
                            "#101;8;Load test;Bed 101"));
    QCOMPARE(plan.dueNsecs(0), qint64(0));
    QCOMPARE(plan.dueNsecs(1), qint64(250000000));
    QCOMPARE(plan.dueNsecs(9), qint64(2250000000));

    plan.rate = 3000; // evenly spread, never two at the same instant
    for (qint64 i = 1; i < 3000; ++i)
        QVERIFY(plan.dueNsecs(i) - plan.dueNsecs(i - 1) >= 333333);
    QCOMPARE(plan.dueNsecs(3000), qint64(1000000000));
}

QTEST_GUILESS_MAIN(TestCallSim)
#include "tst_callsim.moc"
