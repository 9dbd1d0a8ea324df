// The data protection commands against a test library placed in the agent's Bin folder.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "e2e/agent_harness.h"
#include "e2e/fake_runtime.h"

namespace perimo::e2e {
namespace {

using workstation::Bytes;
using workstation::Frame;
using workstation::TextFrame;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

Bytes Ack(std::string_view text) {
  Bytes out(text.size() + 1, 0x06);
  std::copy(text.begin(), text.end(), out.begin() + 1);
  return out;
}

AgentOptions WithLibrary(const std::string& mode) {
  AgentOptions options;
  options.files = {{"Bin/KalderDataProtection.dll", BuiltFile("perimo-test-dataprot.so")},
                   {"Bin/MFC90U.dll", "new"},
                   {"Bin/msvcr90.dll", "new"},
                   {"msvcr90.dll", "old"}};
  options.env = {{"PERIMO_TEST_DP", mode}, {"PERIMO_DP_LOG", "dp.log"}};
  return options;
}

TEST(DataProtectionE2e, DeviceIdAndPasswordThroughTheLibrary) {
  AgentHarness agent(WithLibrary(""));
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  // 8-bit: the id's low bytes, a backslash and a zero.
  EXPECT_EQ(ws.Request(Frame(0x3D, {1, 2})), Ack(std::string("DEV-42-\xE9\\\0", 10)));
  // The files were copied beside the agent; one already there was kept.
  EXPECT_EQ(ReadFile(agent.Path("MFC90U.dll")), "new");
  EXPECT_EQ(ReadFile(agent.Path("msvcr90.dll")), "old");
  EXPECT_TRUE(std::filesystem::exists(agent.Path("KalderDataProtection.dll")));

  EXPECT_EQ(ws.Request(TextFrame(0x3E, "secret")), Ack(std::string("Protected with secret\0", 22)));
  EXPECT_EQ(ws.Request(TextFrame(0x3E, "wrong")), (Bytes{0x15, 0x44}));
  EXPECT_TRUE(agent.WaitForLine("Error to save Data Protection file: Main.APP "));
  EXPECT_TRUE(agent.WaitForLine(" Error to save Data Protection file: Main.DPF."));

  const std::string log = ReadFile(agent.Path("dp.log"));
  EXPECT_NE(log.find("init " + agent.folder().string() + " 0\n"), std::string::npos) << log;
  EXPECT_NE(log.find("password secret 1 <INVALID_DATA_PROTECTION>\n"), std::string::npos) << log;

  // Wide: UTF-16LE without terminator.
  if (!UseWideStrings(ws)) GTEST_SKIP() << "this agent has no 16-bit strings";
  const std::u16string id = u"DEV-42-\u00E9";
  Bytes wide{0x06};
  for (char16_t c : id)
    wide.insert(wide.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
  EXPECT_EQ(ws.Request(Frame(0x3D)), wide);
  // The password stays 8-bit in wide mode.
  const auto reply = ws.Request(TextFrame(0x3E, "secret"));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->size(), 1 + 2 * std::string("Protected with secret").size());
}

TEST(DataProtectionE2e, FailuresAnswerD) {
  {
    AgentHarness agent(WithLibrary("fail-init"));
    ASSERT_TRUE(agent.Start()) << agent.error();
    auto ws = agent.Connect();
    EXPECT_EQ(ws.Request(Frame(0x3D)), (Bytes{0x15, 0x44}));
    EXPECT_TRUE(agent.WaitForLine("Error to initialize Data Protection [State: 7]"));
    EXPECT_EQ(ws.Request(TextFrame(0x3E, "secret")), (Bytes{0x15, 0x44}));
  }
  {
    AgentHarness agent(WithLibrary("no-device-id"));
    ASSERT_TRUE(agent.Start()) << agent.error();
    auto ws = agent.Connect();
    EXPECT_EQ(ws.Request(Frame(0x3D)), Ack(std::string("127.0.0.1\\\0", 11)));
  }
  {
    AgentHarness agent;  // no library anywhere: every entry acts as returning 0
    ASSERT_TRUE(agent.Start()) << agent.error();
    auto ws = agent.Connect();
    EXPECT_EQ(ws.Request(Frame(0x3D)), (Bytes{0x15, 0x44}));
    EXPECT_TRUE(agent.WaitForLine("Error to initialize Data Protection [State: 0]"));
    EXPECT_EQ(ws.Request(TextFrame(0x3E, "secret")), (Bytes{0x15, 0x44}));
  }
}

}  // namespace
}  // namespace perimo::e2e
