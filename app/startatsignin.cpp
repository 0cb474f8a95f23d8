#include "app/startatsignin.h"

#include "platform/startatsignin.h"

#include <QCoreApplication>
#include <QDir>

namespace vek::agent {
namespace {

std::string ProgramPath()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationFilePath()).toStdString();
}

}  // namespace

QString RunAtLogonCommand()
{
    return QString::fromStdString(platform::RunAtSignInCommand(ProgramPath()));
}

bool IsRunAtLogonEnabled()
{
    return platform::IsRunAtSignInEnabled(ProgramPath());
}

bool SetRunAtLogon(bool enabled)
{
    return platform::SetRunAtSignIn(enabled, ProgramPath());
}

}  // namespace vek::agent
