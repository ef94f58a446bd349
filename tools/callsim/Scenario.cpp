#include "Scenario.h"

#include <QFile>
#include <QStringDecoder>

#include <cmath>

namespace kalvora::callsim {

namespace {

constexpr double kMaxDelaySeconds = 24 * 3600;
constexpr int kMaxRepeat = 100000;

struct Token {
    bool hasKey = false;
    QString key;
    QString value;
};

// Splits a line into words separated by blanks. Double quotes keep blanks inside a word
// (\" and \\ stand for " and \ there); "key=value" words are split at the first '=' outside
// quotes; a word that starts with '#' begins a comment.
bool tokenize(QStringView line, QList<Token> *tokens, QString *error)
{
    qsizetype i = 0;
    const qsizetype n = line.size();
    for (;;) {
        while (i < n && line[i].isSpace())
            ++i;
        if (i == n || line[i] == QLatin1Char('#'))
            return true;
        Token token;
        QString text;
        bool quoted = false;
        while (i < n && !line[i].isSpace()) {
            const QChar c = line[i++];
            if (c == QLatin1Char('"')) {
                quoted = true;
                bool closed = false;
                while (i < n && !closed) {
                    const QChar q = line[i++];
                    if (q == QLatin1Char('\\') && i < n
                        && (line[i] == QLatin1Char('"') || line[i] == QLatin1Char('\\')))
                        text += line[i++];
                    else if (q == QLatin1Char('"'))
                        closed = true;
                    else
                        text += q;
                }
                if (!closed) {
                    *error = QStringLiteral("unterminated quoted text (no closing \")");
                    return false;
                }
            } else if (c == QLatin1Char('=') && !quoted && !token.hasKey) {
                token.hasKey = true;
                token.key = text;
                text.clear();
            } else {
                text += c;
            }
        }
        token.value = text;
        tokens->append(token);
    }
}

bool parseStep(const QList<Token> &tokens, ScenarioStep *step, QString *error)
{
    bool ok = false;
    const double delay = tokens[0].hasKey ? -1 : tokens[0].value.toDouble(&ok);
    if (!ok || !std::isfinite(delay) || delay < 0 || delay > kMaxDelaySeconds) {
        *error = QStringLiteral("bad delay \"%1\" (seconds to wait before the event, e.g. 0.5)")
                     .arg(tokens[0].hasKey ? tokens[0].key + QLatin1Char('=') + tokens[0].value
                                           : tokens[0].value);
        return false;
    }
    step->delayMs = std::llround(delay * 1000);
    if (tokens.size() < 2) {
        *error = QStringLiteral("no event after the delay (%1)").arg(kindNames(true));
        return false;
    }
    const std::optional<EventKind> kind =
        tokens[1].hasKey ? std::nullopt : kindFromName(tokens[1].value);
    if (!kind) {
        *error = QStringLiteral("unknown event \"%1\" (%2)").arg(tokens[1].value, kindNames(true));
        return false;
    }
    Event &event = step->event;
    event.kind = *kind;
    const bool raw = *kind == EventKind::Raw;

    QStringList positional;
    QStringList keysSeen;
    int repeat = 1;
    for (const Token &token : tokens.mid(2)) {
        if (!token.hasKey) {
            if (!positional.isEmpty()) {
                *error = QStringLiteral("unexpected \"%1\" (put texts with spaces in double "
                                        "quotes)")
                             .arg(token.value);
                return false;
            }
            positional << token.value;
            continue;
        }
        if (keysSeen.contains(token.key)) {
            *error = QStringLiteral("%1= given twice").arg(token.key);
            return false;
        }
        keysSeen << token.key;
        if (raw && token.key == QLatin1String("repeat")) {
            repeat = token.value.toInt(&ok);
            if (!ok || repeat < 1 || repeat > kMaxRepeat) {
                *error = QStringLiteral("bad repeat=\"%1\" (a count from 1 to %2)")
                             .arg(token.value, QString::number(kMaxRepeat));
                return false;
            }
        } else if (!raw && token.key == QLatin1String("responsible")) {
            event.responsible = token.value;
        } else if (!raw && token.key == QLatin1String("name")) {
            event.name = token.value;
        } else if (!raw && token.key == QLatin1String("cancel-code")) {
            event.cancelCode = token.value;
        } else {
            *error = QStringLiteral("unknown key \"%1\" (%2)")
                         .arg(token.key,
                              raw ? QStringLiteral("raw takes only repeat=")
                                  : QStringLiteral("responsible=, name= or "
                                                   "cancel-code="));
            return false;
        }
    }
    if (positional.isEmpty()) {
        *error = raw ? QStringLiteral("raw needs the datagram text, e.g. raw \"#101;8;A;B\"")
                     : QStringLiteral("no bed code after \"%1\"").arg(tokens[1].value);
        return false;
    }
    if (raw) {
        event.raw = positional.first().toUtf8().repeated(repeat);
        return true;
    }
    event.code = positional.first();
    *error = eventError(event);
    return error->isEmpty();
}

} // namespace

std::optional<QList<ScenarioStep>> parseScenario(const QByteArray &data, const QString &fileName,
                                                 QString *error)
{
    QList<ScenarioStep> steps;
    const QList<QByteArray> lines = data.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray bytes = lines[i];
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        if (i == 0 && bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString line = decoder.decode(bytes);
        QString message;
        QList<Token> tokens;
        if (decoder.hasError())
            message = QStringLiteral("not UTF-8 text");
        else if (tokenize(line, &tokens, &message) && tokens.isEmpty())
            continue;
        ScenarioStep step;
        step.line = int(i + 1);
        if (message.isEmpty() && parseStep(tokens, &step, &message)) {
            steps << step;
            continue;
        }
        *error = QStringLiteral("%1:%2: %3").arg(fileName, QString::number(i + 1), message);
        return std::nullopt;
    }
    if (steps.isEmpty()) {
        *error = QStringLiteral("%1: no events in the file").arg(fileName);
        return std::nullopt;
    }
    return steps;
}

std::optional<QList<ScenarioStep>> loadScenario(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return parseScenario(file.readAll(), path, error);
}

qint64 totalDelayMs(const QList<ScenarioStep> &steps)
{
    qint64 total = 0;
    for (const ScenarioStep &step : steps)
        total += step.delayMs;
    return total;
}

QString scenarioFormatHelp()
{
    return QStringLiteral(
        "Scenario file: UTF-8 text, one event a line:\n"
        "  DELAY EVENT CODE [responsible=TEXT] [name=TEXT] [cancel-code=TEXT]\n"
        "  DELAY raw TEXT [repeat=N]\n"
        "DELAY is the seconds (decimals allowed) to wait after the previous event.\n"
        "EVENT is call, bill (call with bill request), cancel or announce. raw sends\n"
        "TEXT as the whole datagram (repeat=N sends it N times over in one datagram).\n"
        "Put texts with spaces in double quotes; inside them \\\" is a quote and \\\\ a\n"
        "backslash. Texts of events cannot contain ';'. Blank lines and everything\n"
        "from a word starting with # to the end of the line are ignored.\n"
        "Example:\n"
        "  # ward 1, morning\n"
        "  0.5  call    101  responsible=\"Nurse Ivanova\" name=\"Room 1, bed 1\"\n"
        "  2    bill    203  responsible=\"Nurse Petrova\"\n"
        "  10   cancel  101\n"
        "  1    raw     \"#999;8;odd;input;;extra\"\n");
}

} // namespace kalvora::callsim
