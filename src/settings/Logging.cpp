#include "Logging.h"

namespace kalvora {
Q_LOGGING_CATEGORY(lcApp, "kalvora.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSettings, "kalvora.settings", QtInfoMsg)
Q_LOGGING_CATEGORY(lcBeds, "kalvora.beds", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLink, "kalvora.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCalls, "kalvora.calls", QtInfoMsg)
Q_LOGGING_CATEGORY(lcData, "kalvora.data", QtInfoMsg)
} // namespace kalvora
