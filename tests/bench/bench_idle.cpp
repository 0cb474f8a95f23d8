// The idle agent, enrolled and polling an idle clinic node, beside a bare
// tray program: wake-ups (context switches of all threads) per second and
// resident memory over a measured window. Run by tools/bench.sh idle.
//   bench_idle AGENT BARE_TRAY [SECONDS]

#include "agent/clinicapi.h"
#include "agent/configfile.h"
#include "app/applicationidentity.h"
#include "tests/harness/fakeclinicserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>

namespace clinic = vek::agent::clinic;
using vek::test::FakeClinicServer;
using vek::test::ScriptedReply;

namespace {

struct Sample {
    qint64 switches = 0;  // voluntary and involuntary, all threads
    qint64 rssKiB = 0;
};

qint64 Field(const QByteArray &status, const QByteArray &name)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

Sample Read(qint64 pid)
{
    Sample sample;
    const QString process = QString("/proc/%1").arg(pid);
    for (const QString &task :
        QDir(process + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(process + "/task/" + task + "/status");
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray status = file.readAll();
        sample.switches += Field(status, "voluntary_ctxt_switches:")
            + Field(status, "nonvoluntary_ctxt_switches:");
    }
    QFile file(process + "/status");
    if (file.open(QIODevice::ReadOnly))
        sample.rssKiB = Field(file.readAll(), "VmRSS:");
    return sample;
}

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Samples the process once a second; seconds in which the clinic saw a
// request are counted apart, so the quiet between polls shows on its own.
void Measure(const QString &name, qint64 pid, int seconds, const FakeClinicServer *server)
{
    QList<qint64> quiet, all;
    qint64 busySwitches = 0;
    int busySeconds = 0;
    Sample previous = Read(pid);
    qint64 peakRss = previous.rssKiB;
    qsizetype requests = server ? server->requests().size() : 0;
    for (int i = 0; i < seconds; ++i) {
        Wait(1000);
        const Sample now = Read(pid);
        const qint64 delta = now.switches - previous.switches;
        all.append(delta);
        const qsizetype seen = server ? server->requests().size() : 0;
        if (seen == requests) {
            quiet.append(delta);
        } else {
            busySwitches += delta;
            ++busySeconds;
        }
        requests = seen;
        peakRss = std::max(peakRss, now.rssKiB);
        previous = now;
    }
    std::sort(quiet.begin(), quiet.end());
    qint64 total = 0;
    for (qint64 value : all)
        total += value;
    QTextStream(stdout) << name << ": " << double(total) / seconds << " wake-ups/s overall, "
                        << (quiet.isEmpty() ? 0 : quiet[quiet.size() / 2])
                        << " per quiet second (median of " << quiet.size() << "), "
                        << (busySeconds ? busySwitches / busySeconds : 0)
                        << " per second with a poll (" << busySeconds << "), " << previous.rssKiB
                        << " KiB resident (peak " << peakRss << " KiB)" << Qt::endl;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    vek::app::ApplyApplicationIdentity(application);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 3)
        return 2;
    const int seconds = arguments.size() > 3 ? arguments[3].toInt() : 60;

    QTemporaryDir home(QDir::tempPath() + "/vekXXXXXX");
    QDir(home.path()).mkpath("runtime");
    QFile::setPermissions(
        home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.filePath("runtime").toUtf8());

    FakeClinicServer server;
    if (!server.start())
        return 1;
    server.setReply(clinic::kCheckInPath, ScriptedReply::Json(200, {}));
    server.setReply(clinic::kClaimPath, ScriptedReply::Json(200, {}));
    vek::agent::AgentConfig config;
    config.nodeBaseUrl = server.baseUrl();
    config.deviceId = "vekpa-0123456789abcdef0123456789abcdef";
    config.displayName = "Bench";
    config.token = "node-credential";
    if (!vek::agent::SaveAgentConfig(config))
        return 1;

    QProcess agent;
    agent.start(arguments[1], {});
    // Idle ticks back off to 15 s after 1 + 2 + 4 + 8 s; measure from then on.
    QElapsedTimer settle;
    settle.start();
    while (server.requestsTo(clinic::kClaimPath).size() < 6 && settle.elapsed() < 60000)
        Wait(100);
    Wait(1000);
    Measure(
        "agent (enrolled, polling an idle node every 15 s)", agent.processId(), seconds, &server);
    agent.kill();
    agent.waitForFinished();

    QProcess bare;
    bare.start(arguments[2], {});
    Wait(3000);
    Measure("bare Qt tray program, same icon", bare.processId(), seconds, nullptr);
    bare.kill();
    bare.waitForFinished();
    return 0;
}
