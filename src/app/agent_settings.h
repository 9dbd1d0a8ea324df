#pragma once
// The agent's settings, read once at start-up from its settings file.
#include <string>
#include <string_view>

#include "protocol/agent_state.h"

namespace perimo {

// Every key with its default; a missing file or key gives the default.
AgentSettings ReadAgentSettings(std::u16string_view agentIniPath);

// The largest packSize whose upload reply (0x06, u32 count, packSize bytes) still fits the
// 131072-byte send buffer encrypted and framed with every byte doubled: 65511.
int32_t LargestSendablePackSize();
// packSize as the transfer code can use it: 255 .. LargestSendablePackSize() (a smaller one
// would make the block buffer useless, a larger one upload blocks that cannot be sent).
int32_t UsablePackSize(int32_t packSize);

// "<ProductName> (v<ProductVersion>)"; fallback when the product name is empty.
std::u16string ApplicationTitle(const AgentSettings& settings, std::u16string_view fallback);

// With "Setup"/"AppName" set: section "Application" of "CEApp.INI" in the agent's folder gets
// "Directory" = <exeDir>\<AppName>\ and "Configuration" = that folder + <AppName>.app.
bool WriteApplicationFile(std::u16string_view exeDir, std::u16string_view appName);

}  // namespace perimo
