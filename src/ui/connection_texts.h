#pragma once
// The texts of the status window's connection lines, shared with the headless start-up,
// which prints them for a person at the terminal.
#include <string>
#include <vector>

#include "protocol/agent_state.h"

namespace perimo {

// By `device`: serial (with its one-based COM number), network or infrared; empty otherwise.
std::u16string ConnectionTypeText(const AgentSettings& settings);
// "IP(s): " with the addresses joined by ", ", or with "not specified" when there are none.
std::u16string IpLineText(const std::vector<std::string>& addresses);
// After the setup dialog: the transport is reopened when the device changed, or when it is
// the serial link and one of its settings changed.
bool TransportNeedsReopen(const AgentSettings& before, const AgentSettings& after);

}  // namespace perimo
