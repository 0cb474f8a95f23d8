#pragma once
// Decides from a queue's IPP printer-state-reasons whether a person must act.

#include <string_view>

namespace vek::platform::linuxbackend {

// reasons is the comma-separated keyword list CUPS reports, e.g.
// "media-empty-error,paused". Paused, idle and printing queues need no one.
bool StateReasonsNeedAttention(std::string_view reasons);

}  // namespace vek::platform::linuxbackend
