#pragma once

#include "Figures.h"

#include <QByteArray>
#include <QString>

namespace kalvora::report {

// The summary for the terminal: the ward, every bed and every hour in
// aligned columns, Russian headings, times in seconds.
QString renderText(const Report &report);

// The figures as CSV for a spreadsheet: UTF-8 with a byte-order mark, ";"
// between fields, CR LF line ends, decimal comma; one row for the ward, one
// per bed, one per hour of the day (the first column says which).
QByteArray renderCsv(const Report &report);

// The report as one self-contained HTML page: inline styles and SVG charts
// (calls per hour, the distribution of times to answer with the overdue
// threshold, the beds with the longest waits), the tables, and every
// unanswered call. Nothing is fetched from anywhere.
QByteArray renderHtml(const Report &report, const QString &generatedAt);

// Seconds with one decimal and a decimal comma; a dash without a value.
//   45230 ms => "45,2"
QString secondsText(std::optional<double> ms);

} // namespace kalvora::report
