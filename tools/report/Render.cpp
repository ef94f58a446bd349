#include "Render.h"

#include <QDateTime>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace kalvora::report {

namespace {

using journal::EndReason;

const QString kDash = QStringLiteral("—");

QString localTime(journal::UtcMs ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString reasonTitle(std::optional<EndReason> reason)
{
    if (!reason)
        return QStringLiteral("ещё ждёт");
    switch (*reason) {
    case EndReason::ServerCancel:
        return QStringLiteral("отмена сервером");
    case EndReason::Click:
        return QStringLiteral("щелчок на консоли");
    case EndReason::Timeout:
        return QStringLiteral("таймаут");
    case EndReason::BedDeleted:
        return QStringLiteral("койка удалена");
    case EndReason::ConsoleClosed:
        return QStringLiteral("консоль закрыта");
    case EndReason::Restored:
        return QStringLiteral("восстановлен после перезапуска");
    case EndReason::Interrupted:
        return QStringLiteral("консоль прервана");
    }
    return QString();
}

// The period the report covers, as the reader sees it.
QString periodText(const Report &r)
{
    const auto moment = [](journal::UtcMs ms) -> QString {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    };
    const QString from = r.filter.from ? moment(*r.filter.from)
        : r.firstCall                  ? moment(*r.firstCall)
                                       : kDash;
    const QString to = r.filter.to ? moment(*r.filter.to - 1)
        : r.lastCall               ? moment(*r.lastCall)
                                   : kDash;
    return QStringLiteral("с %1 по %2 (местное время, по началу вызова)").arg(from, to);
}

QString thresholdText(const Report &r)
{
    return r.overdueSec ? QStringLiteral("%1 с").arg(*r.overdueSec) : QStringLiteral("не записан");
}

// The columns of every figures table, after its key columns.
const QStringList kFigureTitles = {
    QStringLiteral("Вызовов"),   QStringLiteral("Отвечено"),   QStringLiteral("Медиана, с"),
    QStringLiteral("90 %, с"),   QStringLiteral("Просрочено"), QStringLiteral("Таймаут"),
    QStringLiteral("Со счётом"),
};

QStringList figureCells(const Stats &s)
{
    return { QString::number(s.calls), QString::number(s.answered), secondsText(s.medianMs),
             secondsText(s.p90Ms),     QString::number(s.overdue),  QString::number(s.timeouts),
             QString::number(s.bills) };
}

// A text table: the first `left` columns aligned left, the others right.
QString textTable(const QStringList &titles, const QList<QStringList> &rows, int left)
{
    QList<qsizetype> widths;
    for (const QString &t : titles)
        widths.append(t.size());
    for (const QStringList &row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    const auto line = [&](const QStringList &cells) -> QString {
        QString out = QStringLiteral(" ");
        for (qsizetype i = 0; i < cells.size(); ++i) {
            out += u' ';
            out +=
                i < left ? cells[i].leftJustified(widths[i]) : cells[i].rightJustified(widths[i]);
        }
        return out + u'\n';
    };
    QString out = line(titles);
    for (const QStringList &row : rows)
        out += line(row);
    return out;
}

QString hourText(int h)
{
    return QStringLiteral("%1:00–%2:00")
        .arg(h, 2, 10, QLatin1Char('0'))
        .arg(h + 1, 2, 10, QLatin1Char('0'));
}

// --- HTML -------------------------------------------------------------------

QString esc(const QString &s)
{
    return s.toHtmlEscaped();
}

QString num(double v)
{
    return QString::number(v, 'f', 1);
}

// A step for an axis: 1, 2 or 5 times a power of ten, giving about `ticks`
// ticks up to `max`.
double niceStep(double max, int ticks)
{
    if (max <= 0)
        return 1;
    const double raw = max / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : { 1.0, 2.0, 5.0, 10.0 }) {
        if (m * power >= raw)
            return m * power;
    }
    return 10 * power;
}

QString htmlTable(const QStringList &titles, const QList<QStringList> &rows, int left)
{
    QString out = QStringLiteral("<table><thead><tr>");
    for (qsizetype i = 0; i < titles.size(); ++i)
        out += (i < left ? QStringLiteral("<th class=\"l\">") : QStringLiteral("<th>"))
            + esc(titles[i]) + QStringLiteral("</th>");
    out += QStringLiteral("</tr></thead><tbody>\n");
    for (const QStringList &row : rows) {
        out += QStringLiteral("<tr>");
        for (qsizetype i = 0; i < row.size(); ++i)
            out += (i < left ? QStringLiteral("<td class=\"l\">") : QStringLiteral("<td>"))
                + esc(row[i]) + QStringLiteral("</td>");
        out += QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</tbody></table>\n");
}

// Calls per hour of the day, the overdue ones in maroon at the foot of each bar.
QString hoursChart(const Report &r)
{
    const double w = 760, h = 260, left = 48, bottom = 34, top = 14;
    qint64 max = 0;
    for (const Stats &s : r.hours)
        max = std::max(max, s.calls);
    const double step = niceStep(double(max), 5);
    const double ceiling = std::max(step, std::ceil(double(max) / step) * step);
    const double plotH = h - bottom - top, slot = (w - left - 10) / 24;
    const auto y = [&](double v) { return top + plotH - v / ceiling * plotH; };
    QString svg =
        QStringLiteral("<svg viewBox=\"0 0 %1 %2\" width=\"%1\" height=\"%2\" role=\"img\" "
                       "aria-label=\"Вызовы по часам суток\">")
            .arg(w)
            .arg(h);
    for (double v = 0; v <= ceiling + 0.5; v += step) {
        svg += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" class=\"grid\"/>"
                              "<text x=\"%4\" y=\"%5\" class=\"ax\" text-anchor=\"end\">%6</text>")
                   .arg(left)
                   .arg(w - 10)
                   .arg(num(y(v)))
                   .arg(left - 6)
                   .arg(num(y(v) + 4))
                   .arg(qint64(v));
    }
    for (int hr = 0; hr < 24; ++hr) {
        const Stats &s = r.hours[hr];
        const double x = left + hr * slot + slot * 0.15, bw = slot * 0.7;
        svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" class=\"calls\">"
                              "<title>%5: %6 вызовов, просрочено %7</title></rect>")
                   .arg(num(x))
                   .arg(num(y(double(s.calls))))
                   .arg(num(bw))
                   .arg(num(plotH - (y(double(s.calls)) - top)))
                   .arg(hourText(hr))
                   .arg(s.calls)
                   .arg(s.overdue);
        if (s.overdue > 0)
            svg += QStringLiteral(
                       "<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" class=\"over\"/>")
                       .arg(num(x))
                       .arg(num(y(double(s.overdue))))
                       .arg(num(bw))
                       .arg(num(plotH - (y(double(s.overdue)) - top)));
        svg +=
            QStringLiteral("<text x=\"%1\" y=\"%2\" class=\"ax\" text-anchor=\"middle\">%3</text>")
                .arg(num(left + hr * slot + slot / 2))
                .arg(h - bottom + 16)
                .arg(hr);
    }
    svg += QStringLiteral(
               "<text x=\"%1\" y=\"%2\" class=\"ax\" text-anchor=\"middle\">час суток</text>")
               .arg(num(left + (w - left - 10) / 2))
               .arg(h - 4);
    return svg + QStringLiteral("</svg>");
}

// How long answered calls waited, in bins, with the overdue threshold marked.
QString waitsChart(const Report &r)
{
    const double w = 760, h = 260, left = 56, bottom = 34, top = 22;
    const std::vector<qint64> &waits = r.waitsMs;
    if (waits.empty())
        return QStringLiteral("<p>Отвеченных вызовов нет.</p>");
    const double threshold = r.overdueSec ? *r.overdueSec * 1000.0 : 0;
    const double reach = std::max(*percentile(waits, 99), threshold * 1.25);
    double binMs = 1000;
    for (const double s : { 1, 2, 5, 10, 15, 20, 30, 60, 120, 300, 600, 1800, 3600 }) {
        binMs = s * 1000;
        if (reach / binMs <= 36)
            break;
    }
    const int bins = std::max(1, int(std::ceil(reach / binMs))) + 1; // the last: everything beyond
    std::vector<qint64> counts(std::size_t(bins), 0);
    for (const qint64 v : waits)
        ++counts[std::size_t(std::min<qint64>(v / qint64(binMs), bins - 1))];
    const qint64 max = *std::max_element(counts.begin(), counts.end());
    const double step = niceStep(double(max), 5);
    const double ceiling = std::max(step, std::ceil(double(max) / step) * step);
    const double plotW = w - left - 10, plotH = h - bottom - top, slot = plotW / bins;
    const auto y = [&](double v) { return top + plotH - v / ceiling * plotH; };
    QString svg =
        QStringLiteral("<svg viewBox=\"0 0 %1 %2\" width=\"%1\" height=\"%2\" role=\"img\" "
                       "aria-label=\"Распределение времени ожидания\">")
            .arg(w)
            .arg(h);
    for (double v = 0; v <= ceiling + 0.5; v += step)
        svg += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" class=\"grid\"/>"
                              "<text x=\"%4\" y=\"%5\" class=\"ax\" text-anchor=\"end\">%6</text>")
                   .arg(left)
                   .arg(w - 10)
                   .arg(num(y(v)))
                   .arg(left - 6)
                   .arg(num(y(v) + 4))
                   .arg(qint64(v));
    const int labelEvery = std::max(1, bins / 12);
    for (int b = 0; b < bins; ++b) {
        const double from = b * binMs / 1000;
        const QString range = b == bins - 1
            ? QStringLiteral("%1 с и дольше").arg(from)
            : QStringLiteral("%1–%2 с").arg(from).arg(from + binMs / 1000);
        const bool late = threshold > 0 && b * binMs >= threshold;
        svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" class=\"%5\">"
                              "<title>%6: %7 вызовов</title></rect>")
                   .arg(num(left + b * slot + 1))
                   .arg(num(y(double(counts[b]))))
                   .arg(num(std::max(1.0, slot - 2)))
                   .arg(num(plotH - (y(double(counts[b])) - top)))
                   .arg(late ? QStringLiteral("over") : QStringLiteral("calls"))
                   .arg(range)
                   .arg(counts[b]);
        if (b % labelEvery == 0)
            svg += QStringLiteral(
                       "<text x=\"%1\" y=\"%2\" class=\"ax\" text-anchor=\"middle\">%3</text>")
                       .arg(num(left + b * slot))
                       .arg(h - bottom + 16)
                       .arg(from);
    }
    if (threshold > 0) {
        const double x = left + threshold / binMs * slot;
        svg += QStringLiteral(
                   "<line x1=\"%1\" x2=\"%1\" y1=\"%2\" y2=\"%3\" class=\"limit\"/>"
                   "<text x=\"%4\" y=\"%5\" class=\"limit-text\">порог просрочки %6 с</text>")
                   .arg(num(x))
                   .arg(top - 8)
                   .arg(top + plotH)
                   .arg(num(x + 5))
                   .arg(top - 10 + 12)
                   .arg(*r.overdueSec);
    }
    svg += QStringLiteral(
               "<text x=\"%1\" y=\"%2\" class=\"ax\" text-anchor=\"middle\">секунд до ответа"
               "</text>")
               .arg(num(left + plotW / 2))
               .arg(h - 4);
    return svg + QStringLiteral("</svg>");
}

// The beds whose 90th percentile is highest: median and 90th percentile bars.
QString longestChart(const Report &r)
{
    QList<const BedStats *> beds;
    for (const BedStats &b : r.beds) {
        if (b.stats.p90Ms)
            beds.append(&b);
    }
    std::sort(beds.begin(), beds.end(), [](const BedStats *a, const BedStats *b) {
        return *a->stats.p90Ms > *b->stats.p90Ms
            || (*a->stats.p90Ms == *b->stats.p90Ms && a->code < b->code);
    });
    beds = beds.mid(0, 10);
    if (beds.isEmpty())
        return QStringLiteral("<p>Отвеченных вызовов нет.</p>");
    const double w = 760, rowH = 26, left = 230, top = 8;
    const double h = top + rowH * beds.size() + 30;
    const double max = *beds.first()->stats.p90Ms;
    const double step = niceStep(max / 1000, 5) * 1000;
    const double ceiling = std::max(step, std::ceil(max / step) * step);
    const double plotW = w - left - 20;
    const auto x = [&](double ms) { return left + ms / ceiling * plotW; };
    QString svg =
        QStringLiteral("<svg viewBox=\"0 0 %1 %2\" width=\"%1\" height=\"%2\" role=\"img\" "
                       "aria-label=\"Койки с самым долгим ожиданием\">")
            .arg(w)
            .arg(num(h));
    for (double v = 0; v <= ceiling + 1; v += step)
        svg +=
            QStringLiteral("<line x1=\"%1\" x2=\"%1\" y1=\"%2\" y2=\"%3\" class=\"grid\"/>"
                           "<text x=\"%1\" y=\"%4\" class=\"ax\" text-anchor=\"middle\">%5</text>")
                .arg(num(x(v)))
                .arg(top)
                .arg(num(h - 26))
                .arg(num(h - 10))
                .arg(v / 1000);
    for (qsizetype i = 0; i < beds.size(); ++i) {
        const BedStats &b = *beds[i];
        const double y = top + i * rowH;
        const QString label = b.name.isEmpty() ? b.code : b.code + QStringLiteral(" · ") + b.name;
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" class=\"lab\" text-anchor=\"end\">%3</text>")
                   .arg(left - 8)
                   .arg(num(y + 17))
                   .arg(esc(label.left(34)));
        svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"9\" class=\"p90\">"
                              "<title>90 %: %4 с</title></rect>"
                              "<rect x=\"%1\" y=\"%5\" width=\"%6\" height=\"9\" class=\"med\">"
                              "<title>медиана: %7 с</title></rect>")
                   .arg(left)
                   .arg(num(y + 3))
                   .arg(num(x(*b.stats.p90Ms) - left))
                   .arg(secondsText(b.stats.p90Ms))
                   .arg(num(y + 13))
                   .arg(num(x(*b.stats.medianMs) - left))
                   .arg(secondsText(b.stats.medianMs));
    }
    return svg + QStringLiteral("</svg>");
}

const char *const kStyle = R"(
body { font: 14px/1.4 "DejaVu Sans", Tahoma, Arial, sans-serif; color: #1b1b1b; margin: 24px 32px; background: #fff; }
h1 { font-size: 24px; margin: 0 0 6px; }
h2 { font-size: 18px; margin: 28px 0 8px; border-bottom: 1px solid #ccd; padding-bottom: 3px; }
p.meta { margin: 2px 0; color: #444; }
table { border-collapse: collapse; margin: 6px 0 4px; }
th, td { padding: 3px 10px; border-bottom: 1px solid #e3e3ea; text-align: right; white-space: nowrap; }
th { background: #eef0f6; font-weight: bold; }
th.l, td.l { text-align: left; }
tbody tr:nth-child(even) td { background: #f8f8fb; }
.cards { display: flex; flex-wrap: wrap; gap: 10px; margin: 12px 0; }
.card { border: 1px solid #d5d8e3; border-radius: 6px; padding: 8px 14px; min-width: 110px; }
.card b { display: block; font-size: 22px; }
.card span { color: #555; font-size: 12px; }
svg { display: block; margin: 6px 0; }
svg .grid { stroke: #e2e4ec; stroke-width: 1; }
svg .ax { font-size: 11px; fill: #555; }
svg .lab { font-size: 12px; fill: #222; }
svg .calls { fill: #3f7f5f; }
svg .over { fill: #800000; }
svg .p90 { fill: #800000; }
svg .med { fill: #3f7f5f; }
svg .limit { stroke: #c00000; stroke-width: 2; stroke-dasharray: 6 4; }
svg .limit-text { font-size: 12px; fill: #c00000; font-weight: bold; }
.legend span { display: inline-block; margin-right: 16px; font-size: 12px; color: #444; }
.legend i { display: inline-block; width: 11px; height: 11px; margin-right: 5px; vertical-align: -1px; }
)";

} // namespace

QString secondsText(std::optional<double> ms)
{
    if (!ms)
        return kDash;
    return QString::number(*ms / 1000.0, 'f', 1).replace(u'.', u',');
}

QString renderText(const Report &r)
{
    QString out;
    out += QStringLiteral("Отчёт по вызовам: %1\n").arg(r.journal);
    out += QStringLiteral("Период: %1\n").arg(periodText(r));
    if (!r.filter.bedCode.isEmpty())
        out += QStringLiteral("Койка: %1\n").arg(r.filter.bedCode);
    out += QStringLiteral("Порог просрочки: %1\n").arg(thresholdText(r));

    out += QStringLiteral("\nОтделение\n");
    out += textTable(kFigureTitles, { figureCells(r.ward) }, 0);

    out += QStringLiteral("\nПо койкам\n");
    QList<QStringList> beds;
    for (const BedStats &b : r.beds)
        beds.append(QStringList { b.code, b.name } + figureCells(b.stats));
    out += textTable(QStringList { QStringLiteral("Код"), QStringLiteral("Койка") } + kFigureTitles,
                     beds, 2);

    out += QStringLiteral("\nПо часам суток\n");
    QList<QStringList> hours;
    for (int h = 0; h < 24; ++h)
        hours.append(QStringList { hourText(h) } + figureCells(r.hours[h]));
    out += textTable(QStringList { QStringLiteral("Час") } + kFigureTitles, hours, 1);

    out += QStringLiteral("\nВызовов без ответа: %1 (список: --html)\n").arg(r.unanswered.size());
    return out;
}

QByteArray renderCsv(const Report &r)
{
    const auto field = [](QString s) -> QString {
        if (s.contains(u';') || s.contains(u'"') || s.contains(u'\n') || s.contains(u'\r'))
            s = u'"' + s.replace(u'"', QStringLiteral("\"\"")) + u'"';
        return s;
    };
    const auto row = [&](const QStringList &cells) -> QString {
        QStringList out;
        for (const QString &c : cells)
            out.append(field(c));
        return out.join(u';') + QStringLiteral("\r\n");
    };
    const auto cells = [](const Stats &s) {
        QStringList c = figureCells(s);
        for (QString &v : c) {
            if (v == kDash)
                v.clear();
        }
        return c;
    };
    QString out = row(QStringList { QStringLiteral("Раздел"), QStringLiteral("Код"),
                                    QStringLiteral("Койка"), QStringLiteral("Час") }
                      + kFigureTitles);
    out += row(QStringList { QStringLiteral("Отделение"), QString(), QString(), QString() }
               + cells(r.ward));
    for (const BedStats &b : r.beds)
        out += row(QStringList { QStringLiteral("Койка"), b.code, b.name, QString() }
                   + cells(b.stats));
    for (int h = 0; h < 24; ++h)
        out += row(QStringList { QStringLiteral("Час"), QString(), QString(), QString::number(h) }
                   + cells(r.hours[h]));
    return "\xEF\xBB\xBF" + out.toUtf8();
}

QByteArray renderHtml(const Report &r, const QString &generatedAt)
{
    QString out;
    out += QStringLiteral("<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width\">"
                          "<title>Отчёт по вызовам</title><style>")
        + QString::fromUtf8(kStyle) + QStringLiteral("</style></head><body>\n");
    out += QStringLiteral("<h1>Отчёт по вызовам</h1>\n");
    out += QStringLiteral("<p class=\"meta\">Журнал: %1</p>\n")
               .arg(esc(QFileInfo(r.journal).fileName()));
    out += QStringLiteral("<p class=\"meta\">Период: %1</p>\n").arg(esc(periodText(r)));
    if (!r.filter.bedCode.isEmpty())
        out += QStringLiteral("<p class=\"meta\">Койка: %1</p>\n").arg(esc(r.filter.bedCode));
    out += QStringLiteral("<p class=\"meta\">Порог просрочки: %1. Отчёт составлен %2.</p>\n")
               .arg(thresholdText(r), esc(generatedAt));

    const Stats &s = r.ward;
    const auto card = [](const QString &value, const QString &title) -> QString {
        return QStringLiteral("<div class=\"card\"><b>%1</b><span>%2</span></div>")
            .arg(esc(value), esc(title));
    };
    out += QStringLiteral("<div class=\"cards\">")
        + card(QString::number(s.calls), QStringLiteral("вызовов"))
        + card(QString::number(s.answered), QStringLiteral("отвечено"))
        + card(secondsText(s.medianMs) + QStringLiteral(" с"), QStringLiteral("медиана ожидания"))
        + card(secondsText(s.p90Ms) + QStringLiteral(" с"),
               QStringLiteral("90 % вызовов ждали не дольше"))
        + card(QString::number(s.overdue), QStringLiteral("просрочено"))
        + card(QString::number(s.timeouts), QStringLiteral("без ответа (таймаут)"))
        + card(QString::number(s.bills), QStringLiteral("со счётом")) + QStringLiteral("</div>\n");

    out += QStringLiteral(
               "<h2>Вызовы по часам суток</h2>\n<div class=\"legend\"><span><i style=\"background:"
               "#3f7f5f\"></i>все вызовы</span><span><i style=\"background:#800000\"></i>из них "
               "просроченные</span></div>\n")
        + hoursChart(r) + u'\n';
    out += QStringLiteral(
               "<h2>Время ожидания ответа</h2>\n<p class=\"meta\">Отвеченные вызовы (щелчок на "
               "консоли или отмена сервером); красным — ждавшие дольше порога просрочки.</p>\n")
        + waitsChart(r) + u'\n';
    out +=
        QStringLiteral("<h2>Койки с самым долгим ожиданием</h2>\n<div class=\"legend\"><span><i "
                       "style=\"background:#800000\"></i>90 %, с</span><span><i style=\"background:"
                       "#3f7f5f\"></i>медиана, с</span></div>\n")
        + longestChart(r) + u'\n';

    out += QStringLiteral("<h2>По койкам</h2>\n");
    QList<QStringList> beds;
    for (const BedStats &b : r.beds)
        beds.append(QStringList { b.code, b.name } + figureCells(b.stats));
    out += htmlTable(QStringList { QStringLiteral("Код"), QStringLiteral("Койка") } + kFigureTitles,
                     beds, 2);

    out += QStringLiteral("<h2>По часам суток</h2>\n");
    QList<QStringList> hours;
    for (int h = 0; h < 24; ++h)
        hours.append(QStringList { hourText(h) } + figureCells(r.hours[h]));
    out += htmlTable(QStringList { QStringLiteral("Час") } + kFigureTitles, hours, 1);

    out += QStringLiteral("<h2>Вызовы без ответа (%1)</h2>\n").arg(r.unanswered.size());
    QList<QStringList> calls;
    for (const auto &c : r.unanswered) {
        const std::optional<double> lasted =
            c.endedUtc ? std::optional<double>(double(*c.endedUtc - c.startedUtc)) : std::nullopt;
        calls.append({ localTime(c.startedUtc), c.bedCode, c.bedName, c.responsible,
                       c.type == journal::CallType::Bill ? QStringLiteral("со счётом")
                                                         : QStringLiteral("вызов"),
                       secondsText(lasted),
                       c.overdueUtc ? QStringLiteral("да") : QStringLiteral("нет"),
                       reasonTitle(c.endReason) });
    }
    out += htmlTable({ QStringLiteral("Начало"), QStringLiteral("Код"), QStringLiteral("Койка"),
                       QStringLiteral("Ответственный"), QStringLiteral("Тип"),
                       QStringLiteral("Длился, с"), QStringLiteral("Просрочен"),
                       QStringLiteral("Чем закончился") },
                     calls, 5);
    out += QStringLiteral("</body></html>\n");
    return out.toUtf8();
}

} // namespace kalvora::report
