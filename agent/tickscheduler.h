#pragma once
// Single-shot delays of the worker (poll ticks, deferred slot calls) go
// through this seam, so that tests can observe and drive the delays instead
// of sleeping through them.

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

namespace vek::agent {

class TickScheduler {
public:
    virtual ~TickScheduler();
    // Calls task on context's thread after delay, unless context is gone by then.
    virtual void schedule(
        QObject *context, std::chrono::milliseconds delay, std::function<void()> task)
        = 0;
    // A monotonic clock for back-off and refresh intervals, so that a clock
    // set back stalls nothing; tests return a time they advance themselves.
    virtual std::chrono::milliseconds now() const;
};

// The real thing: a single-shot timer of the default timer type.
std::unique_ptr<TickScheduler> MakeTimerScheduler();

}  // namespace vek::agent
