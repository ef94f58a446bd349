#pragma once

#include "Protocol.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace kalvora::callsim {

enum class Command { Serve, Send, Play, Load };

// Everything the command line says, checked.
struct Options {
    Command command = Command::Serve;
    QString pingText = QStringLiteral("#ToDovrelanServer");
    QString replyText = QStringLiteral("#FromDovrelanServer");
    quint16 serverPort = 5566; // the simulator answers pings here
    quint16 consolePort = 5567; // replies and events go here
    QHostAddress to { QHostAddress::LocalHost }; // the console (send, play, load)
    double duration = 0; // seconds; 0 runs until interrupted (serve, play)

    Event event; // send

    QString scenarioFile; // play
    bool loop = false;
    bool serve = true;

    double rate = 0; // load, events per second
    QStringList codes;
    QList<EventKind> mix { EventKind::Call, EventKind::Bill, EventKind::Cancel };
};

struct ParseOutcome {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Error;
    Options options;
    QString text; // the help or version text (for stdout), or the error (for stderr)
};

// arguments[0] is the program; the command comes next.
ParseOutcome parseArguments(const QStringList &arguments);

} // namespace kalvora::callsim
