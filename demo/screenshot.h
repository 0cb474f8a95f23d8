#pragma once
// Pictures of the X screen the agent shows its icon and dialogs on.

#include "agent/agentconfig.h"

#include <QString>

#include <optional>

namespace vek::demo {

// Saves the whole screen as a PNG. With a state, waits until the screen
// shows an icon of that state's colour (at most timeoutMs) and saves that
// picture; false when it never did or the file cannot be written.
bool SaveScreenshot(const QString &path, std::optional<agent::AgentState> waitFor, int timeoutMs);

}  // namespace vek::demo
