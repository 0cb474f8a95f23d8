// The program itself on a private X server with a notification area: the
// icon in each state colour (screenshots kept beside the test), the open
// menu, a second start, "--prepare-update" with and without an agent, and
// a desktop without a notification area.

#include "agent/agentconfig.h"
#include "agent/clinicapi.h"
#include "agent/configfile.h"
#include "app/applicationidentity.h"
#include "tests/harness/fakeclinicserver.h"
#include "tests/harness/screen.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;
using vek::test::FakeClinicServer;
using vek::test::FindColourBlock;
using vek::test::GrabScreen;
using vek::test::ScriptedReply;
namespace clinic = vek::agent::clinic;

namespace {

const QColor kNotSetUp(217, 119, 6), kConnecting(100, 116, 139), kReady(22, 163, 74),
    kPrinting(37, 99, 235), kRed(220, 38, 38);

int Run(const QString &program, const QStringList &arguments, bool withDisplay = true)
{
    constexpr int timeoutMs = 10000;
    QProcess process;
    if (!withDisplay) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        process.setProcessEnvironment(environment);
    }
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
}

QJsonObject LabelOrder(const QString &id)
{
    return { { "order",
        QJsonObject { { "id", id }, { "kind", "LABEL" },
            { "printer",
                QJsonObject { { "transport", "SYSTEM" }, { "name", "Labels" },
                    { "systemName", "VekLabel" } } },
            { "spool",
                QJsonObject { { "datatype", "RAW" },
                    { "dataBase64", QString::fromLatin1(QByteArray("^XA^XZ").toBase64()) },
                    { "documentName", "Label" } } } } } };
}

QString Xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start("xdotool", arguments);
    process.waitForFinished(15000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void iconInEveryStateColourAndItsMenu();
    void secondStartOpensTheFirstInstancesSetup();
    void prepareUpdateWithoutAgent();
    void prepareUpdateDrainsAPrintingAgent();
    void quitWhileAPrintWaitsForTheClinic();
    void unwritableDataFolder();
    void noNotificationArea();

private:
    void startAgent();
    void saveEnrolledConfig();
    // Waits until the screen shows the colour; saves the screenshot as name.
    void waitForColour(const QColor &colour, const QString &name, QPoint *where = nullptr);

    std::unique_ptr<QTemporaryDir> home;
    std::unique_ptr<FakeClinicServer> server;
    std::unique_ptr<QProcess> agent;
    QString program;
};

void ProgramTest::initTestCase()
{
    vek::app::ApplyApplicationIdentity(*QCoreApplication::instance());
    program = qEnvironmentVariable("VEK_AGENT_PROGRAM");
    QVERIFY2(QFileInfo(program).isExecutable(), "VEK_AGENT_PROGRAM names the agent");
    QVERIFY(QDir().mkpath("screenshots"));
}

void ProgramTest::init()
{
    // Short: the channel's socket path has a limit of 107 bytes.
    home = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vekXXXXXX");
    QVERIFY(QDir(home->path()).mkpath("runtime"));
    QVERIFY(QFile::setPermissions(
        home->filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    // This process writes the agent's configuration where the agent reads it.
    qputenv("HOME", home->path().toUtf8());
    qputenv("XDG_DATA_HOME", home->filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", home->filePath("config").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home->filePath("runtime").toUtf8());
    server = std::make_unique<FakeClinicServer>();
    QVERIFY(server->start());
    server->setReply(clinic::kCheckInPath, ScriptedReply::Json(200, {}));
    server->setReply(clinic::kClaimPath, ScriptedReply::Json(200, {}));
    server->setReply(clinic::kReportPath, ScriptedReply::Json(200, {}));
}

void ProgramTest::cleanup()
{
    if (agent && agent->state() != QProcess::NotRunning) {
        agent->kill();
        agent->waitForFinished();
    }
    agent.reset();
    server.reset();
}

void ProgramTest::startAgent()
{
    agent = std::make_unique<QProcess>();
    agent->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    agent->start(program, {});
    QVERIFY(agent->waitForStarted());
}

void ProgramTest::saveEnrolledConfig()
{
    vek::agent::AgentConfig config;
    config.nodeBaseUrl = server->baseUrl();
    config.deviceId = "vekpa-0123456789abcdef0123456789abcdef";
    config.displayName = "Reception";
    config.token = "node-credential";
    QVERIFY(vek::agent::SaveAgentConfig(config));
}

void ProgramTest::waitForColour(const QColor &colour, const QString &name, QPoint *where)
{
    std::optional<QPoint> found;
    QImage image;
    QTRY_VERIFY_WITH_TIMEOUT(
        (found = FindColourBlock(image = GrabScreen(), colour)).has_value(), 15000);
    image.save("screenshots/" + name + ".png");
    if (where)
        *where = *found;
}

void ProgramTest::iconInEveryStateColourAndItsMenu()
{
    // Not set up: orange, and the setup dialog opens.
    startAgent();
    waitForColour(kNotSetUp, "state-not-set-up");
    QVERIFY(!Xdotool({ "search", "--sync", "--name", "Set up this workstation" }).isEmpty());
    agent->kill();
    agent->waitForFinished();

    // Enrolled: grey while the first check-in waits, then green; blue while
    // the STARTED report of an order waits; red once the credential is refused.
    saveEnrolledConfig();
    server->queueReply(clinic::kCheckInPath, ScriptedReply::Json(200, {}).after(3000ms));
    server->queueReply(clinic::kClaimPath, ScriptedReply::Json(200, {}));
    startAgent();
    waitForColour(kConnecting, "state-connecting");
    QPoint icon;
    waitForColour(kReady, "state-ready", &icon);

    // The open menu: a popup window of the agent appears on a right click.
    const QString windowsBefore
        = Xdotool({ "search", "--onlyvisible", "--pid", QString::number(agent->processId()) });
    Xdotool({ "mousemove", QString::number(icon.x()), QString::number(icon.y()), "click", "3" });
    QTRY_VERIFY_WITH_TIMEOUT(
        Xdotool({ "search", "--onlyvisible", "--pid", QString::number(agent->processId()) })
            != windowsBefore,
        10000);
    GrabScreen().save("screenshots/menu-open.png");
    Xdotool({ "key", "Escape" });

    server->queueReply(clinic::kClaimPath, ScriptedReply::Json(200, LabelOrder("o-1")));
    server->queueReply(clinic::kReportPath, ScriptedReply::Json(200, {}).after(3000ms));
    server->queueReply(clinic::kClaimPath,
        ScriptedReply::Json(401, { { "error", "This workstation was removed." } }));
    waitForColour(kPrinting, "state-printing");
    waitForColour(kRed, "state-signed-out");
}

void ProgramTest::secondStartOpensTheFirstInstancesSetup()
{
    saveEnrolledConfig();
    startAgent();
    waitForColour(kReady, "second-start-before");
    QVERIFY(Xdotool({ "search", "--name", "Set up this workstation" }).isEmpty());

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(Run(program, {}), 0);
    QVERIFY(timer.elapsed() < 3000);
    QVERIFY(!Xdotool({ "search", "--sync", "--name", "Set up this workstation" }).isEmpty());
    QCOMPARE(agent->state(), QProcess::Running);  // still the one agent
}

void ProgramTest::prepareUpdateWithoutAgent()
{
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(Run(program, { "--prepare-update" }), 0);
    QVERIFY(timer.elapsed() < 1500);
    // An installer may run it outside the desktop session.
    QCOMPARE(Run(program, { "--prepare-update" }, false), 0);
}

void ProgramTest::prepareUpdateDrainsAPrintingAgent()
{
    // The clinic holds the agent's STARTED report for a while: the agent is
    // in the middle of a print when the installer asks it to drain.
    saveEnrolledConfig();
    server->queueReply(clinic::kClaimPath, ScriptedReply::Json(200, LabelOrder("o-2")));
    server->queueReply(clinic::kReportPath, ScriptedReply::Json(200, {}).after(2000ms));
    bool started = false;
    connect(server.get(), &FakeClinicServer::requestReceived, this,
        [&](const QString &path) { started = started || path == clinic::kReportPath; });
    startAgent();
    QTRY_VERIFY_WITH_TIMEOUT(started, 15000);

    QProcess installer;
    installer.start(program, { "--prepare-update" });
    QVERIFY(installer.waitForStarted());
    // This process serves the clinic while the installer waits.
    QTRY_COMPARE_WITH_TIMEOUT(installer.state(), QProcess::NotRunning, 30000);
    QCOMPARE(installer.exitCode(), 10);
    // The agent lets go of its lock as its last act before it ends.
    QTRY_COMPARE_WITH_TIMEOUT(agent->state(), QProcess::NotRunning, 10000);
    QCOMPARE(agent->exitCode(), 0);
    // The print was finished and reported before the agent ended.
    QStringList outcomes;
    for (const auto &report : server->requestsTo(clinic::kReportPath))
        outcomes.append(report.json.value("outcome").toString());
    QCOMPARE(outcomes, (QStringList { "STARTED", "COMPLETED" }));
}

void ProgramTest::quitWhileAPrintWaitsForTheClinic()
{
    // The worker's thread is busy with a print whose STARTED report the
    // clinic does not answer; Quit from the menu ends the program normally.
    saveEnrolledConfig();
    server->queueReply(clinic::kClaimPath, ScriptedReply::Json(200, LabelOrder("o-3")));
    server->queueReply(clinic::kReportPath, ScriptedReply::Hang());
    bool started = false;
    connect(server.get(), &FakeClinicServer::requestReceived, this,
        [&](const QString &path) { started = started || path == clinic::kReportPath; });
    startAgent();
    QPoint icon;
    waitForColour(kPrinting, "quit-while-printing", &icon);
    QTRY_VERIFY_WITH_TIMEOUT(started, 15000);

    Xdotool({ "mousemove", QString::number(icon.x()), QString::number(icon.y()), "click", "3" });
    // Up from the top of a fresh menu lands on its last entry, Quit.
    QTRY_VERIFY_WITH_TIMEOUT(
        !Xdotool({ "search", "--onlyvisible", "--pid", QString::number(agent->processId()) })
             .isEmpty(),
        10000);
    Xdotool({ "key", "--delay", "100", "Up", "Return" });
    QTRY_COMPARE_WITH_TIMEOUT(agent->state(), QProcess::NotRunning, 10000);
    QCOMPARE(agent->exitStatus(), QProcess::NormalExit);
    QCOMPARE(agent->exitCode(), 0);
}

void ProgramTest::unwritableDataFolder()
{
    // A file where the data folder belongs: the lock can be neither taken nor
    // found held. The program says so and never becomes a second agent.
    QVERIFY(QDir().mkpath(home->filePath("data")));
    QFile blocker(home->filePath("data/Vekworks"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    startAgent();
    const QString box = Xdotool({ "search", "--sync", "--name", "^Vek Print Agent$" });
    QVERIFY(!box.isEmpty());
    Xdotool({ "windowfocus", "--sync", box.split('\n').first(), "key", "Return" });
    QVERIFY(agent->waitForFinished(10000));
    QCOMPARE(agent->exitCode(), 1);
    QVERIFY(QDir(home->filePath("runtime")).isEmpty());  // no channel was opened
}

void ProgramTest::noNotificationArea()
{
    if (!qEnvironmentVariableIsSet("VEK_TEST_NO_TRAY"))
        QSKIP("runs on a desktop without a notification area");
    startAgent();
    // The agent waits for a panel for a while, then says why it cannot run.
    const QString box = Xdotool({ "search", "--sync", "--name", "^Vek Print Agent$" });
    QVERIFY(!box.isEmpty());
    QCOMPARE(agent->state(), QProcess::Running);
    // No window manager runs here: focus the box directly, then press OK.
    Xdotool({ "windowfocus", "--sync", box.split('\n').first(), "key", "Return" });
    QVERIFY(agent->waitForFinished(10000));
    QCOMPARE(agent->exitCode(), 1);
}

QTEST_MAIN(ProgramTest)
#include "test_program.moc"
