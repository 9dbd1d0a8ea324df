#include "protocol/system_info_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"
#include "protocol/agent_state.h"
#include "protocol/culture_table.h"
#include "protocol/dispatcher.h"

namespace perimo {
namespace {

namespace fs = std::filesystem;

struct Peer : Connection {
  std::vector<std::string> events;  // replies as text, and "framed"
  void SetFramedMode(bool on) override { events.push_back(on ? "framed on" : "framed off"); }
};

// Each text followed by its zero byte.
std::string Fields(std::initializer_list<std::string> texts) {
  std::string out;
  for (const std::string& t : texts) {
    out += t;
    out.push_back('\0');
  }
  return out;
}

int Record(Connection* connection, const uint8_t* bytes, int32_t count) {
  static_cast<Peer*>(connection)->events.emplace_back(reinterpret_cast<const char*>(bytes), count);
  return 1;
}

class SystemInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("perimo-sysinfo-" + std::to_string(getpid()));
    fs::create_directories(folder);
    agent.paths.exeDir = platform::ToWirePath(folder.string());
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string Ask(uint8_t code) {
    peer.events.clear();
    const uint8_t frame[] = {code, 'x', 'y'};
    DispatchFrame(agent, frame, sizeof frame, &peer, Record);
    return peer.events.empty() ? std::string() : peer.events.front();
  }

  fs::path folder;
  AgentState agent;
  Peer peer;
};

TEST_F(SystemInfoTest, OsVersionRepliesRawThenSwitchesToFramed) {
  const std::string admin = geteuid() == 0 ? "1" : "0";
  EXPECT_EQ(Ask(0x13), "\x06" + Fields({"NT", "48", "UNICODE", "", admin}));
  ASSERT_EQ(peer.events.size(), 2u);
  EXPECT_EQ(peer.events[1], "framed on");
}

TEST_F(SystemInfoTest, ProductVersionDefaultsWithoutSettingsOrLibrary) {
  agent.settings.packSize = 2383;
  const std::string reply = Ask(0x14);
  const std::string head(
      "\x06Kalder v1.0\0"
      "7.12\0\0",
      19);
  ASSERT_EQ(reply.substr(0, head.size()), head);
  const std::string tail = reply.substr(head.size());
  // <free memory KB> 00 "250" 00 "2383" 00
  const size_t firstZero = tail.find('\0');
  ASSERT_NE(firstZero, std::string::npos);
  EXPECT_GT(firstZero, 0u);
  EXPECT_EQ(tail.substr(firstZero), std::string("\0"
                                                "250\0"
                                                "2383\0",
                                                10));
}

TEST_F(SystemInfoTest, ProductVersionReadsTheSuiteSettingsBesideTheAgent) {
  std::ofstream(folder / "Program Settings.INI")
      << "[OEM]\nProductName=Vextra\n[Install]\nVersion=6.1\nServicePack=2\n";
  const std::string reply = Ask(0x14);
  EXPECT_EQ(reply.substr(0, 22), "\x06" + Fields({"Vextra v6.1+SP2", "7.12"}));
}

TEST_F(SystemInfoTest, ProductNameOutsideLatin1NarrowsToQuestionMarksKeepingTheFields) {
  // U+0100 and U+0141 in UTF-8; their low bytes (0x00, 0x41) must not reach the wire.
  std::ofstream(folder / "Program Settings.INI")
      << "\xEF\xBB\xBF[OEM]\nProductName=V\xC4\x80x\xC5\x81tra\n";
  const std::string reply = Ask(0x14);
  EXPECT_EQ(reply.substr(0, 20), "\x06" + Fields({"V?x?tra v1.0", "7.12", ""}));
}

TEST(SystemInfo, InstallVersionIsReadLikeAFractionAndPrintedWithOneDigit) {
  EXPECT_EQ(FormatInstallVersion(u"7.12", 0), "v7.1");
  EXPECT_EQ(FormatInstallVersion(u"  6.15b", 0), "v6.2");
  EXPECT_EQ(FormatInstallVersion(u"beta", 0), "v0.0");
  EXPECT_EQ(FormatInstallVersion(u"", 3), "v0.0+SP3");
  EXPECT_EQ(FormatInstallVersion(u"-2", -1), "v-2.0+SP-1");
}

TEST(SystemInfo, CookieValuePacksTwoLowHalves) {
  EXPECT_EQ(PackCookie(0x1234, 0x0005), 0x00051234);
  EXPECT_EQ(PackCookie(0x7FFF1234, 0x10002), 0x00021234);
  EXPECT_LT(PackCookie(0, 0x8000), 0);  // negative: nothing is written
}

TEST_F(SystemInfoTest, UserLocaleFollowsTheEnvironment) {
  const char* names[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  bool had[3];
  std::string keep[3];
  for (int i = 0; i < 3; ++i) {
    const char* value = std::getenv(names[i]);
    had[i] = value != nullptr;
    if (value) keep[i] = value;
  }

  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(Ask(0x36), std::string("\x06"
                                   "1031\0",
                                   6));
  setenv("LC_MESSAGES", "pt_BR", 1);
  EXPECT_EQ(Ask(0x36), std::string("\x06"
                                   "1046\0",
                                   6));
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(Ask(0x36), std::string("\x06"
                                   "1033\0",
                                   6));

  for (int i = 0; i < 3; ++i) {
    if (had[i]) {
      setenv(names[i], keep[i].c_str(), 1);
    } else {
      unsetenv(names[i]);
    }
  }
}

TEST(SystemInfo, PosixLocaleNamesMapThroughTheCultureTable) {
  EXPECT_EQ(LocaleIdOfPosixLocale("en_US.UTF-8"), 0x409u);
  EXPECT_EQ(LocaleIdOfPosixLocale("de_AT@euro"), 0xC07u);
  EXPECT_EQ(LocaleIdOfPosixLocale("fr"), 0x40Cu);
  EXPECT_EQ(LocaleIdOfPosixLocale("zh_CN.GB18030"), 0x804u);
  EXPECT_EQ(LocaleIdOfPosixLocale("POSIX"), 0u);
  EXPECT_EQ(LocaleIdOfPosixLocale(""), 0u);
  EXPECT_EQ(CultureName(0x7C04), "zh-CHT");
  EXPECT_EQ(CultureName(0x9999), "");
}

TEST_F(SystemInfoTest, DownloadLockIsItsLowByte) {
  agent.settings.lockDownload = 0x101;
  EXPECT_EQ(Ask(0x3A), std::string("\x06\x01", 2));
  agent.settings.lockDownload = 0;
  EXPECT_EQ(Ask(0x3A), std::string("\x06\x00", 2));
}

}  // namespace
}  // namespace perimo
