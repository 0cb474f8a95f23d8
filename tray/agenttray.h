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

#include <chrono>

class QAction;
class QLocalSocket;
class QMenu;

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
    void signOut();
    void toggleRunAtLogon(bool enabled);
    void showServerLines(QStringList lines);

private:
    void buildMenu();
    void showState(AgentState state, const QString &detail);
    void onServersLearned(const QStringList &servers);
    void onShutdownReady();
    void onSetupFinished(int result);
    void onInstallerLeft();

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
    QPointer<QLocalSocket> installerConnection;
    QPointer<SetupDialog> setup;
};

}  // namespace vek::agent
