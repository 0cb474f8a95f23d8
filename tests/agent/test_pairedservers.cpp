// A workstation paired with two servers, on loopback, printing PDFs to the
// private CUPS queues: the whole road of an order, the status lines, the
// per-server back-off on the worker's clock, the list refresh, signing out,
// the recovery of each server's journal, and a stop while STARTED is awaited.

#include "manualscheduler.h"
#include "pairedfixture.h"

#include "agent/agentworker.h"
#include "agent/pairedservers.h"
#include "agent/printjournal.h"
#include "printing/profilestore.h"
#include "tests/harness/fakeclinicserver.h"
#include "tests/printing/testpdf.h"
#include "tests/printing/testprofile.h"
#include "vek/product.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;
using vek::agent::AgentConfig;
using vek::agent::AgentState;
using vek::agent::AgentWorker;
using vek::test::DesktopPath;
using vek::test::FakeClinicServer;
using vek::test::ScriptedReply;

namespace {

constexpr char kQueue[] = "VekDocument";
const QString kAnnounce = DesktopPath("announce");
const QString kClaim = DesktopPath("claim");
const QString kReport = DesktopPath("report");
const QString kServers = DesktopPath("servers");
const QString kDamaged = "Print recovery journal is damaged. Check paper output before recovery.";

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

QJsonObject ServerList(const QStringList &urls)
{
    QJsonArray list;
    for (const QString &url : urls)
        list.append(QJsonObject { { "url", url } });
    return { { "servers", list } };
}

}  // namespace

class PairedServersTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pdfOrderTravelsTheWholeRoad();
    void orderEdgeCases_data();
    void orderEdgeCases();
    void announceRetriesWithoutBurnersAndServersOn400();
    void statusLines_data();
    void statusLines();
    void serverLabels();
    void backoffOnTheWorkersClock();
    void refreshRules_data();
    void refreshRules();
    void reorderingKeepsEntriesAndBackoff();
    void refreshWaitsThirtyMinutesAlsoAfterAFailure();
    void primary401SignsOut_data();
    void primary401SignsOut();
    void recovery_data();
    void recovery();
    void twoJournalsAreSettledSeparately();
    void stopWhileStartedAwaitsPrintsNothing();

private:
    AgentConfig config(const QStringList &servers = {}) const;
    void startWorker(const AgentConfig &config);
    bool tick() { return scheduler->fireNext(); }
    void noFurtherServers()
    {
        primary->setReply(kServers, ScriptedReply::Json(200, ServerList({})));
    }
    QString journalOf(const FakeClinicServer &server) const;
    QString label(const FakeClinicServer &server) const { return server.baseUrl().mid(7); }
    QList<QJsonObject> reportsTo(const FakeClinicServer &server) const;

    QTemporaryDir data;
    QTemporaryDir settings;
    QString profileId;
    QString profileVersion;
    std::unique_ptr<FakeClinicServer> primary;
    std::unique_ptr<FakeClinicServer> second;
    std::unique_ptr<AgentWorker> worker;
    ManualScheduler *scheduler = nullptr;
    QStringList lines;  // the last status lines
    QList<QPair<AgentState, QString>> states;
    QStringList finished;  // "id|printed|detail"
    QList<QStringList> learned;
};

void PairedServersTest::initTestCase()
{
    vek::agent::RegisterAgentMetaTypes();
    QVERIFY(data.isValid() && settings.isValid());
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    QCoreApplication::setOrganizationName("Vekworks");
    QCoreApplication::setApplicationName("Vek Print Agent");

    const vek::test::TestProfile profile = vek::test::SaveDefaultProfile(kQueue);
    QVERIFY(!profile.id.isEmpty());
    profileId = profile.id;
    profileVersion = profile.version;
}

void PairedServersTest::init()
{
    primary = std::make_unique<FakeClinicServer>();
    second = std::make_unique<FakeClinicServer>();
    QVERIFY(primary->start());
    QVERIFY(second->start());
    for (FakeClinicServer *server : { primary.get(), second.get() }) {
        server->setReply(kAnnounce, ScriptedReply::Json(200, {}));
        server->setReply(kClaim, ScriptedReply::Json(200, {}));
        server->setReply(kReport, ScriptedReply::Json(200, {}));
    }
    primary->setReply(kServers, ScriptedReply::Json(200, ServerList({ second->baseUrl() })));

    auto manual = std::make_unique<ManualScheduler>();
    scheduler = manual.get();
    scheduler->clock = 5h;
    worker = std::make_unique<AgentWorker>(std::move(manual));
    worker->setReplyTimeout(300ms);
    lines.clear();
    states.clear();
    finished.clear();
    learned.clear();
    connect(worker.get(), &AgentWorker::serversReported, this,
        [this](const QStringList &reported) { lines = reported; });
    connect(worker.get(), &AgentWorker::stateChanged, this,
        [this](AgentState state, const QString &detail) {
            states.append({ state, detail });
        });
    connect(worker.get(), &AgentWorker::jobFinished, this,
        [this](const QString &id, bool printed, const QString &detail) {
            finished.append(QString("%1|%2|%3").arg(id).arg(printed).arg(detail));
        });
    connect(worker.get(), &AgentWorker::serversLearned, this,
        [this](const QStringList &servers) { learned.append(servers); });
}

void PairedServersTest::cleanup()
{
    worker.reset();
    if (primary)
        QFile::remove(journalOf(*primary));
    if (second)
        QFile::remove(journalOf(*second));
    primary.reset();
    second.reset();
}

AgentConfig PairedServersTest::config(const QStringList &servers) const
{
    AgentConfig config;
    config.nodeBaseUrl = primary->baseUrl();
    config.deviceId = "vekpa-0123456789abcdef0123456789abcdef";
    config.displayName = "Reception";
    config.token = "paired-credential";
    config.managed = true;
    config.servers = servers;
    return config;
}

void PairedServersTest::startWorker(const AgentConfig &config)
{
    worker->start(config);
}

QString PairedServersTest::journalOf(const FakeClinicServer &server) const
{
    return vek::agent::PrintJournalPath(server.baseUrl(), "vekpa-0123456789abcdef0123456789abcdef");
}

QList<QJsonObject> PairedServersTest::reportsTo(const FakeClinicServer &server) const
{
    QList<QJsonObject> reports;
    for (const auto &request : server.requestsTo(kReport))
        reports.append(request.json);
    return reports;
}

void PairedServersTest::pdfOrderTravelsTheWholeRoad()
{
    const QByteArray pdf = vek::test::DrawnPdf({ QSizeF(595, 842) });
    primary->queueReply(kClaim,
        ScriptedReply::Json(200,
            { { "order",
                vek::test::PdfOrder("road-1", pdf, kQueue, profileId, profileVersion) } }));
    startWorker(config({ second->baseUrl() }));
    QVERIFY(tick());

    QCOMPARE(primary->paths(), QStringList({ kServers, kAnnounce, kClaim, kReport, kReport }));
    const QJsonObject announce = primary->requestsTo(kAnnounce).first().json;
    QCOMPARE(announce.value("displayName").toString(), "Reception");
    QCOMPARE(announce.value("appVersion").toString(), QString(vek::product::kVersion));
    QCOMPARE(announce.value("protocol").toInt(), 2);
    QVERIFY(announce.value("queues").isArray());
    QVERIFY(announce.value("burners").isArray());
    QVERIFY(!announce.contains("servers"));  // no states known before the first cycle
    QCOMPARE(primary->requestsTo(kAnnounce).first().headers.value("authorization"),
        QByteArray("Bearer paired-credential"));

    const QList<QJsonObject> reports = reportsTo(*primary);
    QCOMPARE(reports[0],
        QJsonObject({ { "orderId", "road-1" }, { "claimToken", "claim-road-1" },
            { "outcome", "STARTED" } }));
    QCOMPARE(reports[1].value("outcome").toString(), "SPOOLED");
    QVERIFY(!reports[1].contains("reason"));
    const int jobId = reports[1].value("spoolJobId").toString().toInt();
    QVERIFY(jobId > 0);
    QCOMPARE(vek::test::CupsJobsTitled(kQueue, "Vek road-1"), QList<int> { jobId });
    QCOMPARE(finished, QStringList { "road-1|1|VekDocument" });
    QVERIFY(!QFile::exists(journalOf(*primary)));
    QVERIFY(states.contains(qMakePair(AgentState::Printing, QString())));

    // The further server was served in the same cycle; the next claim follows at once.
    QCOMPARE(second->paths(), QStringList({ kAnnounce, kClaim }));
    QCOMPARE(scheduler->pendingDelays(), QList<std::chrono::milliseconds> { 0ms });
    QVERIFY(tick());
    QCOMPARE(primary->requestsTo(kClaim).size(), 2);
    const QJsonArray sent = primary->requestsTo(kAnnounce).last().json.value("servers").toArray();
    QCOMPARE(sent,
        QJsonArray({ QJsonObject { { "url", primary->baseUrl() }, { "state", "connected" } },
            QJsonObject { { "url", second->baseUrl() }, { "state", "connected" } } }));
}

void PairedServersTest::orderEdgeCases_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("reports");  // outcome/reason/spoolJobId of each report
    QTest::addColumn<bool>("journalLeft");

    QTest::newRow("upper-case content hash")
        << "upper-hash" << QStringList { "STARTED//", "FAILED/PRINT_DOCUMENT_INVALID/0" } << false;
    QTest::newRow("not a PDF") << "not-pdf"
                               << QStringList { "STARTED//", "FAILED/PRINT_DOCUMENT_INVALID/0" }
                               << false;
    QTest::newRow("empty claim token") << "no-token" << QStringList {} << false;
    QTest::newRow("STARTED refused") << "started-refused" << QStringList { "STARTED//" } << true;
    QTest::newRow("final report refused")
        << "final-refused" << QStringList { "STARTED//", "SPOOLED//job" } << true;
}

void PairedServersTest::orderEdgeCases()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, reports);
    QFETCH(bool, journalLeft);

    noFurtherServers();
    const QString id = "edge-" + fault;
    QByteArray pdf = vek::test::DrawnPdf({ QSizeF(595, 842) });
    QJsonObject order = vek::test::PdfOrder(id, pdf, kQueue, profileId, profileVersion);
    if (fault == "upper-hash")
        order.insert("contentHash", order.value("contentHash").toString().toUpper());
    if (fault == "not-pdf") {
        pdf = "plain text, not a document";
        order = vek::test::PdfOrder(id, pdf, kQueue, profileId, profileVersion);
    }
    if (fault == "no-token")
        order.insert("claimToken", "");
    if (fault == "started-refused")
        primary->queueReply(kReport, ScriptedReply::Json(500, {}));
    if (fault == "final-refused") {
        primary->queueReply(kReport, ScriptedReply::Json(200, {}));
        primary->queueReply(kReport, ScriptedReply::Json(503, {}));
    }
    primary->queueReply(kClaim, ScriptedReply::Json(200, { { "order", order } }));
    startWorker(config());
    QVERIFY(tick());

    QStringList seen;
    for (const QJsonObject &report : reportsTo(*primary)) {
        QString job = report.value("spoolJobId").toString();
        if (!job.isEmpty() && job != "0")
            job = "job";
        seen.append(
            QString("%1/%2/%3")
                .arg(report.value("outcome").toString(), report.value("reason").toString(), job));
    }
    QCOMPARE(seen, reports);
    QCOMPARE(QFile::exists(journalOf(*primary)), journalLeft);
    const bool printed = fault == "final-refused";
    QCOMPARE(vek::test::CupsJobsTitled(kQueue, "Vek " + id).size(), printed ? 1 : 0);
    if (fault == "started-refused") {
        QCOMPARE(lines, QStringList { label(*primary) + ": not reachable" });
        QCOMPARE(states.last(),
            qMakePair(AgentState::Unreachable,
                QString("Print start was not acknowledged; nothing was sent.")));
    }
    if (journalLeft) {
        // The next cycle settles the journal before it announces.
        const qsizetype before = primary->requests().size();
        QVERIFY(tick());
        const auto after = primary->requests().mid(before);
        QVERIFY(after.size() >= 2);
        QCOMPARE(after[0].path, kReport);
        QCOMPARE(after[0].json.value("outcome").toString(), printed ? "SPOOLED" : "FAILED");
        if (!printed)
            QCOMPARE(after[0].json.value("reason").toString(), "PRINT_OUTCOME_UNKNOWN");
        QCOMPARE(after[1].path, kAnnounce);
        QVERIFY(!QFile::exists(journalOf(*primary)));
    }
}

void PairedServersTest::announceRetriesWithoutBurnersAndServersOn400()
{
    startWorker(config({ second->baseUrl() }));
    QVERIFY(tick());  // learns the states
    second->queueReply(kAnnounce, ScriptedReply::Json(400, {}));
    QVERIFY(tick());
    const auto announces = second->requestsTo(kAnnounce);
    QCOMPARE(announces.size(), 3);
    QVERIFY(announces[1].json.contains("burners") && announces[1].json.contains("servers"));
    QVERIFY(!announces[2].json.contains("burners") && !announces[2].json.contains("servers"));
    QVERIFY(announces[2].json.contains("queues"));
    QCOMPARE(second->requestsTo(kClaim).size(), 2);
}

void PairedServersTest::statusLines_data()
{
    QTest::addColumn<int>("primaryAnnounce");
    QTest::addColumn<int>("secondAnnounce");
    QTest::addColumn<QByteArray>("secondJournal");
    QTest::addColumn<QStringList>("expected");  // %1 primary's label, %2 second's
    QTest::addColumn<AgentState>("state");
    QTest::addColumn<QString>("detail");

    QTest::newRow("both connected")
        << 200 << 200 << QByteArray() << QStringList { "%1: connected", "%2: connected" }
        << AgentState::Ready << QString();
    QTest::newRow("second does not know this computer")
        << 200 << 401 << QByteArray()
        << QStringList { "%1: connected", "%2: waiting for this server to learn this computer" }
        << AgentState::Ready << QString();
    QTest::newRow("primary down, second up")
        << 503 << 200 << QByteArray() << QStringList { "%1: not reachable", "%2: connected" }
        << AgentState::Ready << QString();
    QTest::newRow("both down") << 503 << 500 << QByteArray()
                               << QStringList { "%1: not reachable", "%2: not reachable" }
                               << AgentState::Unreachable
                               << QString("Cannot connect to the print service.");
    QTest::newRow("second's journal damaged")
        << 200 << 200 << QByteArray("{}") << QStringList { "%1: connected", "%2: " + kDamaged }
        << AgentState::Ready << QString();
}

void PairedServersTest::statusLines()
{
    QFETCH(int, primaryAnnounce);
    QFETCH(int, secondAnnounce);
    QFETCH(QByteArray, secondJournal);
    QFETCH(QStringList, expected);
    QFETCH(AgentState, state);
    QFETCH(QString, detail);

    primary->setReply(kAnnounce, ScriptedReply::Json(primaryAnnounce, {}));
    second->setReply(kAnnounce, ScriptedReply::Json(secondAnnounce, {}));
    if (!secondJournal.isEmpty())
        QVERIFY(WriteFile(journalOf(*second), secondJournal));
    startWorker(config({ second->baseUrl() }));
    QVERIFY(tick());
    for (QString &line : expected)
        line.replace("%1", label(*primary)).replace("%2", label(*second));
    QCOMPARE(lines, expected);
    QCOMPARE(states.last(), qMakePair(state, detail));
    if (!secondJournal.isEmpty()) {
        QCOMPARE(ReadFile(journalOf(*second)), secondJournal);  // kept for the user
        QVERIFY(second->requests().isEmpty());
    }
}

void PairedServersTest::serverLabels()
{
    const QString cloud = QString(vek::product::kCloudDomain);
    QCOMPARE(vek::agent::ServerLabel("https://" + cloud), "Vek Cloud");
    QCOMPARE(vek::agent::ServerLabel("https://eu." + cloud.toUpper()), "Vek Cloud");
    QCOMPARE(vek::agent::ServerLabel("https://not" + cloud), "not" + cloud);
    QCOMPARE(vek::agent::ServerLabel("http://10.0.0.5:8080"), "10.0.0.5:8080");

    // With no further server only the primary's line is reported.
    noFurtherServers();
    startWorker(config());
    QVERIFY(tick());
    QCOMPARE(lines, QStringList { label(*primary) + ": connected" });
    QVERIFY(!primary->requestsTo(kAnnounce).last().json.contains("servers"));
}

void PairedServersTest::backoffOnTheWorkersClock()
{
    second->setReply(kAnnounce, ScriptedReply::Json(401, {}));
    startWorker(config({ second->baseUrl() }));
    QVERIFY(tick());
    QCOMPARE(second->requestsTo(kAnnounce).size(), 1);

    const QList<std::chrono::seconds> waits { 15s, 30s, 60s, 120s, 240s, 240s };
    int attempts = 1;
    for (const auto wait : waits) {
        scheduler->clock += wait - 1ms;
        QVERIFY(tick());
        QCOMPARE(second->requestsTo(kAnnounce).size(), attempts);  // not yet due
        scheduler->clock += 1ms;
        QVERIFY(tick());
        QCOMPARE(second->requestsTo(kAnnounce).size(), ++attempts);
        QCOMPARE(lines.last(), label(*second) + ": waiting for this server to learn this computer");
    }

    // The first success clears the back-off: the next cycle serves it again.
    second->setReply(kAnnounce, ScriptedReply::Json(200, {}));
    scheduler->clock += 240s;
    QVERIFY(tick());
    QCOMPARE(lines.last(), label(*second) + ": connected");
    QVERIFY(tick());
    QCOMPARE(second->requestsTo(kAnnounce).size(), attempts + 2);
}

void PairedServersTest::refreshRules_data()
{
    QTest::addColumn<QStringList>("offered");  // %1 primary, %2 second
    QTest::addColumn<QStringList>("kept");

    QTest::newRow("duplicates") << QStringList { "%2", "%2/", "%2" } << QStringList { "%2" };
    QTest::newRow("primary repeated")
        << QStringList { "%1", "%1/", "%1/api/path", "%U", "%2" } << QStringList { "%2" };
    QTest::newRow("refused addresses") << QStringList { "ftp://10.0.0.9", "http://8.8.8.8",
        "http://user@10.0.0.8", "%2" } << QStringList { "%2" };
    QTest::newRow("nothing usable") << QStringList { "ftp://10.0.0.9" } << QStringList {};
}

void PairedServersTest::refreshRules()
{
    QFETCH(QStringList, offered);
    QFETCH(QStringList, kept);
    const auto fill = [this](QStringList list) {
        for (QString &url : list)
            url.replace("%U", primary->baseUrl().toUpper())
                .replace("%1", primary->baseUrl())
                .replace("%2", second->baseUrl());
        return list;
    };
    primary->setReply(kServers, ScriptedReply::Json(200, ServerList(fill(offered))));
    startWorker(config({ "http://10.0.0.77:9" }));
    QVERIFY(tick());
    QCOMPARE(learned, QList<QStringList> { fill(kept) });
    QCOMPARE(lines.size(), 1 + kept.size());
    QCOMPARE(second->requestsTo(kAnnounce).size(), kept.isEmpty() ? 0 : 1);

    // The same list again changes nothing.
    scheduler->clock += 31min;
    QVERIFY(tick());
    QCOMPARE(learned.size(), 1);
}

void PairedServersTest::reorderingKeepsEntriesAndBackoff()
{
    FakeClinicServer third;
    QVERIFY(third.start());
    third.setReply(kAnnounce, ScriptedReply::Json(503, {}));
    const QString thirdLine = label(third) + ": not reachable";
    primary->setReply(
        kServers, ScriptedReply::Json(200, ServerList({ third.baseUrl(), second->baseUrl() })));
    startWorker(config({ third.baseUrl(), second->baseUrl() }));
    QVERIFY(tick());
    QVERIFY(learned.isEmpty());
    QCOMPARE(lines[1], thirdLine);
    QCOMPARE(third.requestsTo(kAnnounce).size(), 1);

    primary->setReply(
        kServers, ScriptedReply::Json(200, ServerList({ second->baseUrl(), third.baseUrl() })));
    scheduler->clock += 30min;
    QVERIFY(tick());
    QCOMPARE(learned, QList<QStringList>({ { second->baseUrl(), third.baseUrl() } }));
    QCOMPARE(lines,
        QStringList(
            { label(*primary) + ": connected", label(*second) + ": connected", thirdLine }));
    QCOMPARE(third.requestsTo(kAnnounce).size(), 2);
    // The moved entry kept its failure count: after the second failure in a
    // row it waits 30 s (a new entry would have waited 15 s).
    scheduler->clock += 29s;
    QVERIFY(tick());
    QCOMPARE(third.requestsTo(kAnnounce).size(), 2);
    scheduler->clock += 1s;
    QVERIFY(tick());
    QCOMPARE(third.requestsTo(kAnnounce).size(), 3);
    QCOMPARE(states.last().first, AgentState::Ready);
}

void PairedServersTest::refreshWaitsThirtyMinutesAlsoAfterAFailure()
{
    primary->queueReply(kServers, ScriptedReply::Json(500, {}));
    startWorker(config());
    QVERIFY(tick());
    QCOMPARE(primary->requestsTo(kServers).size(), 1);
    QVERIFY(learned.isEmpty());
    scheduler->clock += 30min - 1ms;
    QVERIFY(tick());
    QCOMPARE(primary->requestsTo(kServers).size(), 1);
    scheduler->clock += 1ms;
    QVERIFY(tick());
    QCOMPARE(primary->requestsTo(kServers).size(), 2);
    QCOMPARE(learned, QList<QStringList> { { second->baseUrl() } });

    // A new start asks again at once.
    startWorker(config({ second->baseUrl() }));
    while (tick()) {
        if (primary->requestsTo(kServers).size() == 3)
            break;
    }
    QCOMPARE(primary->requestsTo(kServers).size(), 3);
}

void PairedServersTest::primary401SignsOut_data()
{
    QTest::addColumn<bool>("duringRecovery");
    QTest::newRow("announce") << false;
    QTest::newRow("recovery report") << true;
}

void PairedServersTest::primary401SignsOut()
{
    QFETCH(bool, duringRecovery);
    const QByteArray journal = R"({"orderId":"o-9","claimToken":"c-9","outcome":"STARTED"})";
    if (duringRecovery) {
        QVERIFY(WriteFile(journalOf(*primary), journal));
        primary->setReply(kReport, ScriptedReply::Json(401, {}));
    } else {
        primary->setReply(kAnnounce, ScriptedReply::Json(401, {}));
    }
    startWorker(config({ second->baseUrl() }));
    QVERIFY(tick());
    QCOMPARE(states.last(),
        qMakePair(AgentState::SignedOut,
            QString("The clinic no longer recognises this workstation. Set it up again.")));
    QCOMPARE(
        lines, QStringList({ label(*primary) + ": signed out", label(*second) + ": connecting…" }));
    QVERIFY(second->requests().isEmpty());
    QVERIFY(scheduler->pending.isEmpty());
    if (duringRecovery)
        QCOMPARE(ReadFile(journalOf(*primary)), journal);
}

void PairedServersTest::recovery_data()
{
    QTest::addColumn<QByteArray>("journal");
    QTest::addColumn<int>("status");  // 0: no answer
    QTest::addColumn<QByteArray>("sent");  // the report body, compact; empty: none sent
    QTest::addColumn<bool>("kept");
    QTest::addColumn<QString>("line");

    const QByteArray started = R"({"orderId":"o-1","claimToken":"c-1","outcome":"STARTED"})";
    const QByteArray unknown
        = R"({"claimToken":"c-1","orderId":"o-1","outcome":"FAILED","reason":"PRINT_OUTCOME_UNKNOWN"})";
    const QByteArray spooled
        = R"({"claimToken":"c-1","orderId":"o-1","outcome":"SPOOLED","spoolJobId":"42"})";
    const QString waiting = "Waiting to report the previous print outcome.";
    QTest::newRow("STARTED, 200") << started << 200 << unknown << false << "connected";
    QTest::newRow("STARTED, 500") << started << 500 << unknown << true << waiting;
    QTest::newRow("STARTED, no answer") << started << 0 << unknown << true << waiting;
    QTest::newRow("final, 200") << spooled << 200 << spooled << false << "connected";
    QTest::newRow("final, 404") << spooled << 404 << spooled << false << "connected";
    QTest::newRow("final, 409") << spooled << 409 << spooled << false << "connected";
    QTest::newRow("final, 502") << spooled << 502 << spooled << true << waiting;
    QTest::newRow("further server, 401")
        << started << 401 << unknown << true << "waiting for this server to learn this computer";
    QTest::newRow("empty file") << QByteArray() << 200 << QByteArray() << true << kDamaged;
    QTest::newRow("empty array") << QByteArray("[]") << 200 << QByteArray() << true << kDamaged;
    QTest::newRow("truncated") << started.left(30) << 200 << QByteArray() << true << kDamaged;
    QTest::newRow("unknown outcome")
        << QByteArray(R"({"orderId":"o","claimToken":"c","outcome":"DONE","spoolJobId":"1"})")
        << 200 << QByteArray() << true << kDamaged;
    QTest::newRow("job number not decimal")
        << QByteArray(R"({"orderId":"o","claimToken":"c","outcome":"SPOOLED","spoolJobId":"1e3"})")
        << 200 << QByteArray() << true << kDamaged;
}

void PairedServersTest::recovery()
{
    QFETCH(QByteArray, journal);
    QFETCH(int, status);
    QFETCH(QByteArray, sent);
    QFETCH(bool, kept);
    QFETCH(QString, line);

    // The further server is served by the same routine; its line shows the outcome.
    QVERIFY(WriteFile(journalOf(*second), journal));
    second->setReply(kReport, status ? ScriptedReply::Json(status, {}) : ScriptedReply::Hang());
    startWorker(config({ second->baseUrl() }));
    QVERIFY(tick());

    const QList<QJsonObject> reports = reportsTo(*second);
    if (sent.isEmpty()) {
        QVERIFY(reports.isEmpty());
    } else {
        QCOMPARE(reports.size(), 1);
        QCOMPARE(QJsonDocument(reports[0]).toJson(QJsonDocument::Compact), sent);
        QCOMPARE(second->paths().first(), kReport);  // before the announce
    }
    QCOMPARE(QFile::exists(journalOf(*second)), kept);
    if (kept)
        QCOMPARE(ReadFile(journalOf(*second)), journal);  // never rewritten
    QCOMPARE(second->requestsTo(kAnnounce).size(), kept ? 0 : 1);
    QCOMPARE(lines.last(), label(*second) + ": " + line);
    QCOMPARE(lines.first(), label(*primary) + ": connected");  // the primary is not held up
}

void PairedServersTest::twoJournalsAreSettledSeparately()
{
    QVERIFY(WriteFile(journalOf(*primary),
        R"({"orderId":"p-1","claimToken":"c","outcome":"SPOOLED","spoolJobId":"3"})"));
    QVERIFY(
        WriteFile(journalOf(*second), R"({"orderId":"s-1","claimToken":"c","outcome":"STARTED"})"));
    QVERIFY(journalOf(*primary) != journalOf(*second));
    second->setReply(kReport, ScriptedReply::Json(503, {}));
    startWorker(config({ second->baseUrl() }));
    QVERIFY(tick());
    QVERIFY(!QFile::exists(journalOf(*primary)));
    QVERIFY(QFile::exists(journalOf(*second)));
    QCOMPARE(primary->requestsTo(kClaim).size(), 1);

    second->setReply(kReport, ScriptedReply::Json(200, {}));
    scheduler->clock += 15s;
    QVERIFY(tick());
    QVERIFY(!QFile::exists(journalOf(*second)));
    QCOMPARE(reportsTo(*second).last().value("orderId").toString(), "s-1");
}

void PairedServersTest::stopWhileStartedAwaitsPrintsNothing()
{
    noFurtherServers();
    const QByteArray pdf = vek::test::DrawnPdf({ QSizeF(595, 842) });
    primary->queueReply(kClaim,
        ScriptedReply::Json(200,
            { { "order",
                vek::test::PdfOrder("stop-1", pdf, kQueue, profileId, profileVersion) } }));
    primary->queueReply(kReport, ScriptedReply::Json(200, {}).after(200ms));
    connect(primary.get(), &FakeClinicServer::requestReceived, worker.get(),
        [this](const QString &path) {
            if (path == kReport)
                worker->stop();
        });
    startWorker(config());
    QVERIFY(tick());
    QVERIFY(finished.isEmpty());
    QVERIFY(scheduler->pending.isEmpty());
    QCOMPARE(states.last(), qMakePair(AgentState::Ready, QString()));
    QVERIFY(vek::test::CupsJobsTitled(kQueue, "Vek stop-1").isEmpty());
    QVERIFY(QFile::exists(journalOf(*primary)));

    primary->disconnect(worker.get());
    startWorker(config());
    QVERIFY(tick());
    const QJsonObject last = reportsTo(*primary).value(1);
    QCOMPARE(last.value("outcome").toString(), "FAILED");
    QCOMPARE(last.value("reason").toString(), "PRINT_OUTCOME_UNKNOWN");
    QCOMPARE(primary->paths().mid(5, 2), QStringList({ kReport, kAnnounce }));
    QVERIFY(!QFile::exists(journalOf(*primary)));
    QVERIFY(vek::test::CupsJobsTitled(kQueue, "Vek stop-1").isEmpty());
}

QTEST_MAIN(PairedServersTest)
#include "test_pairedservers.moc"
