#include "platform/machineguid.h"

#include "systemroot.h"

#include <fstream>

namespace vek::platform {
namespace {

// The first line of the file without its newline; empty when unreadable.
std::string FirstLine(const std::string &path)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    return line;
}

}  // namespace

std::string MachineGuid()
{
    // systemd keeps the identifier in /etc; older D-Bus installs only in /var/lib/dbus.
    for (const char *file : { "/etc/machine-id", "/var/lib/dbus/machine-id" }) {
        std::string id = FirstLine(linuxbackend::SystemPath(file));
        if (!id.empty())
            return id;
    }
    return {};
}

}  // namespace vek::platform
