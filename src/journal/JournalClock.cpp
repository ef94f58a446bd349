#include "JournalClock.h"

#include <QDateTime>
#include <QElapsedTimer>

namespace kalvora::journal {

namespace {

class SystemClock final : public JournalClock {
public:
    qint64 wallMs() const override { return QDateTime::currentMSecsSinceEpoch(); }
    qint64 monotonicMs() const override
    {
        // QElapsedTimer's reference is CLOCK_MONOTONIC here: it is slewed by
        // time synchronisation but never steps.
        QElapsedTimer timer;
        timer.start();
        return timer.msecsSinceReference();
    }
};

} // namespace

std::shared_ptr<JournalClock> systemClock()
{
    static const auto clock = std::make_shared<SystemClock>();
    return clock;
}

} // namespace kalvora::journal
