// The worker's frame: start and stop, the busy flag, the shutdown for an
// update, and the back-off schedule. Delays are driven by a manual scheduler,
// so nothing here waits for a real timer.

#include "manualscheduler.h"

#include "agent/agentworker.h"
#include "agent/clinicapi.h"
#include "tests/harness/fakeclinicserver.h"

#include <QtTest>

using namespace std::chrono_literals;
using vek::agent::AgentConfig;
using vek::agent::AgentState;
using vek::agent::AgentWorker;
using vek::test::FakeClinicServer;
using vek::test::ScriptedReply;
namespace clinic = vek::agent::clinic;

class WorkerScheduleTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { vek::agent::RegisterAgentMetaTypes(); }
    void init();
    void cleanup();

    void backoffDelayTable_data();
    void backoffDelayTable();
    void startWithoutAddressOrCredential();
    void idleTicksBackOffAndCheckInEveryFourth();
    void pollNowAfterIdling();
    void shutdownWhenIdleWhileIdle();
    void shutdownWhenIdleDuringTick();
    void startDuringTickIsAppliedAfterIt();
    void tickTimerFiringDuringTickDoesNothing();
    void stopEndsPolling();

private:
    AgentConfig configFor(const QString &base) const;
    // Runs action once, from inside the worker's wait for the next claim reply.
    void duringNextClaim(std::function<void()> action);

    std::unique_ptr<FakeClinicServer> server;
    std::unique_ptr<AgentWorker> worker;
    ManualScheduler *scheduler = nullptr;
};

void WorkerScheduleTest::init()
{
    server = std::make_unique<FakeClinicServer>();
    QVERIFY(server->start());
    server->setReply(clinic::kCheckInPath, ScriptedReply::Json(200, {}));
    server->setReply(
        clinic::kClaimPath, ScriptedReply::Json(200, { { "order", QJsonValue::Null } }));
    auto manual = std::make_unique<ManualScheduler>();
    scheduler = manual.get();
    worker = std::make_unique<AgentWorker>(std::move(manual));
}

void WorkerScheduleTest::cleanup()
{
    worker.reset();
    server.reset();
}

AgentConfig WorkerScheduleTest::configFor(const QString &base) const
{
    AgentConfig config;
    config.nodeBaseUrl = base;
    config.deviceId = "vekpa-00112233445566778899aabbccddeeff";
    config.displayName = "Front desk";
    config.token = "tok";
    return config;
}

void WorkerScheduleTest::duringNextClaim(std::function<void()> action)
{
    // The claim answer is held back a little so the action runs while the
    // worker waits for it (its local event loop delivers our signal).
    server->queueReply(clinic::kClaimPath, ScriptedReply::Json(200, {}).after(50ms));
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(server.get(), &FakeClinicServer::requestReceived, this,
        [connection, action](const QString &path) {
            if (path != clinic::kClaimPath)
                return;
            disconnect(*connection);
            action();
        });
}

void WorkerScheduleTest::backoffDelayTable_data()
{
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("delayMs");
    const std::pair<int, int> rows[] = { { -1, 0 }, { 0, 0 }, { 1, 1000 }, { 2, 2000 }, { 3, 4000 },
        { 4, 8000 }, { 5, 15000 }, { 6, 15000 }, { 40, 15000 }, { INT_MAX, 15000 } };
    for (const auto &[failures, delay] : rows)
        QTest::addRow("%d", failures) << failures << delay;
}

void WorkerScheduleTest::backoffDelayTable()
{
    QFETCH(int, failures);
    QFETCH(int, delayMs);
    QCOMPARE(AgentWorker::backoffDelay(failures).count(), delayMs);
}

void WorkerScheduleTest::startWithoutAddressOrCredential()
{
    QSignalSpy states(worker.get(), &AgentWorker::stateChanged);
    AgentConfig config = configFor("");
    worker->start(config);
    config = configFor(server->baseUrl());
    config.token.clear();
    worker->start(config);
    QCOMPARE(states.size(), 2);
    QCOMPARE(states[0][0].value<AgentState>(), AgentState::NotConfigured);
    QCOMPARE(states[0][1].toString(), QString("No local node address has been set."));
    QCOMPARE(states[1][0].value<AgentState>(), AgentState::NotEnrolled);
    QCOMPARE(states[1][1].toString(), QString("This workstation has not been enrolled yet."));
    QVERIFY(scheduler->history.isEmpty());
}

void WorkerScheduleTest::idleTicksBackOffAndCheckInEveryFourth()
{
    QSignalSpy states(worker.get(), &AgentWorker::stateChanged);
    worker->start(configFor(server->baseUrl()));
    QCOMPARE(states.first()[0].value<AgentState>(), AgentState::Connecting);
    QCOMPARE(states.first()[1].toString(), QString("Connecting to the clinic…"));

    for (int tick = 0; tick < 9; ++tick)
        QVERIFY(scheduler->fireNext());

    QCOMPARE(scheduler->history,
        (QList<std::chrono::milliseconds> {
            0ms, 1000ms, 2000ms, 4000ms, 8000ms, 15000ms, 15000ms, 15000ms, 15000ms, 15000ms }));
    const QString in = clinic::kCheckInPath, claim = clinic::kClaimPath;
    QCOMPARE(server->paths(),
        (QStringList {
            in, claim, claim, claim, claim, in, claim, claim, claim, claim, in, claim }));
    // Ready on every empty claim, not only on a change.
    QCOMPARE(states.size(), 1 + 9);
    QCOMPARE(states.last()[0].value<AgentState>(), AgentState::Ready);
    QCOMPARE(states.last()[1].toString(), QString("Ready."));
}

void WorkerScheduleTest::pollNowAfterIdling()
{
    worker->start(configFor(server->baseUrl()));
    for (int tick = 0; tick < 6; ++tick)
        scheduler->fireNext();
    QCOMPARE(scheduler->pendingDelays(), QList<std::chrono::milliseconds> { 15000ms });

    worker->pollNow();
    QCOMPARE(scheduler->pendingDelays(), (QList<std::chrono::milliseconds> { 15000ms, 0ms }));
    const qsizetype before = server->requests().size();
    scheduler->fireNext();  // the immediate tick
    QCOMPARE(server->requests().size(), before + 1);
    QCOMPARE(scheduler->history.last(), 1000ms);
}

void WorkerScheduleTest::shutdownWhenIdleWhileIdle()
{
    QSignalSpy ready(worker.get(), &AgentWorker::shutdownReady);
    worker->start(configFor(server->baseUrl()));
    scheduler->fireNext();
    worker->shutdownWhenIdle();
    QCOMPARE(ready.size(), 1);

    const qsizetype before = server->requests().size();
    worker->start(configFor(server->baseUrl()));  // ignored while the shutdown is pending
    while (scheduler->fireNext()) { }
    QCOMPARE(server->requests().size(), before);
    QCOMPARE(ready.size(), 1);
}

void WorkerScheduleTest::shutdownWhenIdleDuringTick()
{
    QSignalSpy ready(worker.get(), &AgentWorker::shutdownReady);
    QSignalSpy states(worker.get(), &AgentWorker::stateChanged);
    worker->start(configFor(server->baseUrl()));
    duringNextClaim([this] {
        worker->shutdownWhenIdle();
        worker->start(configFor(server->baseUrl()));
        worker->enrol(configFor(server->baseUrl()), "secret");
    });
    scheduler->fireNext();

    QCOMPARE(ready.size(), 1);
    const qsizetype before = server->requests().size();
    while (scheduler->fireNext()) { }
    QCOMPARE(server->requests().size(), before);
    QCOMPARE(ready.size(), 1);
    QCOMPARE(states.size(), 2);  // Connecting, then Ready from the tick that finished

    // Cancelling does not resume polling; a later start does.
    worker->cancelUpdateShutdown();
    QVERIFY(scheduler->pending.isEmpty());
    worker->start(configFor(server->baseUrl()));
    QVERIFY(scheduler->fireNext());
    QCOMPARE(server->requests().size(), before + 2);  // check-in and claim
}

void WorkerScheduleTest::startDuringTickIsAppliedAfterIt()
{
    QSignalSpy states(worker.get(), &AgentWorker::stateChanged);
    worker->start(configFor(server->baseUrl()));
    AgentConfig second = configFor(server->baseUrl());
    second.deviceId = "vekpa-ffffffffffffffffffffffffffffffff";
    duringNextClaim([&] {
        worker->start(second);
        QCOMPARE(scheduler->pendingDelays(), QList<std::chrono::milliseconds> { 100ms });
        // The retry comes due while the tick still waits: it defers again.
        scheduler->fireNext();
        QCOMPARE(scheduler->pendingDelays(), QList<std::chrono::milliseconds> { 100ms });
    });
    scheduler->fireNext();
    QCOMPARE(states.size(), 2);  // Connecting, Ready

    // After the tick: the 100 ms retry applies the new configuration.
    QCOMPARE(scheduler->pendingDelays(), (QList<std::chrono::milliseconds> { 100ms, 1000ms }));
    scheduler->fireNext();
    QCOMPARE(states.size(), 3);
    QCOMPARE(states.last()[0].value<AgentState>(), AgentState::Connecting);
    while (server->requestsTo(clinic::kClaimPath).size() < 2)
        QVERIFY(scheduler->fireNext());
    QCOMPARE(server->requestsTo(clinic::kClaimPath).last().json.value("deviceId").toString(),
        second.deviceId);
    // The new start checks in first again.
    QCOMPARE(server->requestsTo(clinic::kCheckInPath).size(), 2);
}

void WorkerScheduleTest::tickTimerFiringDuringTickDoesNothing()
{
    worker->start(configFor(server->baseUrl()));
    duringNextClaim([this] {
        worker->pollNow();  // a second tick becomes due while this one waits
        const qsizetype before = server->requests().size();
        const qsizetype scheduled = scheduler->history.size();
        QVERIFY(scheduler->fireNext());
        QCOMPARE(server->requests().size(), before);
        QCOMPARE(scheduler->history.size(), scheduled);
    });
    scheduler->fireNext();
    QCOMPARE(scheduler->pendingDelays(), QList<std::chrono::milliseconds> { 1000ms });
}

void WorkerScheduleTest::stopEndsPolling()
{
    worker->start(configFor(server->baseUrl()));
    scheduler->fireNext();
    worker->stop();
    const qsizetype before = server->requests().size();
    while (scheduler->fireNext()) { }
    QCOMPARE(server->requests().size(), before);
    worker->pollNow();
    QVERIFY(scheduler->pending.isEmpty());
}

QTEST_GUILESS_MAIN(WorkerScheduleTest)
#include "test_workerschedule.moc"
