#include "platform/machine_addresses.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

namespace perimo::platform {

bool IsLoopbackOrUnspecified(std::string_view address) {
  const std::string text(address);
  in_addr v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    const uint32_t host = ntohl(v4.s_addr);
    return (host >> 24) == 127 || host == 0;
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
    return IN6_IS_ADDR_LOOPBACK(&v6) || IN6_IS_ADDR_UNSPECIFIED(&v6);
  }
  return true;
}

MachineAddresses UsableAddresses(const ifaddrs* list) {
  MachineAddresses found;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || !(entry->ifa_flags & IFF_UP)) continue;
    char text[INET6_ADDRSTRLEN] = {};
    if (entry->ifa_addr->sa_family == AF_INET) {
      const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (!inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) continue;
      if (!IsLoopbackOrUnspecified(text)) found.ipv4.emplace_back(text);
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      if (!inet_ntop(AF_INET6, &address->sin6_addr, text, sizeof text)) continue;
      if (!IsLoopbackOrUnspecified(text)) found.ipv6.emplace_back(text);
    }
  }
  return found;
}

MachineAddresses CurrentMachineAddresses() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  MachineAddresses found = UsableAddresses(list);
  freeifaddrs(list);
  return found;
}

}  // namespace perimo::platform
