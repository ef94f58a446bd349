#include "Protocol.h"

#include <QRegularExpression>

namespace kalvora::callsim {

namespace {

struct KindInfo {
    EventKind kind;
    const char *name;
    char type;
};

constexpr KindInfo kKinds[] = {
    { EventKind::Call, "call", '8' },     { EventKind::Bill, "bill", '4' },
    { EventKind::Cancel, "cancel", '2' }, { EventKind::Announce, "announce", '0' },
    { EventKind::Raw, "raw", 0 },
};

const KindInfo &info(EventKind kind)
{
    for (const KindInfo &k : kKinds) {
        if (k.kind == kind)
            return k;
    }
    Q_UNREACHABLE();
}

constexpr qsizetype kMaxCodes = 100000;

} // namespace

QString kindName(EventKind kind)
{
    return QLatin1String(info(kind).name);
}

std::optional<EventKind> kindFromName(const QString &name)
{
    for (const KindInfo &k : kKinds) {
        if (name == QLatin1String(k.name))
            return k.kind;
    }
    return std::nullopt;
}

QString kindNames(bool withRaw)
{
    return withRaw ? QStringLiteral("call, bill, cancel, announce or raw")
                   : QStringLiteral("call, bill, cancel or announce");
}

QString eventError(const Event &event)
{
    if (event.kind == EventKind::Raw)
        return {};
    if (event.code.isEmpty())
        return QStringLiteral("the bed code is empty");
    const std::pair<const char *, const QString *> fields[] = {
        { "bed code", &event.code },
        { "responsible text", &event.responsible },
        { "name", &event.name },
        { "cancel code", &event.cancelCode },
    };
    for (const auto &[what, text] : fields) {
        if (text->contains(QLatin1Char(';')))
            return QStringLiteral("the %1 \"%2\" contains ';', which separates the fields")
                .arg(QLatin1String(what), *text);
    }
    return {};
}

QByteArray eventDatagram(const Event &event)
{
    if (event.kind == EventKind::Raw)
        return event.raw;
    const QLatin1Char sep(';');
    QString text = QLatin1Char('#') + event.code + sep + QLatin1Char(info(event.kind).type) + sep
        + event.responsible + sep + event.name;
    if (!event.cancelCode.isEmpty())
        text += sep + event.cancelCode;
    return text.toUtf8();
}

QString describeEvent(const Event &event)
{
    if (event.kind == EventKind::Raw)
        return QStringLiteral("raw \"%1\" (%2 bytes)")
            .arg(printable(QString::fromUtf8(event.raw)), QString::number(event.raw.size()));
    QString line = kindName(event.kind) + QLatin1Char(' ') + event.code;
    QStringList texts;
    if (!event.responsible.isEmpty())
        texts << event.responsible;
    if (!event.name.isEmpty())
        texts << event.name;
    if (!texts.isEmpty())
        line += QStringLiteral(" (") + texts.join(QStringLiteral(" / ")) + QLatin1Char(')');
    if (!event.cancelCode.isEmpty())
        line += QStringLiteral(", cancel code ") + event.cancelCode;
    return printable(line, 400);
}

QString printable(const QString &text, qsizetype maxLength)
{
    QString out;
    for (const QChar c : text) {
        if (out.size() >= maxLength) {
            out += QStringLiteral("...");
            break;
        }
        if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c.category() == QChar::Other_Control)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

std::optional<QStringList> expandCodes(const QString &list, QString *error)
{
    static const QRegularExpression range(QStringLiteral("^(\\d{1,9})-(\\d{1,9})$"));
    QStringList codes;
    const QStringList items = list.split(QLatin1Char(','));
    for (const QString &item : items) {
        const QString code = item.trimmed();
        if (code.isEmpty()) {
            *error = QStringLiteral("empty code in the list \"%1\"").arg(list);
            return std::nullopt;
        }
        if (code.contains(QLatin1Char(';'))) {
            *error = QStringLiteral("the code \"%1\" contains ';'").arg(code);
            return std::nullopt;
        }
        const QRegularExpressionMatch match = range.match(code);
        if (!match.hasMatch()) {
            codes << code;
            continue;
        }
        const QString start = match.captured(1);
        const qint64 first = start.toLongLong();
        const qint64 last = match.captured(2).toLongLong();
        if (last < first) {
            *error = QStringLiteral("the range \"%1\" runs backwards").arg(code);
            return std::nullopt;
        }
        if (codes.size() + (last - first + 1) > kMaxCodes) {
            *error = QStringLiteral("too many codes (at most %1)").arg(kMaxCodes);
            return std::nullopt;
        }
        const qsizetype width = start.startsWith(QLatin1Char('0')) ? start.size() : 0;
        for (qint64 c = first; c <= last; ++c)
            codes << QString::number(c).rightJustified(width, QLatin1Char('0'));
    }
    return codes;
}

qint64 LoadPlan::dueNsecs(qint64 index) const
{
    return qint64(double(index) * 1e9 / rate);
}

Event LoadPlan::eventAt(qint64 index) const
{
    const qint64 n = codes.size();
    Event event;
    event.code = codes.at(index % n);
    event.kind = mix.at((index / n) % mix.size());
    event.responsible = QStringLiteral("Load test");
    event.name = QStringLiteral("Bed ") + event.code;
    return event;
}

} // namespace kalvora::callsim
