// The agent's TCP transport seen from a workstation: raw and framed frames, the envelope's
// decoding rules on the wire, connection replacement, limits, status lines and exit.
#include <gtest/gtest.h>
#include <signal.h>

#include "e2e/agent_harness.h"
#include "platform/window_endpoint.h"
#include "workstation/workstation.h"

namespace perimo::e2e {
namespace {

using workstation::Bytes;
using workstation::Envelope;
using workstation::Frame;

constexpr uint8_t kAck = 0x06;

class TcpTransportTest : public ::testing::Test {
 protected:
  void SetUp() override { Boot({}); }

  void Boot(AgentOptions options) {
    options.env.emplace_back("LC_ALL", "C");
    agent = std::make_unique<AgentHarness>(std::move(options));
    ASSERT_TRUE(agent->Start()) << agent->error();
  }

  // Sends 0x13 raw and switches the workstation to framed mode after its raw reply.
  void GoFramed(workstation::Workstation& ws) {
    auto reply = ws.Request(Frame(0x13));
    ASSERT_TRUE(reply);
    ASSERT_GE(reply->size(), 3u);
    EXPECT_EQ(Bytes(reply->begin(), reply->begin() + 3), (Bytes{kAck, 'N', 'T'}));
    ws.SetFramed(true);
  }

  std::unique_ptr<AgentHarness> agent;
};

TEST_F(TcpTransportTest, RawKeepAlivesAnswerOneByte) {
  auto ws = agent->Connect();
  ASSERT_TRUE(ws.connected());
  EXPECT_EQ(ws.Request(Frame(0x80)), Bytes{kAck});
  EXPECT_EQ(ws.Request(Frame(0x81, {1, 2, 3})), Bytes{kAck});
  EXPECT_EQ(ws.Request(Frame(0x82, {0x10})), Bytes{kAck});
}

TEST_F(TcpTransportTest, AfterOsVersionEverythingIsFramedBothWays) {
  auto ws = agent->Connect();
  GoFramed(ws);
  ASSERT_TRUE(ws.SendFrame(Frame(0x80)));
  EXPECT_EQ(ws.ReadExactly(4), (Bytes{0x02, kAck, 0x10, 0x03}));
  EXPECT_EQ(ws.Request(Frame(0x36)), (Bytes{kAck, '1', '0', '3', '3', 0}));
  // A raw request is not a frame any more: no answer.
  ASSERT_TRUE(ws.SendRaw(Frame(0x80)));
  EXPECT_TRUE(ws.Silent(300));
}

TEST(TcpTransportDle, ReplyDleIsDoubledOnlyWhenFramed) {
  AgentOptions options;
  options.ini["Setup"]["LockDownload"] = "16";
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  auto ws = agent.Connect();
  ASSERT_TRUE(ws.SendFrame(Frame(0x3A)));
  EXPECT_EQ(ws.ReadExactly(2), (Bytes{kAck, 0x10}));
  ASSERT_TRUE(ws.Request(Frame(0x13)));
  ws.SetFramed(true);
  ASSERT_TRUE(ws.SendFrame(Frame(0x3A)));
  EXPECT_EQ(ws.ReadExactly(6), (Bytes{0x02, kAck, 0x10, 0x10, 0x10, 0x03}));
}

TEST_F(TcpTransportTest, EnvelopeDecodingRulesOnTheWire) {
  auto ws = agent->Connect();
  GoFramed(ws);
  // Noise before STX; a doubled DLE is one data byte: frame 81 10.
  ASSERT_TRUE(ws.SendRaw({'x', 0x03, 0x02, 0x81, 0x10, 0x10, 0x10, 0x03}));
  EXPECT_EQ(ws.ReadReply(), Bytes{kAck});
  // The byte after a lone DLE is ignored and ETX still ends the frame: frame 80.
  ASSERT_TRUE(ws.SendRaw({0x02, 0x80, 0x10, 'B', 0x03}));
  EXPECT_EQ(ws.ReadReply(), Bytes{kAck});
  // STX 80 DLE B DLE ETX is no frame yet: the second DLE doubles and ETX is data.
  ASSERT_TRUE(ws.SendRaw({0x02, 0x80, 0x10, 'B', 0x10, 0x03}));
  EXPECT_TRUE(ws.Silent(300));
  ASSERT_TRUE(ws.SendRaw({0x10, 0x03}));  // completes 80 10 03
  EXPECT_EQ(ws.ReadReply(), Bytes{kAck});
  // An empty frame is not dispatched and does not hold up the frame behind it.
  ASSERT_TRUE(ws.SendRaw({0x02, 0x10, 0x03, 0x02, 0x82, 0x10, 0x03}));
  EXPECT_EQ(ws.ReadReply(), Bytes{kAck});
  EXPECT_TRUE(ws.Silent(200));
}

TEST_F(TcpTransportTest, SplitFrameAndTwoFramesInOneSegment) {
  auto ws = agent->Connect();
  GoFramed(ws);
  for (uint8_t b : Envelope(Frame(0x3A))) ASSERT_TRUE(ws.SendRaw({b}));
  EXPECT_EQ(ws.ReadReply(), (Bytes{kAck, 0}));

  Bytes both = Envelope(Frame(0x80));
  const Bytes second = Envelope(Frame(0x3A));
  both.insert(both.end(), second.begin(), second.end());
  ASSERT_TRUE(ws.SendRaw(both));
  EXPECT_EQ(ws.ReadReply(), Bytes{kAck});
  EXPECT_EQ(ws.ReadReply(), (Bytes{kAck, 0}));
}

TEST_F(TcpTransportTest, FramesAtAndOverTheLimit) {
  auto ws = agent->Connect();
  GoFramed(ws);
  Bytes atLimit(130048, 0x55);
  atLimit[0] = 0x80;
  EXPECT_EQ(ws.Request(atLimit, 15000), Bytes{kAck});

  const size_t before = agent->LineCount();
  Bytes tooLong(130049, 0x55);
  tooLong[0] = 0x80;
  ASSERT_TRUE(ws.SendFrame(tooLong));
  EXPECT_TRUE(agent->WaitForLine("Frame dropped", 10000, before))
      << testing::PrintToString(agent->Lines());
  // The decoder looks for the next STX: the agent answers the next frame.
  EXPECT_EQ(ws.Request(Frame(0x81), 10000), Bytes{kAck});
}

TEST_F(TcpTransportTest, NewConnectionReplacesTheOldOneAndStartsRaw) {
  auto first = agent->Connect();
  GoFramed(first);
  auto second = agent->Connect();
  ASSERT_TRUE(second.connected());
  EXPECT_TRUE(first.WaitClosed());
  // Framed mode ended with the old connection.
  EXPECT_EQ(second.Request(Frame(0x80)), Bytes{kAck});
}

TEST_F(TcpTransportTest, WorkstationActionsShowAsStatusLines) {
  auto ws = agent->Connect();
  const size_t before = agent->LineCount();
  ASSERT_TRUE(ws.SendFrame(Frame(0x3F)));
  EXPECT_TRUE(agent->WaitForLine("Invalid Frame", 5000, before));
  ASSERT_TRUE(ws.SendFrame(Frame(0x83)));
  EXPECT_TRUE(ws.Silent(200));
  ASSERT_TRUE(ws.SendFrame(Frame(0x00)));
  EXPECT_TRUE(ws.Silent(200));
  ws.Close();
  EXPECT_TRUE(agent->WaitForLine("Close Socket.", 5000, before));
  const auto lines = agent->Lines();
  EXPECT_EQ(
      std::count(lines.begin() + static_cast<ptrdiff_t>(before), lines.end(), "Invalid Frame"), 2);
}

TEST_F(TcpTransportTest, SigtermEndsTheAgentThroughItsNormalExit) {
  auto ws = agent->Connect();
  EXPECT_EQ(ws.Request(Frame(0x80)), Bytes{kAck});
  EXPECT_EQ(agent->Stop(), 0);
  EXPECT_TRUE(ws.WaitClosed());
}

TEST_F(TcpTransportTest, CloseMessageToTheMainWindowEndsTheAgent) {
  setenv("PERIMO_WINDOWS_DIR", agent->windowsFolder().c_str(), 1);
  EXPECT_TRUE(platform::WindowExists(platform::WindowKey::kClass, u"PerimoClass"));
  EXPECT_TRUE(platform::PostWindowMessage(platform::WindowKey::kClass, u"PerimoClass",
                                          platform::kWmClose, 0, 0));
  unsetenv("PERIMO_WINDOWS_DIR");
  EXPECT_EQ(agent->WaitForExit(), 0);
}

TEST_F(TcpTransportTest, SecondStartHandsOverAndEnds) {
  // Same runtime folder: the lock is taken, so the second agent ends at once.
  AgentOptions options;
  options.waitForListener = false;
  options.env = {{"XDG_RUNTIME_DIR", agent->runtimeFolder().string()},
                 {"PERIMO_WINDOWS_DIR", agent->windowsFolder().string()}};
  AgentHarness second(options);
  ASSERT_TRUE(second.Start()) << second.error();
  EXPECT_EQ(second.WaitForExit(), 0);
  EXPECT_TRUE(agent->Running());
}

TEST_F(TcpTransportTest, APortHeldByAnotherAgentIsNamed) {
  AgentOptions options;
  options.waitForListener = false;
  options.ini["Remote"]["Port"] = std::to_string(agent->port());
  AgentHarness second(options);
  ASSERT_TRUE(second.Start()) << second.error();
  EXPECT_TRUE(second.WaitForLine("Couldn't create socket"));
  EXPECT_TRUE(second.WaitForLine("Port " + std::to_string(agent->port()) +
                                 " is held by another program, such as the perimo service"));
  EXPECT_EQ(second.Stop(), 0);
}

}  // namespace
}  // namespace perimo::e2e
