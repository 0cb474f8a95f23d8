#pragma once
// The workstation's stable identity and default display name.

#include <QString>

#include <optional>

namespace vek::agent {

// "vekpa-" and 32 lower-case hex digits, hashed from the machine GUID and the
// system volume's device name; nothing when neither can be read.
std::optional<QString> DeriveDeviceId();

// The device identifier of the volume holding the file system root, trimmed;
// empty when the system reports none.
QString SystemVolumeDevice();

// The host name, or "Workstation" when it is blank. Never empty.
QString DefaultDisplayName();

// The pure rules behind the functions above. Both inputs are trimmed and
// lower-cased; either may be empty, not both.
std::optional<QString> DeviceIdFrom(const QString &machineGuid, const QString &volumeDevice);
QString DisplayNameFrom(const QString &hostName);

}  // namespace vek::agent
