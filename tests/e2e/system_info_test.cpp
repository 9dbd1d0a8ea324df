// System information over the wire, and the start-up's server address check.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "e2e/agent_harness.h"
#include "platform/machine_addresses.h"

namespace perimo::e2e {
namespace {

using workstation::Bytes;
using workstation::Frame;

Bytes Fields(std::initializer_list<std::string> texts) {
  Bytes out{0x06};
  for (const std::string& t : texts) {
    out.insert(out.end(), t.begin(), t.end());
    out.push_back(0);
  }
  return out;
}

TEST(SystemInfoE2e, LocaleVersionAndLockAnswerAsConfigured) {
  AgentOptions options;
  options.env = {{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "de_DE.UTF-8"}};
  options.ini["Setup"]["LockDownload"] = "1";
  options.ini["Communication"]["Delay"] = "75";
  options.files = {
      // U+0100 in the name: an 8-bit reply must carry '?', not its low byte 0x00.
      {"Program Settings.INI", "[OEM]\nProductName=V\xC4\x80xtra\n[Install]\nVersion=7.12\n"}};
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  EXPECT_EQ(ws.Request(Frame(0x36)), Fields({"1031"}));
  EXPECT_EQ(ws.Request(Frame(0x3A, {9, 9})), (Bytes{0x06, 0x01}));
  auto product = ws.Request(Frame(0x14));
  ASSERT_TRUE(product);
  const std::string text(product->begin(), product->end());
  EXPECT_EQ(text.substr(0, 19), std::string("\x06V?xtra v7.1\0"
                                            "7.12\0\0",
                                            19));
  EXPECT_NE(text.find(std::string("\0"
                                  "75\0"
                                  "16384\0",
                                  10)),
            std::string::npos);
}

// The agent's own addresses are those of its interfaces that are up, loopback excluded.
std::string HostAddress() {
  const platform::MachineAddresses addresses = platform::CurrentMachineAddresses();
  return addresses.ipv4.empty() ? std::string() : addresses.ipv4.front();
}

TEST(SystemInfoE2e, ServerAddressOtherThanOursStartsChangeIp) {
  const std::string address = HostAddress();
  if (address.empty() || address == "192.0.2.77") {
    GTEST_SKIP() << "this host's first address is " << address;
  }
  AgentOptions options;
  options.files = {{"ChangeIP.INI", "[ChangeIP]\nServerIP=192.0.2.77\n"},
                   {"ChangeIP.exe", "#!/bin/sh\ntouch \"$(dirname \"$0\")/changed\"\n"}};
  options.executables = {"ChangeIP.exe"};
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  // Started without waiting: wait for its mark.
  auto ws = agent.Connect();
  for (int i = 0; i < 500 && !std::filesystem::exists(agent.Path("changed")); ++i) {
    ws.Request(Frame(0x80), 100);
  }
  EXPECT_TRUE(std::filesystem::exists(agent.Path("changed")));
}

TEST(SystemInfoE2e, OwnServerAddressStartsNothing) {
  const std::string address = HostAddress();
  if (address.empty()) GTEST_SKIP() << "no host address";
  AgentOptions options;
  options.files = {{"ChangeIP.INI", "[ChangeIP]\nServerIP=" + address + "\n"},
                   {"ChangeIP.exe", "#!/bin/sh\ntouch \"$(dirname \"$0\")/changed\"\n"}};
  options.executables = {"ChangeIP.exe"};
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  EXPECT_EQ(ws.Request(Frame(0x80)), Bytes{0x06});
  EXPECT_FALSE(std::filesystem::exists(agent.Path("changed")));
}

}  // namespace
}  // namespace perimo::e2e
