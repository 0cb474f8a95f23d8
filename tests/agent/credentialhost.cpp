// agent.json in a process of its own, as a restarted agent finds it.
//   credentialhost save ADDRESS TOKEN    exit 0 when saved
//   credentialhost load                  prints "token=..." and "problem=..."
//   credentialhost clear                 exit 0 when cleared

#include "agent/configfile.h"
#include "app/applicationidentity.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace vek::agent;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    vek::app::ApplyApplicationIdentity(app);
    const QStringList arguments = app.arguments();
    const QString command = arguments.value(1);
    if (command == "save") {
        AgentConfig config;
        config.nodeBaseUrl = arguments.value(2);
        config.token = arguments.value(3);
        config.deviceId = "vekpa-0123456789abcdef0123456789abcdef";
        return SaveAgentConfig(config) ? 0 : 1;
    }
    if (command == "load") {
        QString problem;
        const std::optional<AgentConfig> config = LoadAgentConfig(&problem);
        if (!config)
            return 2;
        QTextStream(stdout) << "token=" << config->token << "\nproblem=" << problem << "\n";
        return 0;
    }
    if (command == "clear")
        return ClearStoredToken() ? 0 : 1;
    return 3;
}
