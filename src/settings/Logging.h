#pragma once

#include <QLoggingCategory>

// The console's logging categories. Warnings and errors go to standard error
// (and, under a service manager, to its journal); debug lines are off unless
// switched on, for example QT_LOGGING_RULES="kalvora.*.debug=true".
namespace kalvora {
Q_DECLARE_LOGGING_CATEGORY(lcApp) // "kalvora.app": start-up and closing
Q_DECLARE_LOGGING_CATEGORY(lcSettings) // "kalvora.settings": the settings file
Q_DECLARE_LOGGING_CATEGORY(lcBeds) // "kalvora.beds": the bed file, its loading and saving
Q_DECLARE_LOGGING_CATEGORY(lcLink) // "kalvora.link": the listener, the ping, the server's presence
Q_DECLARE_LOGGING_CATEGORY(lcCalls) // "kalvora.calls": calls and the call list
Q_DECLARE_LOGGING_CATEGORY(lcData) // "kalvora.data": the pictures and sounds of the data folder
} // namespace kalvora
