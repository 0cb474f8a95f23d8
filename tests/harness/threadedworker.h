#pragma once
// The real worker on a thread of its own, driven as the tray drives it:
// through queued calls only. Delays run on real timers shortened by a
// divisor and are recorded (RecordingScheduler).

#include "recordingscheduler.h"

#include "agent/agentworker.h"

#include <QThread>

#include <chrono>

namespace vek::test {

class ThreadedWorker {
public:
    explicit ThreadedWorker(int delayDivisor = 100,
        std::chrono::milliseconds replyTimeout = std::chrono::milliseconds(500));
    ~ThreadedWorker();  // stops the worker and ends its thread

    agent::AgentWorker *worker() const { return m_worker; }
    const RecordingScheduler &scheduler() const { return *m_scheduler; }
    // Moves the worker's clock on, as if that much time had passed.
    void skipTime(std::chrono::milliseconds time) { m_scheduler->skip(time); }

    void start(const agent::AgentConfig &config);
    void stop();
    void shutdownWhenIdle();

    // Returns once the worker's thread has handled everything queued to it
    // before this call, so a test can prove that nothing (more) happened.
    void flush();

    // A configuration enrolled with a node at baseUrl.
    static agent::AgentConfig EnrolledConfig(const QString &baseUrl);

private:
    QThread m_thread;
    agent::AgentWorker *m_worker = nullptr;  // deleted on its thread's end
    RecordingScheduler *m_scheduler = nullptr;  // owned by the worker
};

}  // namespace vek::test
