#include "agentconfig.h"

namespace vek::agent {

void RegisterAgentMetaTypes()
{
    qRegisterMetaType<AgentConfig>("vek::agent::AgentConfig");
    qRegisterMetaType<AgentConfig>("AgentConfig");
    qRegisterMetaType<AgentState>("vek::agent::AgentState");
}

}  // namespace vek::agent
