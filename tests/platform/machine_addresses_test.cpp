#include "platform/machine_addresses.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>

#include <deque>

namespace perimo::platform {
namespace {

// A getifaddrs list built by hand.
class FakeInterfaces {
 public:
  void Add(const char* address, unsigned flags) {
    sockaddr_storage& storage = addresses_.emplace_back();
    if (inet_pton(AF_INET, address, &reinterpret_cast<sockaddr_in*>(&storage)->sin_addr) == 1) {
      storage.ss_family = AF_INET;
    } else {
      inet_pton(AF_INET6, address, &reinterpret_cast<sockaddr_in6*>(&storage)->sin6_addr);
      storage.ss_family = AF_INET6;
    }
    ifaddrs& entry = entries_.emplace_back();
    entry.ifa_addr = reinterpret_cast<sockaddr*>(&storage);
    entry.ifa_flags = flags;
    if (entries_.size() > 1) entries_[entries_.size() - 2].ifa_next = &entry;
  }
  const ifaddrs* list() const { return entries_.empty() ? nullptr : &entries_.front(); }

 private:
  std::deque<sockaddr_storage> addresses_;
  std::deque<ifaddrs> entries_;
};

TEST(MachineAddresses, OnlyInterfacesThatAreUpAndNotLoopback) {
  FakeInterfaces interfaces;
  interfaces.Add("127.0.0.1", IFF_UP | IFF_LOOPBACK);
  interfaces.Add("127.0.1.1", IFF_UP);
  interfaces.Add("::1", IFF_UP | IFF_LOOPBACK);
  interfaces.Add("192.168.1.20", IFF_UP);
  interfaces.Add("10.1.2.3", 0);  // down
  interfaces.Add("fe80::1", IFF_UP);
  interfaces.Add("10.9.8.7", IFF_UP);
  const MachineAddresses found = UsableAddresses(interfaces.list());
  EXPECT_EQ(found.ipv4, (std::vector<std::string>{"192.168.1.20", "10.9.8.7"}));
  EXPECT_EQ(found.ipv6, (std::vector<std::string>{"fe80::1"}));
  EXPECT_TRUE(UsableAddresses(nullptr).ipv4.empty());
}

TEST(MachineAddresses, LoopbackIsTheWholeRange) {
  for (const char* address :
       {"127.0.0.1", "127.0.1.1", "127.255.255.254", "0.0.0.0", "::1", "::", "", "host.example"}) {
    EXPECT_TRUE(IsLoopbackOrUnspecified(address)) << address;
  }
  for (const char* address :
       {"128.0.0.1", "126.255.255.255", "10.0.0.1", "fe80::1", "2001:db8::"}) {
    EXPECT_FALSE(IsLoopbackOrUnspecified(address)) << address;
  }
}

}  // namespace
}  // namespace perimo::platform
