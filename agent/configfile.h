#pragma once
// agent.json: the configuration record in the per-user application data
// directory. The credential is kept in the desktop keyring where one runs,
// and the file then only says so; elsewhere it is sealed for the signed-in
// user into the file itself.

#include "agentconfig.h"

#include <optional>

namespace vek::agent {

QString AgentConfigPath();

// Nothing when the file does not exist or cannot be read; otherwise a record,
// with defaults for whatever is missing or malformed. An empty identity and
// name are filled in memory only.
//
// When the file says that the keyring holds the credential but the keyring
// cannot give it now (locked, not running, not answering), the token is empty
// and credentialProblem receives a sentence for the user. The file and the
// keyring entry stay as they are, so the workstation is enrolled again once
// the keyring answers.
std::optional<AgentConfig> LoadAgentConfig(QString *credentialProblem = nullptr);

// False when the directory, the sealing or the write failed; the file is
// replaced atomically, so a failure leaves the previous one as it was. A
// keyring that runs but refuses the credential (locked, not answering) leaves
// it sealed into the file, as where none runs; never in clear.
bool SaveAgentConfig(const AgentConfig &config);

// Removes the credential from the stored file and from the keyring; true when
// there is no file, or when both are done.
bool ClearStoredToken();

}  // namespace vek::agent
