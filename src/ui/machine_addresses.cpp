#include "ui/machine_addresses.h"

#include "platform/machine_addresses.h"

namespace perimo {

std::vector<std::string> MachineAddresses() {
  platform::MachineAddresses found = platform::CurrentMachineAddresses();
  std::vector<std::string> all = std::move(found.ipv4);
  all.insert(all.end(), found.ipv6.begin(), found.ipv6.end());
  return all;
}

}  // namespace perimo
