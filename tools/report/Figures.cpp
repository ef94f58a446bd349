#include "Figures.h"

#include <QDateTime>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <map>

namespace kalvora::report {

namespace {

using journal::EndReason;
using journal::JournalReader;

// The calls of one group while they are read: the counts, and the times to
// answer, sorted at the end.
struct Tally {
    Stats stats;
    std::vector<qint64> waits;

    void add(const JournalReader::Call &call)
    {
        ++stats.calls;
        stats.overdue += call.overdue;
        stats.bills += call.bill;
        if (call.endReason == EndReason::Timeout)
            ++stats.timeouts;
        if ((call.endReason == EndReason::Click || call.endReason == EndReason::ServerCancel)
            && call.durationMs >= 0) {
            ++stats.answered;
            waits.push_back(call.durationMs);
        }
    }

    Stats finish()
    {
        std::sort(waits.begin(), waits.end());
        stats.medianMs = percentile(waits, 50);
        stats.p90Ms = percentile(waits, 90);
        return stats;
    }
};

// The local hour of a moment. Time-zone offsets change on whole hours, so
// one lookup per UTC hour serves every call in it.
class LocalHours {
public:
    int hourOf(qint64 utcMs)
    {
        const qint64 utcHour = utcMs >= 0 ? utcMs / 3600000 : (utcMs - 3599999) / 3600000;
        auto it = m_offsets.constFind(utcHour);
        if (it == m_offsets.constEnd()) {
            const int offset = QDateTime::fromMSecsSinceEpoch(utcHour * 3600000).offsetFromUtc();
            it = m_offsets.insert(utcHour, offset);
        }
        const qint64 local = utcMs + qint64(*it) * 1000;
        const qint64 dayMs = 86400000;
        return int(((local % dayMs) + dayMs) % dayMs / 3600000);
    }

private:
    QHash<qint64, int> m_offsets;
};

// Bed codes in the order a person expects: numbers by value, then text.
//   "9" < "10" < "101" < "1001" < "A2"
bool codeLess(const QString &a, const QString &b)
{
    bool aNumber = false, bNumber = false;
    const qulonglong x = a.toULongLong(&aNumber), y = b.toULongLong(&bNumber);
    if (aNumber && bNumber && x != y)
        return x < y;
    if (aNumber != bNumber)
        return aNumber;
    return a.compare(b, Qt::CaseInsensitive) < 0
        || (a.compare(b, Qt::CaseInsensitive) == 0 && a < b);
}

} // namespace

std::optional<double> percentile(const std::vector<qint64> &sorted, double p)
{
    if (sorted.empty())
        return std::nullopt;
    const double rank = p / 100.0 * double(sorted.size() - 1);
    const auto low = std::size_t(std::floor(rank));
    const std::size_t high = std::min(low + 1, sorted.size() - 1);
    return double(sorted[low]) + (rank - double(low)) * double(sorted[high] - sorted[low]);
}

Expected<Report> buildReport(JournalReader &reader, const QString &journalPath,
                             const JournalReader::Filter &filter)
{
    Report report;
    report.journal = journalPath;
    report.filter = filter;

    Tally ward;
    std::map<QString, Tally> beds;
    std::array<Tally, 24> hours;
    LocalHours local;
    Tally *lastBed = nullptr;
    QString lastCode;
    const Status read = reader.forEachCall(filter, [&](const JournalReader::Call &call) {
        ward.add(call);
        if (!lastBed || call.bedCode != lastCode) {
            lastCode = call.bedCode;
            lastBed = &beds[call.bedCode];
        }
        lastBed->add(call);
        hours[local.hourOf(call.startedUtc)].add(call);
        if (!report.firstCall || call.startedUtc < *report.firstCall)
            report.firstCall = call.startedUtc;
        if (!report.lastCall || call.startedUtc > *report.lastCall)
            report.lastCall = call.startedUtc;
    });
    if (read)
        return Expected<Report>::failure(*read);

    auto names = reader.bedNames(filter);
    if (!names)
        return Expected<Report>::failure(names.error());
    auto unanswered = reader.unansweredCalls(filter);
    if (!unanswered)
        return Expected<Report>::failure(unanswered.error());
    auto threshold = reader.overdueThreshold(filter);
    if (!threshold)
        return Expected<Report>::failure(threshold.error());

    report.ward = ward.finish();
    report.waitsMs = std::move(ward.waits);
    for (auto &[code, tally] : beds)
        report.beds.append({ code, names->value(code), tally.finish() });
    std::sort(report.beds.begin(), report.beds.end(),
              [](const BedStats &a, const BedStats &b) { return codeLess(a.code, b.code); });
    for (int h = 0; h < 24; ++h)
        report.hours[h] = hours[h].finish();
    report.unanswered = std::move(unanswered).value();
    report.overdueSec = *threshold;
    return report;
}

} // namespace kalvora::report
