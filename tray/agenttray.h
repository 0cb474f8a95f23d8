#pragma once
// The agent's face and conductor on the main thread: the notification-area
// icon and its menu, the live configuration, and the worker on a thread of
// its own, reached only through queued signals that carry values.

#include "agent/agentconfig.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>

class QAction;
class QLocalSocket;
class QMenu;

namespace vek {
class DesktopUpdateService;
struct UpdateServiceSettings;
}  // namespace vek

namespace vek::agent {

class AgentWorker;
class SetupDialog;

class AgentTray : public QObject {
    Q_OBJECT
public:
    explicit AgentTray(QObject *parent = nullptr);
    ~AgentTray() override;  // waits for the worker's thread to end

    // Loads the configuration, then starts the worker or opens setup.
    void startUp();

    // Asks the worker to stop and its thread to end; false when the thread
    // still runs after timeout (a print or enrolment that does not return).
    // A running thread must not be destroyed: the caller then ends the process.
    bool stopWorker(std::chrono::milliseconds timeout);

    // The open setup dialog, or null.
    SetupDialog *setupDialog() const;

    // Tests only, before startUp(): runs the self-update flow as a Windows
    // build does, against the given manifest and service settings. A sibling
    // program beside the agent still turns it off.
    void enableUpdatesForTesting(const QUrl &manifestUrl, const UpdateServiceSettings &settings);

signals:
    void requestStart(AgentConfig config);
    void requestStop();
    void requestUpdateShutdown();
    void cancelUpdateShutdown();
    void requestEnrol(AgentConfig config, QString enrolmentSecret);
    void requestPollNow();

    // The application should end (Quit, or a drain for an installer is done).
    void quitRequested();

public slots:
    void openSetup();
    // An installer asked over the command channel for the agent to finish
    // its job and exit; the socket's disconnection means it left.
    void beginInstallerDrain(QLocalSocket *installer);

private slots:
    void onStateChanged(vek::agent::AgentState state, QString detail);
    void onJobFinished(QString orderId, bool printed, QString detail);
    void onEnrolmentFinished(bool ok, QString detail, QString token);
    void onPrintersReported(int count);
    void checkForJobsNow();
    void signOut();
    void toggleRunAtLogon(bool enabled);
    void showServerLines(QStringList lines);
    void startUpdate();
    void onUpdateAvailable(QString version);
    void onUpdateFailed(QString reason);
    void onShutdownReady();

private:
    void buildMenu();
    void showState(AgentState state, const QString &detail);
    void onServersLearned(const QStringList &servers);
    void onSetupFinished(int result);
    void onInstallerLeft();

    // Self-update (agenttrayupdates.cpp).
    void addUpdateAction();
    void setupUpdates();
    void onUpdateTimer();
    void onNoUpdateAvailable();
    void onCheckFailed(const QString &reason);
    void onDownloadProgress(qlonglong received, qlonglong total);
    void onUpdateReady(const QString &version);

    // One drain for two reasons, this agent's own update and an outside
    // installer: the worker resumes only when neither remains.
    bool draining() const;
    void beginDrain(bool alreadyDraining, const QString &toolTip);
    void endDrainIfDone();

    QSystemTrayIcon trayIcon;
    QMenu *menu = nullptr;
    QAction *statusAction = nullptr;
    QAction *printersAction = nullptr;
    QAction *lastJobAction = nullptr;
    QAction *runAtLogonAction = nullptr;
    QAction *signOutAction = nullptr;
    QList<QAction *> serverActions;
    QThread workerThread;
    AgentWorker *worker = nullptr;  // lives on workerThread, deleted when it ends
    AgentConfig config;
    // Enrolled, but the keyring keeps the credential out of reach for now.
    bool credentialOutOfReach = false;
    QPointer<QLocalSocket> installerConnection;
    QPointer<SetupDialog> setup;
    AgentState lastState = AgentState::Connecting;  // restored after a failed update
    QString lastDetail;

    DesktopUpdateService *updateService = nullptr;  // child of the tray
    QAction *updateAction = nullptr;
    QTimer updateTimer;
    QString availableVersion;
    QString announcedVersion;
    bool userRequestedCheck = false;
    bool downloadingUpdate = false;
    bool drainingForUpdate = false;
    bool installerInThisDrain = false;
    bool updatesOnThisBuild;
    QUrl testManifestUrl;
    std::unique_ptr<UpdateServiceSettings> testUpdateSettings;
};

}  // namespace vek::agent
