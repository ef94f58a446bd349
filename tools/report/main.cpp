// kalvora-report: the call journal's figures for a ward manager (see docs/JOURNAL.md).

#include "Figures.h"
#include "Options.h"
#include "Render.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSaveFile>
#include <QTextStream>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    using kalvora::report::ParseOutcome;
    const ParseOutcome outcome = kalvora::report::parseArguments(QCoreApplication::arguments());
    QTextStream out(stdout);
    QTextStream err(stderr);
    switch (outcome.action) {
    case ParseOutcome::Action::Help:
    case ParseOutcome::Action::Version:
        out << outcome.text;
        return 0;
    case ParseOutcome::Action::Error:
        err << outcome.text << Qt::endl;
        return 2;
    case ParseOutcome::Action::Run:
        break;
    }
    const kalvora::report::Options &o = outcome.options;
    const auto fail = [&](const QString &message) {
        err << "kalvora-report: " << message << Qt::endl;
        return 1;
    };

    auto reader = kalvora::journal::JournalReader::open(o.journal);
    if (!reader)
        return fail(reader.error());
    const auto report = kalvora::report::buildReport(**reader, o.journal, o.filter);
    if (!report)
        return fail(report.error());

    QString error;
    if (!o.html.isEmpty()) {
        const QString now =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        if (!writeFile(o.html, kalvora::report::renderHtml(*report, now), &error))
            return fail(error);
    }
    if (!o.csv.isEmpty() && !writeFile(o.csv, kalvora::report::renderCsv(*report), &error))
        return fail(error);
    if (o.html.isEmpty() && o.csv.isEmpty())
        out << kalvora::report::renderText(*report);
    return 0;
}
