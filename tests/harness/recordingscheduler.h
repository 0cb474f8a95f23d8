#pragma once
// A TickScheduler for tests with the worker on its own thread: real timers,
// with every delay shortened by a factor and recorded for the test to read.

#include "agent/tickscheduler.h"

#include <QList>
#include <QMutex>
#include <QTimer>

#include <atomic>
#include <chrono>

class RecordingScheduler final : public vek::agent::TickScheduler {
public:
    explicit RecordingScheduler(int divisor)
        : divisor(divisor)
    {
    }

    void schedule(
        QObject *context, std::chrono::milliseconds delay, std::function<void()> task) override
    {
        {
            QMutexLocker lock(&mutex);
            recorded.append(delay);
        }
        QTimer::singleShot(delay / divisor, context, std::move(task));
    }

    // The real monotonic clock, moved on by what the test has skipped.
    std::chrono::milliseconds now() const override
    {
        return TickScheduler::now() + std::chrono::milliseconds(skipped.load());
    }
    void skip(std::chrono::milliseconds time) { skipped += time.count(); }

    QList<std::chrono::milliseconds> delays() const
    {
        QMutexLocker lock(&mutex);
        return recorded;
    }

private:
    const int divisor;
    mutable QMutex mutex;
    QList<std::chrono::milliseconds> recorded;
    std::atomic<long long> skipped { 0 };
};
