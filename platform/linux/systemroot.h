#pragma once
// The Linux backend reads kernel and system files (/etc, /proc, /sys, /dev)
// below one root directory, so that tests can point it at a fixture tree.

#include <string>
#include <string_view>

namespace vek::platform::linuxbackend {

// absolute is a path such as "/proc/self/mounts"; returns it below the root.
std::string SystemPath(std::string_view absolute);

// Test seam: "" or "/" restores the real root.
void SetSystemRootForTesting(std::string root);

}  // namespace vek::platform::linuxbackend
