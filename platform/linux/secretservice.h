#pragma once
// The Linux secret store is the desktop's Secret Service, reached on the
// session bus. Each call waits a bounded time for it, so that a hung bus never
// hangs the program.

#include <chrono>

namespace vek::platform::linuxbackend {

std::chrono::milliseconds SecretServiceTimeout();

// Test seam: zero restores the default.
void SetSecretServiceTimeoutForTesting(std::chrono::milliseconds timeout);

}  // namespace vek::platform::linuxbackend
