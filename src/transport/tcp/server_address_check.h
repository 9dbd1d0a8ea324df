#pragma once
// At start-up: when "ChangeIP.INI" beside the agent names a server address that is not this
// machine's first IPv4 address, start "ChangeIP.exe" from the same folder (without waiting).
#include <string>

namespace perimo {

struct AgentState;

// The first IPv4 address of this machine's interfaces that are up, loopback excluded, in
// dotted form; empty when there is none.
std::string FirstHostAddress();
// Whether ChangeIP.exe should run for the configured and the current address.
bool NeedsAddressChange(std::u16string_view serverIp, std::string_view hostAddress);
// Runs the check; true when ChangeIP.exe was started.
bool RunServerAddressCheck(const AgentState& agent);

}  // namespace perimo
