#include "platform/startatsignin.h"

#include "platform/linux/desktopentry.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <vek/product.h>

namespace vek::platform {
namespace {

// $XDG_CONFIG_HOME/autostart, where an empty or relative XDG_CONFIG_HOME
// counts as unset, as the base directory rules say.
QString AutostartDirectory()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart");
}

QString AutostartEntryPath()
{
    return AutostartDirectory() + QStringLiteral("/VekPrintAgent.desktop");
}

}  // namespace

std::string RunAtSignInCommand(const std::string &programPath)
{
    return linuxbackend::DesktopExecValue(programPath);
}

bool IsRunAtSignInEnabled(const std::string &programPath)
{
    QFile file(AutostartEntryPath());
    if (programPath.empty() || !file.open(QIODevice::ReadOnly))
        return false;
    // Far more than any entry of ours; a larger file is not one.
    constexpr qint64 kMaxEntryBytes = 64 * 1024;
    const QByteArray content = file.read(kMaxEntryBytes + 1);
    if (content.size() > kMaxEntryBytes)
        return false;
    return linuxbackend::AutostartEntryRuns(content.toStdString(), programPath);
}

bool SetRunAtSignIn(bool enabled, const std::string &programPath)
{
    const QString path = AutostartEntryPath();
    if (!enabled)
        return !QFile::exists(path) || QFile::remove(path);
    if (programPath.empty() || !QDir().mkpath(AutostartDirectory()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const std::string entry = linuxbackend::AutostartEntry(product::kAppName, programPath);
    file.write(entry.data(), static_cast<qint64>(entry.size()));
    return file.commit();
}

}  // namespace vek::platform
