// kalvora-callsim: plays the call server for the Kalvora console (see docs/callsim.md).

#include "Options.h"
#include "Runner.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    using kalvora::callsim::ParseOutcome;
    const ParseOutcome outcome = kalvora::callsim::parseArguments(QCoreApplication::arguments());
    switch (outcome.action) {
    case ParseOutcome::Action::Help:
    case ParseOutcome::Action::Version:
        QTextStream(stdout) << outcome.text;
        return 0;
    case ParseOutcome::Action::Error:
        QTextStream(stderr) << outcome.text << Qt::endl;
        return 2;
    case ParseOutcome::Action::Run:
        break;
    }
    return kalvora::callsim::run(outcome.options);
}
