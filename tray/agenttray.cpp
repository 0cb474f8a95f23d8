#include "agenttray.h"

#include "notices.h"
#include "setupdialog.h"
#include "signinfailure.h"
#include "statelook.h"

#include "agent/agentworker.h"
#include "agent/configfile.h"
#include "agent/identity.h"
#include "app/startatsignin.h"
#include "printing/systemtexts.h"
#include "printing/ui/printprofilesdialog.h"
#include "update/desktopupdateservice.h"
#include "vek/product.h"

#include <QAction>
#include <QDateTime>
#include <QLocalSocket>
#include <QMenu>
#include <QSignalBlocker>

namespace vek::agent {

namespace {
QString ProductName()
{
    return AgentTray::tr("Vek Print Agent");
}
}  // namespace

AgentTray::AgentTray(QObject *parent)
    : QObject(parent)
    , trayIcon(this)
    , updateTimer(this)
    , updatesOnThisBuild(product::kWindowsBuild)
{
    RegisterAgentMetaTypes();
    buildMenu();
    trayIcon.setObjectName("agentTrayIcon");
    trayIcon.setContextMenu(menu);
    trayIcon.setIcon(drawStateIcon(stateLook(AgentState::Connecting).colour));
    trayIcon.setToolTip(ProductName());
    trayIcon.show();

    worker = new AgentWorker;
    worker->moveToThread(&workerThread);
    connect(&workerThread, &QThread::finished, worker, &QObject::deleteLater);
    connect(this, &AgentTray::requestStart, worker, &AgentWorker::start);
    connect(this, &AgentTray::requestStop, worker, &AgentWorker::stop);
    connect(this, &AgentTray::requestUpdateShutdown, worker, &AgentWorker::shutdownWhenIdle);
    connect(this, &AgentTray::cancelUpdateShutdown, worker, &AgentWorker::cancelUpdateShutdown);
    connect(this, &AgentTray::requestEnrol, worker, &AgentWorker::enrol);
    connect(this, &AgentTray::requestPollNow, worker, &AgentWorker::pollNow);
    connect(worker, &AgentWorker::stateChanged, this, &AgentTray::onStateChanged);
    connect(worker, &AgentWorker::jobFinished, this, &AgentTray::onJobFinished);
    connect(worker, &AgentWorker::enrolmentFinished, this, &AgentTray::onEnrolmentFinished);
    connect(worker, &AgentWorker::printersReported, this, &AgentTray::onPrintersReported);
    connect(worker, &AgentWorker::serversLearned, this, &AgentTray::onServersLearned);
    connect(worker, &AgentWorker::serversReported, this, &AgentTray::showServerLines);
    connect(worker, &AgentWorker::shutdownReady, this, &AgentTray::onShutdownReady);
    workerThread.start(QThread::InheritPriority);
}

AgentTray::~AgentTray()
{
    // Never destroy a thread that still runs: the owner of the process ends
    // it instead when stopWorker gave up (a print or enrolment still running).
    stopWorker(std::chrono::milliseconds::max());
    // The service aborts a running download as it goes; nothing of that may
    // reach a tray that is already half gone.
    if (updateService) {
        disconnect(updateService, nullptr, this, nullptr);
        delete updateService;
    }
    delete setup;
    delete menu;
}

bool AgentTray::stopWorker(std::chrono::milliseconds timeout)
{
    emit requestStop();
    workerThread.quit();
    if (timeout == std::chrono::milliseconds::max())
        return workerThread.wait();
    return workerThread.wait(QDeadlineTimer(timeout));
}

SetupDialog *AgentTray::setupDialog() const
{
    return setup;
}

void AgentTray::buildMenu()
{
    menu = new QMenu;
    menu->setObjectName("agentTrayMenu");
    statusAction = menu->addAction(tr("Starting…"));
    statusAction->setEnabled(false);
    printersAction = menu->addAction(tr("No printers reported yet"));
    printersAction->setEnabled(false);
    lastJobAction = menu->addAction(tr("No jobs yet"));
    lastJobAction->setEnabled(false);
    menu->addSeparator();
    connect(menu->addAction(tr("Check for jobs now")), &QAction::triggered, this,
        &AgentTray::checkForJobsNow);
    connect(menu->addAction(tr("Set up this workstation…")), &QAction::triggered, this,
        &AgentTray::openSetup);
    connect(menu->addAction(tr(printing::systemtext::kPrintersMenuEntry)), &QAction::triggered,
        this, [] { printing::ShowPrintProfilesDialog(nullptr); });
    runAtLogonAction = menu->addAction(tr("Start when I sign in"));
    runAtLogonAction->setCheckable(true);
    runAtLogonAction->setChecked(IsRunAtLogonEnabled());
    connect(runAtLogonAction, &QAction::toggled, this, &AgentTray::toggleRunAtLogon);
    signOutAction = menu->addAction(tr("Sign this workstation out"));
    signOutAction->setEnabled(false);
    connect(signOutAction, &QAction::triggered, this, &AgentTray::signOut);
    menu->addSeparator();
    connect(menu->addAction(tr("Quit")), &QAction::triggered, this, &AgentTray::quitRequested);
    addUpdateAction();
}

void AgentTray::startUp()
{
    setupUpdates();
    QString credentialProblem;
    if (const std::optional<AgentConfig> stored = LoadAgentConfig(&credentialProblem))
        config = *stored;
    if (config.deviceId.isEmpty())
        config.deviceId = DeriveDeviceId().value_or(QString());
    if (config.displayName.isEmpty())
        config.displayName = DefaultDisplayName();
    if (config.isSetUp()) {
        emit requestStart(config);
        return;
    }
    if (!credentialProblem.isEmpty()) {
        // Setting up again would replace a credential that still works once
        // the keyring answers, so setup is not opened on its own here.
        credentialOutOfReach = true;
        showState(AgentState::NotEnrolled, credentialProblem);
        return;
    }
    showState(AgentState::NotConfigured, tr("This workstation has not been set up."));
    openSetup();
}

void AgentTray::checkForJobsNow()
{
    if (!credentialOutOfReach) {
        emit requestPollNow();
        return;
    }
    QString credentialProblem;
    const std::optional<AgentConfig> stored = LoadAgentConfig(&credentialProblem);
    if (stored && stored->isSetUp()) {
        credentialOutOfReach = false;
        config.token = stored->token;
        showState(AgentState::Connecting, QString());
        emit requestStart(config);
        return;
    }
    if (!credentialProblem.isEmpty()) {
        showState(AgentState::NotEnrolled, credentialProblem);
        return;
    }
    // The keyring answered without the entry: nothing is left to wait for.
    credentialOutOfReach = false;
    showState(AgentState::NotConfigured, tr("This workstation has not been set up."));
    openSetup();
}

void AgentTray::showState(AgentState state, const QString &detail)
{
    lastState = state;
    lastDetail = detail;
    const StateLook look = stateLook(state);
    trayIcon.setIcon(drawStateIcon(look.colour));
    trayIcon.setToolTip(detail.isEmpty() ? look.text : look.text + '\n' + detail);
    statusAction->setText(look.text);
    signOutAction->setEnabled(!config.token.isEmpty());
}

void AgentTray::onStateChanged(AgentState state, QString detail)
{
    showState(state, detail);
    if (state == AgentState::SignedOut)
        ShowWarningBalloon(trayIcon, ProductName(), detail);
}

void AgentTray::onJobFinished(QString, bool printed, QString detail)
{
    if (printed) {
        lastJobAction->setText(tr(printing::systemtext::kLastJobSent).arg(detail));
        return;
    }
    lastJobAction->setText(tr("Last job failed: %1").arg(detail));
    ShowWarningBalloon(trayIcon, tr("A print job failed"), detail);
}

void AgentTray::onPrintersReported(int count)
{
    printersAction->setText(count == 1 ? tr("1 printer reported to the clinic")
                                       : tr("%1 printers reported to the clinic").arg(count));
}

void AgentTray::showServerLines(QStringList lines)
{
    QStringList current;
    for (const QAction *action : std::as_const(serverActions))
        current.append(action->text());
    if (current == lines)
        return;
    qDeleteAll(serverActions);  // a deleted action leaves the menu
    serverActions.clear();
    for (const QString &line : lines) {
        auto *action = new QAction(line, menu);
        action->setEnabled(false);
        menu->insertAction(printersAction, action);
        serverActions.append(action);
    }
}

void AgentTray::onServersLearned(const QStringList &servers)
{
    config.servers = servers;
    if (!config.token.isEmpty())
        SaveAgentConfig(config);
}

void AgentTray::openSetup()
{
    // One dialog at a time: a second start, a refused enrolment or the menu
    // bring the open one forward instead of stacking another.
    if (setup) {
        setup->show();
        setup->raise();
        setup->activateWindow();
        return;
    }
    setup = new SetupDialog(config);
    connect(setup, &QDialog::finished, this, &AgentTray::onSetupFinished);
    setup->open();
}

void AgentTray::onSetupFinished(int result)
{
    SetupDialog *dialog = setup;
    setup = nullptr;
    dialog->deleteLater();
    if (result != QDialog::Accepted)
        return;

    config.nodeBaseUrl = dialog->address();
    config.managed = dialog->managed();
    config.token.clear();
    config.servers.clear();
    credentialOutOfReach = false;
    emit requestStop();
    config.displayName = dialog->displayName();
    if (config.displayName.isEmpty())
        config.displayName = DefaultDisplayName();
    if (config.deviceId.isEmpty()) {
        ShowCriticalBox(tr("Set up this workstation"),
            tr("This computer could not be identified, so it cannot be enrolled."));
        return;
    }
    SaveAgentConfig(config);
    showState(AgentState::Connecting, tr("Enrolling…"));
    emit requestEnrol(config, dialog->secret());
}

void AgentTray::onEnrolmentFinished(bool ok, QString detail, QString token)
{
    if (!ok) {
        ShowWarningBox(tr("Set up this workstation"), detail);
        openSetup();
        return;
    }
    config.token = token;
    if (SetRunAtLogon(true)) {
        const QSignalBlocker blocker(runAtLogonAction);
        runAtLogonAction->setChecked(true);
    }
    if (!SaveAgentConfig(config)) {
        ShowWarningBox(tr("Set up this workstation"),
            tr("This workstation was enrolled, but its credential could not be saved. It will "
               "have to be set up again after a restart."));
    }
    emit requestStart(config);
}

void AgentTray::signOut()
{
    if (!AskYesNo(tr("Sign this workstation out"),
            tr("This workstation will stop printing until it is set up again. Continue?")))
        return;
    emit requestStop();
    config.token.clear();
    ClearStoredToken();
    SetRunAtLogon(false);
    {
        const QSignalBlocker blocker(runAtLogonAction);
        runAtLogonAction->setChecked(false);
    }
    showState(AgentState::NotEnrolled, tr("This workstation has been signed out."));
}

void AgentTray::toggleRunAtLogon(bool enabled)
{
    if (SetRunAtLogon(enabled))
        return;
    ShowWarningBox(ProductName(), RunAtSignInFailureText());
    const QSignalBlocker blocker(runAtLogonAction);
    runAtLogonAction->setChecked(IsRunAtLogonEnabled());
}

void AgentTray::beginInstallerDrain(QLocalSocket *installer)
{
    if (installerConnection || installer->state() != QLocalSocket::ConnectedState)
        return;
    const bool alreadyDraining = draining();
    installerConnection = installer;
    installerInThisDrain = true;
    connect(installer, &QLocalSocket::disconnected, this, &AgentTray::onInstallerLeft);
    beginDrain(alreadyDraining, tr("Finishing the current print job before updating Vek…"));
}

void AgentTray::onInstallerLeft()
{
    if (sender() != installerConnection)
        return;
    installerConnection.clear();
    endDrainIfDone();
}

bool AgentTray::draining() const
{
    return drainingForUpdate || installerConnection;
}

void AgentTray::beginDrain(bool alreadyDraining, const QString &toolTip)
{
    menu->setEnabled(false);
    trayIcon.setToolTip(toolTip);
    if (!alreadyDraining)
        emit requestUpdateShutdown();
}

void AgentTray::endDrainIfDone()
{
    if (drainingForUpdate) {
        trayIcon.setToolTip(tr("Finishing the current print job before updating…"));
        return;
    }
    if (installerConnection) {
        trayIcon.setToolTip(tr("Finishing the current print job before updating Vek…"));
        return;
    }
    menu->setEnabled(true);
    emit cancelUpdateShutdown();
    // After an installer the worker starts in any case, so that it reports
    // its state again; after this agent's own update only when set up.
    if (config.isSetUp() || installerInThisDrain)
        emit requestStart(config);
    installerInThisDrain = false;
}

void AgentTray::onShutdownReady()
{
    // An installer that is already running and waiting for this agent goes
    // first: starting a second installer beside it could only collide.
    if (installerConnection && installerConnection->state() == QLocalSocket::ConnectedState) {
        emit quitRequested();
        return;
    }
    if (drainingForUpdate && updateService)
        updateService->InstallUpdate();
}

}  // namespace vek::agent
