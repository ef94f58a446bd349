#pragma once

#include "Protocol.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace kalvora::callsim {

struct ScenarioStep {
    qint64 delayMs = 0; // wait this long after the previous step (or the start)
    Event event;
    int line = 0;
};

// Parses a scenario (see scenarioFormatHelp()). Errors read "FILE:LINE: what is wrong".
std::optional<QList<ScenarioStep>> parseScenario(const QByteArray &data, const QString &fileName,
                                                 QString *error);
std::optional<QList<ScenarioStep>> loadScenario(const QString &path, QString *error);

qint64 totalDelayMs(const QList<ScenarioStep> &steps);

// The format, as shown by "play --help".
QString scenarioFormatHelp();

} // namespace kalvora::callsim
