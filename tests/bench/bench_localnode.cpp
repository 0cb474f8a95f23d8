// Measures the local-node road on loopback: a fake clinic node hands out raw
// label orders, the real worker on its own thread claims, spools and reports
// them, and the private CUPS daemon delivers them to the sink printer.
// The baseline is the spooler alone (raw jobs submitted directly), run side
// by side, so the figures read as the worker's cost on top of the spooler.
//
// Run through tools/bench.sh, which starts the private CUPS daemon.

#include "agent/agentworker.h"
#include "agent/clinicapi.h"
#include "platform/rawspool.h"
#include "tests/harness/fakeclinicserver.h"
#include "tests/harness/printsink.h"
#include "tests/harness/threadedworker.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QThread>

#include <algorithm>
#include <cstdio>

using namespace std::chrono_literals;
using vek::test::FakeClinicServer;
using vek::test::ScriptedReply;
namespace clinic = vek::agent::clinic;

namespace {

const QString kQueue = QStringLiteral("VekLabel");

QDir SinkDir()
{
    return QDir(qEnvironmentVariable("VEK_TEST_SINK_DIR") + '/' + kQueue);
}

qsizetype SinkCount()
{
    return SinkDir().entryList({ "*.job" }, QDir::Files).size();
}

// Waits (serving this thread's events) until the sink holds count jobs.
bool WaitForSinkCount(qsizetype count, int timeoutMs = 120000)
{
    QElapsedTimer timer;
    timer.start();
    while (SinkCount() < count) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::usleep(500);
    }
    return true;
}

qint64 NewestSinkJobMs()
{
    const QFileInfoList jobs = SinkDir().entryInfoList({ "*.job" }, QDir::Files, QDir::Name);
    return jobs.isEmpty() ? 0 : jobs.last().lastModified().toMSecsSinceEpoch();
}

QByteArray LabelJob(int index)
{
    QByteArray job = "^XA^FO40,40^A0N,30,30^FDBench label " + QByteArray::number(index) + "^FS";
    job += QByteArray(2000, 'L');  // a typical label with a small graphic
    return job + "^XZ";
}

QJsonObject LabelOrder(int index)
{
    const QJsonObject spool { { "datatype", "RAW" },
        { "dataBase64", QString::fromLatin1(LabelJob(index).toBase64()) },
        { "documentName", "Bench label" } };
    const QJsonObject printer { { "transport", "SYSTEM" }, { "systemName", kQueue } };
    return { { "order",
        QJsonObject { { "id", QString("bench-%1").arg(index) }, { "kind", "LABEL" },
            { "printer", printer }, { "spool", spool } } } };
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Road {
    FakeClinicServer server;
    // Real delays, as the agent runs them.
    vek::test::ThreadedWorker fixture { 1, vek::agent::NodeClient::kReplyTimeout };
    vek::agent::AgentWorker *worker = fixture.worker();

    Road()
    {
        server.start();
        server.setReply(clinic::kCheckInPath, ScriptedReply::Json(200, {}));
        server.setReply(clinic::kReportPath, ScriptedReply::Json(200, {}));
        server.setReply(
            clinic::kClaimPath, ScriptedReply::Json(200, { { "order", QJsonValue::Null } }));
    }
    void start() { fixture.start(vek::test::ThreadedWorker::EnrolledConfig(server.baseUrl())); }
};

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    vek::agent::RegisterAgentMetaTypes();
    const int orders = argc > 1 ? std::max(1, atoi(argv[1])) : 100;
    const int latencyRuns = 15;

    // Baseline throughput: the same jobs straight to the spooler.
    qsizetype before = SinkCount();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < orders; ++i) {
        const QByteArray job = LabelJob(i);
        vek::platform::PrintRaw(kQueue.toStdString(), "Bench label", { job.cbegin(), job.cend() });
    }
    if (!WaitForSinkCount(before + orders))
        return 1;
    const double baselineRate = orders * 1000.0 / timer.elapsed();

    // The road with a full queue: every claim returns an order.
    Road road;
    for (int i = 0; i < orders; ++i)
        road.server.queueReply(clinic::kClaimPath, ScriptedReply::Json(200, LabelOrder(i)));
    before = SinkCount();
    timer.restart();
    road.start();
    if (!WaitForSinkCount(before + orders))
        return 1;
    const double roadRate = orders * 1000.0 / timer.elapsed();

    // Latency of one order: claim answered -> last byte at the sink, and for
    // the baseline, job submitted -> last byte at the sink.
    std::vector<double> roadLatency, baselineLatency;
    // Only the claim that takes the queued order counts; the claims after it
    // come back empty.
    qint64 claimAnsweredMs = 0;
    bool orderQueued = false;
    QObject::connect(&road.server, &FakeClinicServer::requestReceived, [&](const QString &path) {
        if (path == clinic::kClaimPath && orderQueued) {
            claimAnsweredMs = QDateTime::currentMSecsSinceEpoch();
            orderQueued = false;
        }
    });
    // Each measurement starts with the scheduler idle again, so that neither
    // side pays for the clean-up of the job before it.
    auto settle = [] {
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 150)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    for (int run = 0; run < latencyRuns; ++run) {
        settle();
        before = SinkCount();
        road.server.queueReply(
            clinic::kClaimPath, ScriptedReply::Json(200, LabelOrder(orders + run)));
        orderQueued = true;
        QMetaObject::invokeMethod(
            road.worker, &vek::agent::AgentWorker::pollNow, Qt::QueuedConnection);
        if (!WaitForSinkCount(before + 1))
            return 1;
        roadLatency.push_back(double(NewestSinkJobMs() - claimAnsweredMs));

        settle();
        before = SinkCount();
        const QByteArray job = LabelJob(run);
        const qint64 submitted = QDateTime::currentMSecsSinceEpoch();
        vek::platform::PrintRaw(kQueue.toStdString(), "Bench label", { job.cbegin(), job.cend() });
        if (!WaitForSinkCount(before + 1))
            return 1;
        baselineLatency.push_back(double(NewestSinkJobMs() - submitted));
    }

    std::printf("local-node road, %d raw label orders on loopback\n", orders);
    std::printf("%-36s %12s %12s %8s\n", "", "road", "spooler", "ratio");
    std::printf("%-36s %12.1f %12.1f %8.2f\n", "throughput (orders/s, full queue)", roadRate,
        baselineRate, roadRate / baselineRate);
    const double roadMedian = Median(roadLatency), baselineMedian = Median(baselineLatency);
    std::printf("%-36s %12.1f %12.1f %8.2f\n", "claim reply -> sink, median (ms)", roadMedian,
        baselineMedian, baselineMedian > 0 ? roadMedian / baselineMedian : 0.0);
    return 0;
}
