#include "tickscheduler.h"

#include <QTimer>

namespace vek::agent {

TickScheduler::~TickScheduler() = default;

std::chrono::milliseconds TickScheduler::now() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

namespace {
class TimerScheduler final : public TickScheduler {
public:
    void schedule(
        QObject *context, std::chrono::milliseconds delay, std::function<void()> task) override
    {
        QTimer::singleShot(delay, context, std::move(task));
    }
};
}  // namespace

std::unique_ptr<TickScheduler> MakeTimerScheduler()
{
    return std::make_unique<TimerScheduler>();
}

}  // namespace vek::agent
