#include "signinswitch.h"

#include "platform/startatsignin.h"
#include "vek/product.h"

#include <QCoreApplication>
#include <QString>

namespace vek::agent {

namespace {
std::string ProgramPath()
{
    return QCoreApplication::applicationFilePath().toStdString();
}
}  // namespace

bool RunAtSignInEnabled()
{
    return platform::IsRunAtSignInEnabled(ProgramPath());
}

bool SetRunAtSignInEnabled(bool enabled)
{
    return platform::SetRunAtSignIn(enabled, ProgramPath());
}

QString RunAtSignInFailureText()
{
    return product::kWindowsBuild
        ? QCoreApplication::translate("vek::agent::AgentTray",
            "Windows would not let this setting be saved, so the agent may not start "
            "automatically.")
        : QCoreApplication::translate("vek::agent::AgentTray",
            "The autostart entry could not be saved, so the agent may not start automatically.");
}

}  // namespace vek::agent
