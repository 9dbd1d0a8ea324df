#include "ui/machine_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace perimo {

std::vector<std::string> MachineAddresses() {
  std::vector<std::string> v4, v6;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return {};
  for (const ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || !(a->ifa_flags & IFF_UP) || (a->ifa_flags & IFF_LOOPBACK)) continue;
    char text[INET6_ADDRSTRLEN] = {};
    if (a->ifa_addr->sa_family == AF_INET) {
      const in_addr addr = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr;
      const uint32_t host = ntohl(addr.s_addr);
      if (host == 0 || (host >> 24) == 127) continue;
      ::inet_ntop(AF_INET, &addr, text, sizeof text);
      v4.emplace_back(text);
    } else if (a->ifa_addr->sa_family == AF_INET6) {
      const in6_addr addr = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr;
      if (IN6_IS_ADDR_LOOPBACK(&addr) || IN6_IS_ADDR_UNSPECIFIED(&addr)) continue;
      ::inet_ntop(AF_INET6, &addr, text, sizeof text);
      v6.emplace_back(text);
    }
  }
  ::freeifaddrs(list);
  for (const std::string& s : v6) {
    if (std::find(v4.begin(), v4.end(), s) == v4.end()) v4.push_back(s);
  }
  return v4;
}

}  // namespace perimo
