#pragma once
// agent.json: the configuration record in the per-user application data
// directory, with the credential sealed for the signed-in user.

#include "agentconfig.h"

#include <optional>

namespace vek::agent {

QString AgentConfigPath();

// Nothing when the file does not exist or cannot be read; otherwise a record,
// with defaults for whatever is missing or malformed. An empty identity and
// name are filled in memory only.
std::optional<AgentConfig> LoadAgentConfig();

// False when the directory, the sealing or the write failed; the file is
// replaced atomically, so a failure leaves the previous one as it was.
bool SaveAgentConfig(const AgentConfig &config);

// Removes the credential from the stored file; true when there is no file.
bool ClearStoredToken();

}  // namespace vek::agent
