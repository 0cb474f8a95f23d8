// The real worker in pairing-code mode as a process of its own, for tests
// that kill it at chosen steps. Its data and settings directories come from
// XDG_DATA_HOME and XDG_CONFIG_HOME; it prints its signals, one per line.
//
//   pairedhost PRIMARY_URL [FURTHER_URL ...]
//
// With VEK_HOST_HOLD set, the worker is held for good at the first of its
// diagnostics that contains that text, after "held: <text>" was printed, so
// that the test can kill it exactly there.

#include "agent/agentworker.h"

#include <QGuiApplication>
#include <QLoggingCategory>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

QByteArray holdAt;

void Print(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void HoldingHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (!holdAt.isEmpty() && message.contains(QString::fromUtf8(holdAt))) {
        Print("held: " + message);
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    std::fprintf(stderr, "%s\n", message.toUtf8().constData());
}

}  // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vekworks"));
    QCoreApplication::setApplicationName(QStringLiteral("Vek Print Agent"));
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: pairedhost PRIMARY_URL [FURTHER_URL ...]\n");
        return 2;
    }
    holdAt = qgetenv("VEK_HOST_HOLD");
    qInstallMessageHandler(HoldingHandler);
    QLoggingCategory::setFilterRules(QStringLiteral("vek.desktop.debug=true\nvek.pdf.debug=true"));

    using vek::agent::AgentWorker;
    vek::agent::RegisterAgentMetaTypes();
    AgentWorker worker;
    worker.setReplyTimeout(std::chrono::seconds(3));
    QObject::connect(&worker, &AgentWorker::stateChanged,
        [](vek::agent::AgentState state, const QString &detail) {
            Print(QStringLiteral("state %1 %2").arg(int(state)).arg(detail));
        });
    QObject::connect(&worker, &AgentWorker::jobFinished,
        [](const QString &id, bool printed, const QString &detail) {
            Print(QStringLiteral("job %1 %2 %3").arg(id).arg(printed).arg(detail));
        });
    QObject::connect(&worker, &AgentWorker::serversReported,
        [](const QStringList &lines) { Print("lines " + lines.join(QStringLiteral(" | "))); });

    vek::agent::AgentConfig config;
    config.nodeBaseUrl = args.first();
    config.deviceId = QStringLiteral("vekpa-0123456789abcdef0123456789abcdef");
    config.displayName = QStringLiteral("Reception");
    config.token = QStringLiteral("paired-credential");
    config.managed = true;
    config.servers = args.mid(1);
    worker.start(config);
    return app.exec();
}
