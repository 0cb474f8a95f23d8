// The tray's part in the agent's self-update: timed and requested checks,
// the offer in the menu and a balloon, the question before downloading,
// progress in the tooltip, and the drain before the installer starts.

#include "agenttray.h"

#include "notices.h"

#include "update/desktopupdateservice.h"
#include "update/updatemanifest.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QMenu>

namespace vek::agent {

namespace {
constexpr std::chrono::milliseconds kFirstCheck { 60000 };
constexpr std::chrono::milliseconds kCheckEvery { 21600000 };  // 6 hours

QString ProductName()
{
    return AgentTray::tr("Vek Print Agent");
}

// Linux gets the agent from the distribution's package; on Windows the
// sibling program's installer, when it sits beside the agent, owns updates.
bool AgentUpdatesItself(bool updatesOnThisBuild)
{
    return updatesOnThisBuild
        && !QFile::exists(QCoreApplication::applicationDirPath() + "/VekWorkstation.exe");
}
}  // namespace

void AgentTray::enableUpdatesForTesting(
    const QUrl &manifestUrl, const UpdateServiceSettings &settings)
{
    updatesOnThisBuild = true;
    testManifestUrl = manifestUrl;
    testUpdateSettings = std::make_unique<UpdateServiceSettings>(settings);
    addUpdateAction();
}

void AgentTray::addUpdateAction()
{
    if (updateAction || !AgentUpdatesItself(updatesOnThisBuild))
        return;
    // Tenth place: after "Sign this workstation out", before the separator
    // above "Quit".
    const QList<QAction *> entries = menu->actions();
    QAction *before = entries.value(entries.indexOf(signOutAction) + 1);
    updateAction = new QAction(tr("Check for updates"), menu);
    menu->insertAction(before, updateAction);
    connect(updateAction, &QAction::triggered, this, &AgentTray::startUpdate);
}

void AgentTray::setupUpdates()
{
    if (!updateAction || updateService)
        return;
    DesktopUpdateService::RemoveStaleDownloads();
    const QString version = QCoreApplication::applicationVersion();
    updateService = testUpdateSettings
        ? new DesktopUpdateService(
            version, testManifestUrl, this, update::kPrintAgentProduct, *testUpdateSettings)
        : new DesktopUpdateService(
            version, DesktopUpdateService::DefaultManifestUrl(), this, update::kPrintAgentProduct);
    connect(
        updateService, &DesktopUpdateService::UpdateAvailable, this, &AgentTray::onUpdateAvailable);
    connect(updateService, &DesktopUpdateService::NoUpdateAvailable, this,
        &AgentTray::onNoUpdateAvailable);
    connect(updateService, &DesktopUpdateService::CheckFailed, this, &AgentTray::onCheckFailed);
    connect(updateService, &DesktopUpdateService::DownloadProgress, this,
        &AgentTray::onDownloadProgress);
    connect(updateService, &DesktopUpdateService::UpdateReady, this, &AgentTray::onUpdateReady);
    connect(
        updateService, &DesktopUpdateService::InstallerStarted, this, &AgentTray::quitRequested);
    connect(updateService, &DesktopUpdateService::UpdateFailed, this, &AgentTray::onUpdateFailed);

    updateTimer.setObjectName("updateCheckTimer");
    connect(&updateTimer, &QTimer::timeout, this, &AgentTray::onUpdateTimer);
    updateTimer.start(kFirstCheck);
}

void AgentTray::onUpdateTimer()
{
    updateTimer.setInterval(kCheckEvery);
    if (!downloadingUpdate && !draining())
        updateService->CheckForUpdates();
}

void AgentTray::startUpdate()
{
    if (!updateService || downloadingUpdate || draining())
        return;
    if (availableVersion.isEmpty()) {
        userRequestedCheck = true;
        updateService->CheckForUpdates();
        return;
    }
    if (!AskYesNo(tr("Update Vek Print Agent"),
            tr("Version %1 will be downloaded and checked, then installed after the current "
               "print job. Windows asks for permission, and the agent starts again by itself.")
                .arg(availableVersion)))
        return;
    downloadingUpdate = true;
    updateAction->setEnabled(false);
    trayIcon.setToolTip(tr("Downloading the update…"));
    updateService->DownloadUpdate();
}

void AgentTray::onUpdateAvailable(QString version)
{
    availableVersion = version;
    updateAction->setText(tr("Update to version %1…").arg(version));
    if (userRequestedCheck) {
        userRequestedCheck = false;
        startUpdate();
        return;
    }
    if (version == announcedVersion)
        return;
    announcedVersion = version;
    ShowInformationBalloon(trayIcon, ProductName(),
        tr("Version %1 is available. Choose Update in this icon's menu.").arg(version));
}

void AgentTray::onNoUpdateAvailable()
{
    if (!userRequestedCheck)
        return;
    userRequestedCheck = false;
    ShowInformationBox(ProductName(),
        tr("This is the latest version (%1).").arg(QCoreApplication::applicationVersion()));
}

void AgentTray::onCheckFailed(const QString &reason)
{
    if (!userRequestedCheck)
        return;
    userRequestedCheck = false;
    ShowWarningBox(ProductName(), tr("Could not check for updates.\n\n%1").arg(reason));
}

void AgentTray::onDownloadProgress(qlonglong received, qlonglong total)
{
    if (total <= 0 || !downloadingUpdate)
        return;
    trayIcon.setToolTip(tr("Downloading the update… %1%").arg(received * 100 / total));
}

void AgentTray::onUpdateReady(const QString &)
{
    downloadingUpdate = false;
    const bool alreadyDraining = draining();
    drainingForUpdate = true;
    beginDrain(alreadyDraining, tr("Finishing the current print job before updating…"));
}

void AgentTray::onUpdateFailed(QString reason)
{
    downloadingUpdate = false;
    updateAction->setEnabled(true);
    // What the worker last reported, not a state made up here; the worker
    // reports afresh once it runs again.
    showState(lastState, lastDetail);
    const bool wasDraining = drainingForUpdate;
    drainingForUpdate = false;
    if (wasDraining || draining())
        endDrainIfDone();
    ShowWarningBalloon(trayIcon, tr("The update was not installed"),
        tr("This version keeps running unchanged.\n%1").arg(reason));
}

}  // namespace vek::agent
