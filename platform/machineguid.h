#pragma once

#include <string>

namespace vek::platform {

// The installation's stable machine identifier as the system stores it
// (untrimmed); empty when it cannot be read. Nothing is ever written.
std::string MachineGuid();

}  // namespace vek::platform
