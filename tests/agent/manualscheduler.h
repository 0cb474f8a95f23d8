#pragma once
// A TickScheduler for tests: delays are recorded instead of waited for, and
// the test decides when each pending task runs.

#include "agent/tickscheduler.h"

#include <QList>
#include <QPointer>

#include <algorithm>
#include <chrono>

class ManualScheduler final : public vek::agent::TickScheduler {
public:
    struct Pending {
        std::chrono::milliseconds delay;
        QPointer<QObject> context;
        std::function<void()> task;
    };

    void schedule(
        QObject *context, std::chrono::milliseconds delay, std::function<void()> task) override
    {
        history.append(delay);
        pending.append({ delay, context, std::move(task) });
    }

    // Runs the pending task that a timer would fire first (shortest delay,
    // then the earliest scheduled); false when nothing is pending.
    bool fireNext()
    {
        if (pending.isEmpty())
            return false;
        const auto next = std::min_element(pending.begin(), pending.end(),
            [](const Pending &a, const Pending &b) { return a.delay < b.delay; });
        Pending task = *next;
        pending.erase(next);
        if (task.context)
            task.task();
        return true;
    }

    QList<std::chrono::milliseconds> pendingDelays() const
    {
        QList<std::chrono::milliseconds> delays;
        for (const Pending &p : pending)
            delays.append(p.delay);
        return delays;
    }

    std::chrono::milliseconds now() const override { return clock; }

    QList<std::chrono::milliseconds> history;  // every delay ever asked for
    std::chrono::milliseconds clock { 0 };  // the worker's monotonic clock; tests move it
    QList<Pending> pending;
};
