#pragma once
// Binds the setup dialog's data protection button to the agent's data protection library.
#include <memory>

#include "protocol/agent_state.h"
#include "ui/data_protection.h"

namespace perimo {

std::unique_ptr<DataProtectionLibrary> MakeDataProtectionBinding(const AgentState& agent);

}  // namespace perimo
