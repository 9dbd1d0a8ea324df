#pragma once
// What the agent gives the serial library: its trace lines go to "CELog.TXT" in the folder
// derived from the executable's path, and its status texts come from the agent's texts (so a
// language library translates them); a module waiting in the library keeps the loop running.
#include "protocol/agent_state.h"

namespace perimo {

void InstallSerialHooks(const AgentPaths& paths);
void RemoveSerialHooks();

}  // namespace perimo
