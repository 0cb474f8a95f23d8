#include "threadedworker.h"

namespace vek::test {

ThreadedWorker::ThreadedWorker(int delayDivisor, std::chrono::milliseconds replyTimeout)
{
    agent::RegisterAgentMetaTypes();
    auto recording = std::make_unique<RecordingScheduler>(delayDivisor);
    m_scheduler = recording.get();
    m_worker = new agent::AgentWorker(std::move(recording));
    m_worker->setReplyTimeout(replyTimeout);
    m_worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

ThreadedWorker::~ThreadedWorker()
{
    stop();
    m_thread.quit();
    m_thread.wait();
}

void ThreadedWorker::start(const agent::AgentConfig &config)
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker, config] { w->start(config); });
}

void ThreadedWorker::stop()
{
    QMetaObject::invokeMethod(m_worker, &agent::AgentWorker::stop, Qt::QueuedConnection);
}

void ThreadedWorker::shutdownWhenIdle()
{
    QMetaObject::invokeMethod(
        m_worker, &agent::AgentWorker::shutdownWhenIdle, Qt::QueuedConnection);
}

void ThreadedWorker::flush()
{
    QMetaObject::invokeMethod(
        m_worker, [] {}, Qt::BlockingQueuedConnection);
}

agent::AgentConfig ThreadedWorker::EnrolledConfig(const QString &baseUrl)
{
    agent::AgentConfig config;
    config.nodeBaseUrl = baseUrl;
    config.deviceId = "vekpa-0123456789abcdef0123456789abcdef";
    config.displayName = "Reception";
    config.token = "node-credential";
    return config;
}

}  // namespace vek::test
