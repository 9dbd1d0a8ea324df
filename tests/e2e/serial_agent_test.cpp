// The agent on a serial line: a pseudo-terminal pair with the agent on one end and the test as
// the workstation on the other. Keep-alives, system information, settings, both download
// procedures and an upload within the line's frame size, a locked agent with the link key in
// clear and a login, junk and oversized input, and the trace file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "e2e/agent_harness.h"
#include "security/users_file.h"
#include "workstation/secure_link.h"
#include "workstation/serial_workstation.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using workstation::Bytes;
using workstation::Frame;
using workstation::SerialWorkstation;

constexpr uint8_t kAck = 0x06;
constexpr int kTimeoutMs = 10000;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Content(size_t size, unsigned seed) {
  std::string content(size, 0);
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : content) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return content;
}

Bytes Text(uint8_t code, std::string_view text) {
  Bytes frame(1 + text.size());
  frame[0] = code;
  std::copy(text.begin(), text.end(), frame.begin() + 1);
  return frame;
}

class SerialAgentTest : public ::testing::Test {
 protected:
  void Boot(AgentOptions options = {}) {
    ASSERT_TRUE(ws.OpenPty());
    options.ini["Setup"]["Device"] = "0";
    options.ini["Setup"]["SerialPort"] = "0";
    options.ini["Serial"]["COM1"] = ws.devicePath();
    options.waitForListener = false;
    agent = std::make_unique<AgentHarness>(std::move(options));
    ASSERT_TRUE(agent->Start()) << agent->error();
    ASSERT_TRUE(ws.WaitReady()) << "the agent does not answer on " << ws.devicePath();
  }

  std::optional<Bytes> Ask(const Bytes& frame) { return ws.Request(frame, kTimeoutMs); }

  SerialWorkstation ws;
  std::unique_ptr<AgentHarness> agent;
};

TEST_F(SerialAgentTest, KeepAlivesSystemInformationAndSettings) {
  Boot();
  for (uint8_t code : {0x80, 0x82, 0x81}) EXPECT_EQ(Ask(Frame(code, {0x10, 0x02})), Bytes{kAck});
  auto product = Ask(Frame(0x14));
  ASSERT_TRUE(product && !product->empty());
  EXPECT_EQ((*product)[0], kAck);
  // The operating-system version command switches framing on for TCP only: the serial line
  // keeps its envelope, so the next reply comes back as before.
  ASSERT_TRUE(Ask(Frame(0x13)));
  EXPECT_EQ(Ask(Frame(0x80)), Bytes{kAck});

  EXPECT_EQ(Ask(Text(0x0C, "C:\\line.ini\tLine\tSpeed\t19200")), Bytes{kAck});
  EXPECT_EQ(Ask(Text(0x0D, "C:\\line.ini\tLine\tSpeed\tnone")),
            (Bytes{kAck, '1', '9', '2', '0', '0', 0}));
  EXPECT_NE(ReadFile(agent->Path("line.ini")).find("Speed=19200"), std::string::npos);
  EXPECT_EQ(ws.badFrames(), 0u);
}

TEST_F(SerialAgentTest, DownloadsByBothProceduresAndAnUpload) {
  const std::string original = Content(5000, 9);
  AgentOptions options;
  options.files.emplace_back("Data/up.bin", original);
  Boot(options);

  // Simple procedure: every block answered.
  const std::string simple = Content(7000, 1);
  ASSERT_EQ(Ask(Text(0x01, "C:\\Data\\simple.bin")), Bytes{kAck});
  for (size_t at = 0; at < simple.size(); at += 1500) {
    const size_t n = std::min<size_t>(1500, simple.size() - at);
    Bytes block{0x02};
    workstation::AppendU32(block, static_cast<uint32_t>(n));
    block.insert(block.end(), simple.begin() + at, simple.begin() + at + n);
    ASSERT_EQ(Ask(block), Bytes{kAck}) << at;
  }
  Bytes close{0x03};
  close.resize(25, 0);
  workstation::AppendU32(close, 0x20);
  EXPECT_EQ(Ask(close), Bytes{kAck});
  EXPECT_EQ(ReadFile(agent->Path("Data/simple.bin")), simple);

  // Extended procedure with sequence numbers: on the serial line each block is answered too.
  const std::string extended = Content(9000, 2);
  Bytes open{0x2D};
  workstation::AppendU32(open, static_cast<uint32_t>(extended.size()));
  const std::string name = "C:\\Data\\extended.bin\t0";
  open.insert(open.end(), name.begin(), name.end());
  ASSERT_EQ(Ask(open), Bytes{kAck});
  uint32_t sequence = 1;
  for (size_t at = 0; at < extended.size(); at += 2000) {
    const size_t n = std::min<size_t>(2000, extended.size() - at);
    Bytes block{0x2E};
    workstation::AppendU32(block, sequence++);
    workstation::AppendU32(block, static_cast<uint32_t>(n));
    block.insert(block.end(), extended.begin() + at, extended.begin() + at + n);
    ASSERT_EQ(Ask(block), Bytes{kAck}) << at;
  }
  Bytes flush{0x2C};
  workstation::AppendU32(flush, sequence++);
  EXPECT_EQ(Ask(flush), Bytes{kAck});
  Bytes closeEx{0x03};
  workstation::AppendU32(closeEx, sequence++);
  closeEx.resize(closeEx.size() + 24, 0);
  workstation::AppendU32(closeEx, 0x20);
  EXPECT_EQ(Ask(closeEx), Bytes{kAck});
  EXPECT_EQ(ReadFile(agent->Path("Data/extended.bin")), extended);

  // Upload: with the default PackSize a block is what always fits one line frame.
  auto opened = Ask(Text(0x04, "C:\\Data\\up.bin"));
  ASSERT_TRUE(opened);
  EXPECT_EQ(*opened, (Bytes{kAck, 0x88, 0x13, 0, 0, 0}));
  std::string received;
  for (int i = 0; i < 20; ++i) {
    auto reply = Ask(Frame(0x05));
    ASSERT_TRUE(reply && reply->size() >= 5 && (*reply)[0] == kAck);
    const uint32_t count = workstation::ReadU32(*reply, 1);
    ASSERT_EQ(reply->size(), count + 5u);
    if (count == 0) break;
    EXPECT_LE(count, 1017u);
    received.append(reply->begin() + 5, reply->end());
  }
  EXPECT_EQ(received, original);
  auto closed = Ask(Frame(0x06));
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->size(), 30u);
  EXPECT_EQ(ws.badFrames(), 0u);
}

TEST_F(SerialAgentTest, AnUploadWithASmallPackSizeSendsHalfAPackPerFrame) {
  const std::string original = Content(3000, 4);
  AgentOptions options;
  options.files.emplace_back("up.bin", original);
  options.ini["Communication"]["PackSize"] = "1024";
  Boot(options);
  ASSERT_TRUE(Ask(Text(0x04, "C:\\up.bin")));
  std::string received;
  std::vector<uint32_t> counts;
  for (int i = 0; i < 20; ++i) {
    auto reply = Ask(Frame(0x05));
    ASSERT_TRUE(reply && reply->size() >= 5);
    const uint32_t count = workstation::ReadU32(*reply, 1);
    counts.push_back(count);
    if (count == 0) break;
    received.append(reply->begin() + 5, reply->end());
  }
  EXPECT_EQ(received, original);
  EXPECT_EQ(counts, (std::vector<uint32_t>{512, 512, 512, 512, 512, 440, 0}));
}

TEST_F(SerialAgentTest, JunkOversizedFramesAndBadChecksLeaveTheLineWorking) {
  Boot();
  // Bytes outside any frame are ignored.
  Bytes junk;
  for (int i = 0; i < 3000; ++i) {
    uint8_t b = static_cast<uint8_t>(0x20 + (i * 53) % 0xDF);
    junk.push_back(b);
  }
  ASSERT_TRUE(ws.SendRaw(junk));
  // A frame longer than the agent's buffer, then one with a wrong check byte: no reply.
  Bytes oversized{0x02};
  oversized.insert(oversized.end(), 2100, 0x41);
  oversized.insert(oversized.end(), {0x10, 0x03, 0x00});
  ASSERT_TRUE(ws.SendRaw(oversized));
  Bytes bad = workstation::SerialEnvelope(Frame(0x80));
  bad.back() ^= 0xFF;
  ASSERT_TRUE(ws.SendRaw(bad));
  EXPECT_TRUE(ws.Silent(300));
  EXPECT_EQ(Ask(Frame(0x80, {0x10})), Bytes{kAck});
  EXPECT_TRUE(agent->WaitForLine("Frame dropped: longer than 2048 bytes."));
}

TEST_F(SerialAgentTest, ALockedAgentOpensItsLinkInClearAndTakesALogin) {
  const UserList users{{u"Alice", u"Secret1", {1, 1, 1, 1, 1}}};
  const std::vector<uint8_t> file = SerializeUsersFile(users, true);
  AgentOptions options;
  options.files.emplace_back("perimo.BIN", std::string(file.begin(), file.end()));
  Boot(options);

  auto state = Ask(Frame(0x24));
  ASSERT_TRUE(state && !state->empty());
  EXPECT_EQ((*state)[0], kAck);
  auto linkReply = Ask(Frame(0x3B));
  ASSERT_TRUE(linkReply);
  // The key travels under the pre-shared key; the reply itself and everything after stay clear.
  EXPECT_TRUE(workstation::LinkKeyFromReply(*linkReply, kDefaultInternalKey).has_value());
  auto login = Ask(workstation::LoginFrame(u"Alice", u"Secret1"));
  ASSERT_TRUE(login && login->size() == 12);
  EXPECT_EQ((*login)[1], '1');
  EXPECT_EQ(Ask(Frame(0x80)), Bytes{kAck});
}

TEST_F(SerialAgentTest, TheTraceFileRecordsEveryReplyWhenItExists) {
  AgentOptions options;
  options.files.emplace_back("CELog.TXT", "");
  Boot(options);
  EXPECT_EQ(Ask(Frame(0x81)), Bytes{kAck});
  const std::string trace = ReadFile(agent->Path("CELog.TXT"));
  EXPECT_NE(trace.find("Tx:02 06 10 03 06 \r\n"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("Tx:"), 0u);
}

TEST(SerialAgentStart, AMissingPortIsReportedWithTheLibraryText) {
  AgentOptions options;
  options.ini["Setup"]["Device"] = "0";
  options.ini["Serial"]["COM1"] = "/nonexistent/tty";
  options.waitForListener = false;
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  EXPECT_TRUE(agent.WaitForLine("Invalid serial port", 10000));
}

}  // namespace
}  // namespace perimo::e2e
