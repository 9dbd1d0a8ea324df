#pragma once
// This machine's network addresses as the workstation would use them: those of interfaces
// that are up, without loopback (all of 127.0.0.0/8 and ::1) or unspecified addresses. The
// host name is no guide on Linux: Debian maps it to 127.0.1.1 in /etc/hosts.
#include <ifaddrs.h>

#include <string>
#include <string_view>
#include <vector>

namespace perimo::platform {

struct MachineAddresses {
  std::vector<std::string> ipv4;  // dotted form, interface order
  std::vector<std::string> ipv6;  // without a zone
};

// From a getifaddrs list (tests pass their own).
MachineAddresses UsableAddresses(const ifaddrs* list);
// The current ones; empty lists when getifaddrs fails.
MachineAddresses CurrentMachineAddresses();

// 127.0.0.0/8, ::1, 0.0.0.0 and :: (in text form); also anything that is not an address.
bool IsLoopbackOrUnspecified(std::string_view address);

}  // namespace perimo::platform
