#pragma once
// The machine's addresses for the status window's IP line, as the server address check sees
// them (platform/machine_addresses.h): interfaces that are up, without
// loopback (127.0.0.0/8, ::1) and unspecified addresses; IPv4 first, each in its usual
// text form.
#include <functional>
#include <string>
#include <vector>

namespace perimo {

using MachineAddressesFn = std::function<std::vector<std::string>()>;

std::vector<std::string> MachineAddresses();

}  // namespace perimo
