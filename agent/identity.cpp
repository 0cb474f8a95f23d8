#include "agent/identity.h"

#include "platform/machineguid.h"

#include <QCryptographicHash>
#include <QHostInfo>
#include <QStorageInfo>

namespace vek::agent {

std::optional<QString> DeviceIdFrom(const QString &machineGuid, const QString &volumeDevice)
{
    const QString guid = machineGuid.trimmed().toLower();
    const QString volume = volumeDevice.trimmed().toLower();
    if (guid.isEmpty() && volume.isEmpty())
        return std::nullopt;
    // One pass over both placeholders: a "%2" inside the GUID stays literal.
    const QString input = QStringLiteral("vek-print-agent:v1:%1|%2").arg(guid, volume);
    const QByteArray digest = QCryptographicHash::hash(input.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("vekpa-") + QString::fromLatin1(digest.toHex().left(32));
}

QString DisplayNameFrom(const QString &hostName)
{
    const QString name = hostName.trimmed();
    return name.isEmpty() ? QStringLiteral("Workstation") : name;
}

std::optional<QString> DeriveDeviceId()
{
    return DeviceIdFrom(QString::fromStdString(vek::platform::MachineGuid()), SystemVolumeDevice());
}

QString SystemVolumeDevice()
{
    return QString::fromUtf8(QStorageInfo::root().device()).trimmed();
}

QString DefaultDisplayName()
{
    return DisplayNameFrom(QHostInfo::localHostName());
}

}  // namespace vek::agent
