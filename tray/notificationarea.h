#pragma once
// Whether the desktop shows a notification area. At sign-in the panel may
// come up after the agent, so the check can wait a while for it.

#include <chrono>

namespace vek::agent {

// True as soon as a notification area is there; false after timeout. Polls
// from the event loop, so the program stays responsive while it waits.
bool WaitForNotificationArea(std::chrono::milliseconds timeout);

}  // namespace vek::agent
