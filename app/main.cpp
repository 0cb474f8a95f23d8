// Decides what this process does: the printer-profiles dialog on its own,
// the installer's request to a running agent, a hand-over to the agent that
// already runs, or the agent itself.

#include "agent/systemproxy.h"
#include "app/applicationidentity.h"
#include "app/commandchannel.h"
#include "app/updatepreparation.h"
#include "platform/crashhandler.h"
#include "printing/ui/printprofilesdialog.h"
#include "tray/agenttray.h"
#include "tray/notices.h"
#include "tray/notificationarea.h"
#include "vek/product.h"

#include <QApplication>
#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

using namespace std::chrono_literals;

namespace {

constexpr auto kPrepareUpdateLimit = 90000ms;
// The worker's thread gets this long to end after the event loop returns.
constexpr auto kWorkerStopTimeout = 2000ms;
// At sign-in the panel may start after the autostart entry runs.
constexpr auto kNotificationAreaWait = vek::product::kWindowsBuild ? 0ms : 10000ms;

void InstallCrashReports()
{
    vek::platform::CrashDumpConfig crash;
    crash.directory
        = (QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/crashes")
              .toStdString();
    crash.applicationName = vek::product::kExecutableName;
    crash.version = vek::product::kVersion;
    crash.dumpKind = 0;
    crash.keepCount = 3;
    vek::platform::InstallCrashHandler(crash);
}

int RunAgent(QApplication &application, const QString &dataDirectory)
{
    const QString title = QString::fromUtf8(vek::product::kAppName);
    QLockFile lock(vek::app::AgentLockPath(dataDirectory));
    lock.setStaleLockTime(0);
    const QString address = vek::app::CommandChannelAddress(dataDirectory);
    switch (vek::app::TryAgentLock(lock)) {
    case vek::app::LockResult::HeldByAgent:
        vek::app::ForwardSetup(address);
        return 0;
    case vek::app::LockResult::Failed:
        // Without the lock nobody can tell whether an agent runs: never a second one.
        vek::agent::ShowCriticalBox(title,
            QApplication::translate(
                "main", "The print agent cannot start because its data folder cannot be written."));
        return 1;
    case vek::app::LockResult::Taken:
        break;
    }

    vek::app::CommandChannel channel;
    channel.listen(address);
    InstallCrashReports();

    if (!vek::agent::WaitForNotificationArea(kNotificationAreaWait)) {
        vek::agent::ShowCriticalBox(title,
            QApplication::translate(
                "main", "This computer has no notification area, so the print agent cannot run."));
        return 1;
    }
    application.setQuitOnLastWindowClosed(false);

    auto tray = std::make_unique<vek::agent::AgentTray>();
    QObject::connect(&channel, &vek::app::CommandChannel::setupRequested, tray.get(),
        &vek::agent::AgentTray::openSetup, Qt::QueuedConnection);
    QObject::connect(&channel, &vek::app::CommandChannel::drainRequested, tray.get(),
        &vek::agent::AgentTray::beginInstallerDrain);
    QObject::connect(tray.get(), &vek::agent::AgentTray::quitRequested, &application,
        &QCoreApplication::quit, Qt::QueuedConnection);
    tray->startUp();

    const int result = application.exec();
    if (!tray->stopWorker(kWorkerStopTimeout)) {
        // A print or enrolment still runs on the worker's thread; destroying
        // that thread would abort. A cut-off print is covered by its journal.
        channel.close();
        lock.unlock();
        std::fflush(nullptr);
        std::_Exit(result);
    }
    tray.reset();
    channel.close();
    lock.unlock();
    return result;
}

bool HasArgument(int argc, char **argv, std::string_view argument)
{
    for (int i = 0; i < argc; ++i) {
        if (argv[i] == argument)
            return true;
    }
    return false;
}

QString DataDirectory()
{
    const QString directory
        = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(directory);  // when this fails, the lock attempt decides
    return directory;
}

}  // namespace

int main(int argc, char **argv)
{
    const bool printers = HasArgument(argc, argv, "--printers");
    if (!printers && HasArgument(argc, argv, "--prepare-update")) {
        // The installer's run shows nothing, so it needs no desktop session.
        QCoreApplication application(argc, argv);
        vek::app::ApplyApplicationIdentity(application);
        return vek::app::PrepareForUpdate(DataDirectory(), kPrepareUpdateLimit);
    }
    QApplication application(argc, argv);
    vek::app::ApplyApplicationIdentity(application);
    if (printers) {
        vek::printing::ShowPrintProfilesDialog(nullptr);
        return 0;
    }
    // Clinic and update requests follow the system's proxy settings.
    vek::agent::UseSystemProxySettings();
    return RunAgent(application, DataDirectory());
}
