#include "Options.h"

#include "Scenario.h"

#include <QCommandLineParser>

#include <cmath>

namespace kalvora::callsim {

namespace {

const QString kProgram = QStringLiteral("kalvora-callsim");
constexpr double kMaxSeconds = 7 * 24 * 3600;
constexpr double kMaxRate = 100000;

const QString kGeneralHelp = QStringLiteral(
    "Usage: kalvora-callsim COMMAND [options]\n"
    "\n"
    "Plays the call server's side of the Kalvora bed-call protocol over UDP:\n"
    "answers the console's presence ping and sends bed events to the console.\n"
    "\n"
    "Commands:\n"
    "  serve   Answer the console's ping until interrupted.\n"
    "  send    Send one event: call, bill, cancel, announce or raw.\n"
    "  play    Play a scenario file, answering pings meanwhile.\n"
    "  load    Send events at a steady rate, then report what was sent.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Show this help. 'kalvora-callsim COMMAND --help' shows the\n"
    "                 options of a command.\n"
    "  -v, --version  Show the version.\n"
    "\n"
    "Exit status: 0 done, 1 runtime failure (a port that cannot be bound, a datagram\n"
    "that cannot be sent), 2 bad command line or scenario file.\n");

struct CommandInfo {
    Command command;
    const char *name;
    const char *usage;
    const char *description;
};

constexpr CommandInfo kCommands[] = {
    { Command::Serve, "serve", "serve [options]",
      "Answers every ping received on the server port with the presence reply, sent\n"
      "to the pinging console's address at the console port. Runs until interrupted\n"
      "(Ctrl+C) or for --duration seconds." },
    { Command::Send, "send", "send [options] EVENT CODE   (or: send [options] raw TEXT)",
      "Sends one event to the console. EVENT is call, bill (call with bill request),\n"
      "cancel, announce, or raw (TEXT is then sent as it is)." },
    { Command::Play, "play", "play [options] SCENARIO_FILE",
      "Plays a scenario file to the console and answers pings meanwhile (unless\n"
      "--no-serve). Ends after the last event, unless --loop." },
    { Command::Load, "load", "load [options] --rate N --codes LIST --duration SECONDS",
      "Sends N events per second, evenly paced, over the given codes for the given\n"
      "time, then prints a summary. Each pass over the codes uses the next event of\n"
      "the mix. Prints progress once a second rather than every event." },
};

// names: comma-separated ("h,help").
QCommandLineOption option(const char *names, const char *description,
                          const char *valueName = nullptr)
{
    return QCommandLineOption(QString::fromLatin1(names).split(QLatin1Char(',')),
                              QString::fromUtf8(description), QString::fromLatin1(valueName));
}

bool parsePort(const QString &text, quint16 *port)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value == 0 || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

bool parsePositive(const QString &text, double max, double *out)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0 || value > max)
        return false;
    *out = value;
    return true;
}

bool parseAddress(QString text, QHostAddress *address)
{
    if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')))
        text = text.mid(1, text.size() - 2);
    return address->setAddress(text);
}

} // namespace

ParseOutcome parseArguments(const QStringList &arguments)
{
    ParseOutcome outcome;
    const auto fail = [&](const QString &message, const QString &command = {}) {
        outcome.action = ParseOutcome::Action::Error;
        const QString helpCommand = command.isEmpty() ? QString() : command + QLatin1Char(' ');
        outcome.text = kProgram + QStringLiteral(": ") + message + QStringLiteral("\nTry '")
            + kProgram + QLatin1Char(' ') + helpCommand + QStringLiteral("--help'.");
        return outcome;
    };

    const QString first = arguments.value(1);
    if (first.isEmpty())
        return fail(QStringLiteral("no command given (serve, send, play or load)"));
    if (first == QLatin1String("-h") || first == QLatin1String("--help")
        || first == QLatin1String("help")) {
        outcome.action = ParseOutcome::Action::Help;
        outcome.text = kGeneralHelp;
        return outcome;
    }
    if (first == QLatin1String("-v") || first == QLatin1String("--version")) {
        outcome.action = ParseOutcome::Action::Version;
        outcome.text = kProgram + QStringLiteral(" " KALVORA_VERSION "\n");
        return outcome;
    }
    const CommandInfo *info = nullptr;
    for (const CommandInfo &c : kCommands) {
        if (first == QLatin1String(c.name))
            info = &c;
    }
    if (!info)
        return fail(
            QStringLiteral("unknown command \"%1\" (serve, send, play or load)").arg(first));

    const QString name = QLatin1String(info->name);
    Options &o = outcome.options;
    o.command = info->command;

    const bool load = o.command == Command::Load;
    const QCommandLineOption help = option("h,help", "Show this help.");
    const QCommandLineOption to =
        option("to", "The console's address, IPv4 or IPv6 (default 127.0.0.1).", "ADDRESS");
    const QCommandLineOption consolePort =
        option("console-port", "The port the console listens on (default 5567).", "PORT");
    const QCommandLineOption serverPort =
        option("server-port", "The port to answer pings on (default 5566).", "PORT");
    const QCommandLineOption pingText =
        option("ping-text", "The ping the console sends (default \"#ToDovrelanServer\").", "TEXT");
    const QCommandLineOption replyText =
        option("reply-text", "The presence reply (default \"#FromDovrelanServer\").", "TEXT");
    const QCommandLineOption duration =
        option("duration", load ? "How long to send, in seconds." : "Stop after this many seconds.",
               "SECONDS");
    const QCommandLineOption responsible =
        option("responsible", "The responsible person's text.", "TEXT");
    const QCommandLineOption bedName = option("name", "The bed's name text.", "TEXT");
    const QCommandLineOption cancelCode =
        option("cancel-code", "A cancel code, sent as a fifth field.", "TEXT");
    const QCommandLineOption loop = option("loop", "Play the scenario again and again.");
    const QCommandLineOption noServe = option("no-serve", "Do not answer pings.");
    const QCommandLineOption rate =
        option("rate", "Events per second (decimals allowed, at most 100000).", "N");
    const QCommandLineOption codes = option(
        "codes", "Bed codes, comma-separated; numeric ranges allowed: 101,102,110-130.", "LIST");
    const QCommandLineOption mix =
        option("mix", "Events, comma-separated, used in turn (default call,bill,cancel).", "LIST");

    QList<QCommandLineOption> options { help };
    switch (o.command) {
    case Command::Serve:
        options << serverPort << consolePort << pingText << replyText << duration;
        break;
    case Command::Send:
        options << to << consolePort << responsible << bedName << cancelCode;
        break;
    case Command::Play:
        options << to << consolePort << serverPort << pingText << replyText << loop << noServe
                << duration;
        break;
    case Command::Load:
        options << to << consolePort << rate << codes << duration << mix;
        break;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(info->description));
    parser.addOptions(options);
    if (!parser.parse(QStringList { arguments.first() } + arguments.mid(2)))
        return fail(parser.errorText(), name);

    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // Qt's usage line names neither the command nor its arguments.
        text = QStringLiteral("Usage: ") + kProgram + QLatin1Char(' ') + QLatin1String(info->usage)
            + QLatin1Char('\n') + text.mid(text.indexOf(QLatin1Char('\n')));
        if (o.command == Command::Play)
            text += QLatin1Char('\n') + scenarioFormatHelp();
        outcome.action = ParseOutcome::Action::Help;
        outcome.text = text;
        return outcome;
    }

    const auto isSet = [&](const QCommandLineOption &wanted) {
        for (const QCommandLineOption &added : options) {
            if (added.names() == wanted.names())
                return parser.isSet(wanted);
        }
        return false;
    };
    const auto badValue = [&](const QCommandLineOption &opt, const QString &expected) {
        return fail(QStringLiteral("--%1: \"%2\" is not %3")
                        .arg(opt.names().constFirst(), parser.value(opt), expected),
                    name);
    };

    if (isSet(to) && !parseAddress(parser.value(to), &o.to))
        return badValue(to, QStringLiteral("an IPv4 or IPv6 address"));
    if (isSet(consolePort) && !parsePort(parser.value(consolePort), &o.consolePort))
        return badValue(consolePort, QStringLiteral("a port number (1-65535)"));
    if (isSet(serverPort) && !parsePort(parser.value(serverPort), &o.serverPort))
        return badValue(serverPort, QStringLiteral("a port number (1-65535)"));
    if (isSet(pingText))
        o.pingText = parser.value(pingText);
    if (isSet(replyText))
        o.replyText = parser.value(replyText);
    if (isSet(duration) && !parsePositive(parser.value(duration), kMaxSeconds, &o.duration))
        return badValue(duration, QStringLiteral("a number of seconds above 0"));
    if (o.pingText.isEmpty() || o.replyText.isEmpty())
        return fail(QStringLiteral("the ping and reply texts cannot be empty"), name);
    o.loop = isSet(loop);
    o.serve = !isSet(noServe);

    const QStringList positional = parser.positionalArguments();
    const qsizetype wanted = o.command == Command::Send ? 2 : o.command == Command::Play ? 1 : 0;
    if (positional.size() > wanted)
        return fail(QStringLiteral("unexpected argument \"%1\"").arg(positional.value(wanted)),
                    name);

    switch (o.command) {
    case Command::Serve:
        break;
    case Command::Send: {
        if (positional.size() < 2)
            return fail(QStringLiteral("give the event and the code, e.g. send call 101"), name);
        const std::optional<EventKind> kind = kindFromName(positional.at(0));
        if (!kind)
            return fail(
                QStringLiteral("unknown event \"%1\" (%2)").arg(positional.at(0), kindNames(true)),
                name);
        o.event.kind = *kind;
        if (*kind == EventKind::Raw) {
            if (isSet(responsible) || isSet(bedName) || isSet(cancelCode))
                return fail(QStringLiteral("a raw event takes no --responsible, --name or "
                                           "--cancel-code"),
                            name);
            o.event.raw = positional.at(1).toUtf8();
            break;
        }
        o.event.code = positional.at(1);
        o.event.responsible = parser.value(responsible);
        o.event.name = parser.value(bedName);
        o.event.cancelCode = parser.value(cancelCode);
        if (const QString error = eventError(o.event); !error.isEmpty())
            return fail(error, name);
        break;
    }
    case Command::Play:
        if (positional.isEmpty())
            return fail(QStringLiteral("give the scenario file"), name);
        o.scenarioFile = positional.at(0);
        break;
    case Command::Load: {
        for (const QCommandLineOption &required : { rate, codes, duration }) {
            if (!isSet(required))
                return fail(QStringLiteral("--%1 is required").arg(required.names().constFirst()),
                            name);
        }
        if (!parsePositive(parser.value(rate), kMaxRate, &o.rate))
            return badValue(rate, QStringLiteral("a rate above 0 and at most %1").arg(kMaxRate));
        QString error;
        const std::optional<QStringList> list = expandCodes(parser.value(codes), &error);
        if (!list)
            return fail(QStringLiteral("--codes: ") + error, name);
        o.codes = *list;
        if (isSet(mix)) {
            o.mix.clear();
            const QStringList kinds = parser.value(mix).split(QLatin1Char(','));
            for (const QString &k : kinds) {
                const std::optional<EventKind> kind = kindFromName(k.trimmed());
                if (!kind || *kind == EventKind::Raw)
                    return fail(
                        QStringLiteral("--mix: unknown event \"%1\" (%2)").arg(k, kindNames(false)),
                        name);
                o.mix << *kind;
            }
        }
        if (std::llround(o.rate * o.duration) < 1)
            return fail(QStringLiteral("--rate times --duration gives no event"), name);
        break;
    }
    }
    outcome.action = ParseOutcome::Action::Run;
    return outcome;
}

} // namespace kalvora::callsim
