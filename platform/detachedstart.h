#pragma once
// Starting a program that outlives this one and inherits nothing from it:
// no handles or descriptors, no standard streams, its own directory.

#include <cstdint>
#include <string>
#include <vector>

namespace vek::platform {

// program is a full path (UTF-8); the working directory is the directory
// that holds it. True when the program was started; processId receives its
// id when not null.
bool StartDetached(
    const std::string &program, const std::vector<std::string> &arguments, std::int64_t *processId);

}  // namespace vek::platform
