// The serial link on the fake device: HandInts on the reader thread, frames dispatched from
// the host's queue, the connection state from 0x80 and 0x81, replies in the line envelope,
// oversized input and replies, and a link closed with frames still queued.
#include "transport/seriallink/serial_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/agent_state.h"
#include "transport/serial/fake_serial_device.h"
#include "transport/seriallink/hand_ints.h"

namespace perimo {
namespace {

using serial::testing::FakeSerialDevice;
using Bytes = std::vector<uint8_t>;

Bytes Line(const Bytes& frame) {
  Bytes out{0x02};
  uint8_t check = 0;
  for (uint8_t b : frame) {
    out.push_back(b);
    if (b == 0x10) out.push_back(0x10);
    check ^= b;
  }
  out.insert(out.end(), {0x10, 0x03, check});
  return out;
}

class SerialLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeSerialDevice::Install();
    agent.statusSink = [this](std::u16string_view text) { statusLines.emplace_back(text); };
    agent.settings.device = 0;
    link = std::make_unique<SerialLink>(
        agent, SerialLinkHooks{[this] { ++wakes; },
                               [this](std::u16string_view t) { connectionTexts.emplace_back(t); },
                               [this](std::u16string_view t) { boxes.emplace_back(t); },
                               [this] { ++framedOff; }});
  }
  void TearDown() override {
    link.reset();
    FakeSerialDevice::Uninstall();
  }

  // Runs the queued frames as the main loop would, until done() holds.
  template <typename Done>
  bool PumpUntil(Done done, int ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      link->RunQueued();
      if (done()) return true;
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  bool PumpWrites(size_t count) {
    return PumpUntil([&] { return Writes().size() >= count; });
  }

  std::vector<std::string> Writes() {
    std::vector<std::string> writes;
    for (const std::string& e : FakeSerialDevice::last->Events()) {
      if (e.rfind("write", 0) == 0) writes.push_back(e);
    }
    return writes;
  }

  AgentState agent;
  std::unique_ptr<SerialLink> link;
  std::atomic<int> wakes{0};
  std::vector<std::u16string> statusLines, connectionTexts, boxes;
  int framedOff = 0;
};

TEST_F(SerialLinkTest, ConnectAndDisconnectFramesSetTheStateAndAreAnswered) {
  ASSERT_TRUE(link->Open());
  EXPECT_FALSE(link->connected());
  FakeSerialDevice::last->Inject(Line({0x80}));
  ASSERT_TRUE(PumpWrites(1));
  EXPECT_GT(wakes.load(), 0);
  EXPECT_TRUE(link->connected());
  EXPECT_EQ(connectionTexts.back(), u"Connected to remote client");
  EXPECT_EQ(Writes(), std::vector<std::string>{"write 02 06 10 03 06"});

  FakeSerialDevice::last->Inject(Line({0x81, 0x10, 0x99}));
  ASSERT_TRUE(PumpWrites(2));
  EXPECT_FALSE(link->connected());
  EXPECT_EQ(connectionTexts.back(), u"Not connected to remote client");
  EXPECT_EQ(framedOff, 1);
  EXPECT_EQ(Writes().size(), 2u);

  // The link never encrypts and never resets the login state.
  agent.login.loggedInUser = u"Alice";
  FakeSerialDevice::last->Inject(Line({0x80}));
  ASSERT_TRUE(PumpWrites(3));
  EXPECT_EQ(agent.login.loggedInUser, u"Alice");
  EXPECT_EQ(Writes().back(), "write 02 06 10 03 06");
}

TEST_F(SerialLinkTest, JunkAndOversizedInputLeaveTheNextFrameIntact) {
  ASSERT_TRUE(link->Open());
  Bytes junk;
  for (int i = 0; i < 3000; ++i) junk.push_back(static_cast<uint8_t>(i * 37 % 251 + 4));
  junk.push_back(0x02);  // a frame that never ends within the buffer
  junk.insert(junk.end(), 2100, 0x55);
  junk.insert(junk.end(), {0x10, 0x03, 0x00});
  // A frame with a wrong check byte is dropped silently.
  const Bytes bad = Line({0x82});
  junk.insert(junk.end(), bad.begin(), bad.end() - 1);
  junk.push_back(0x00);
  const Bytes good = Line({0x82, 0x10, 0x02});
  junk.insert(junk.end(), good.begin(), good.end());
  FakeSerialDevice::last->Inject(junk);
  ASSERT_TRUE(PumpWrites(1));
  link->RunQueued();
  EXPECT_EQ(statusLines, std::vector<std::u16string>{u"Frame dropped: longer than 2048 bytes."});
  EXPECT_EQ(Writes(), std::vector<std::string>{"write 02 06 10 03 06"});
}

TEST_F(SerialLinkTest, FramesSentWithoutWaitingAreServedInOrder) {
  ASSERT_TRUE(link->Open());
  Bytes lines;
  for (uint8_t code : {0x80, 0x81, 0x80}) {
    const Bytes l = Line({code});
    lines.insert(lines.end(), l.begin(), l.end());
  }
  FakeSerialDevice::last->Inject(lines);
  ASSERT_TRUE(PumpWrites(3));
  EXPECT_EQ(connectionTexts, (std::vector<std::u16string>{u"Connected to remote client",
                                                          u"Not connected to remote client",
                                                          u"Connected to remote client"}));
  EXPECT_EQ(Writes().size(), 3u);
}

TEST_F(SerialLinkTest, AReplyLongerThanTheLineBufferIsRefusedWhole) {
  ASSERT_TRUE(link->Open());
  const Bytes dles(kSerialSafeReplyLength + 1, 0x10);
  EXPECT_EQ(SerialReply(link.get(), dles.data(), static_cast<int32_t>(dles.size())), 0);
  EXPECT_EQ(statusLines.size(), 1u);
  EXPECT_TRUE(Writes().empty());
  const Bytes fits(kSerialSafeReplyLength, 0x10);
  EXPECT_EQ(SerialReply(link.get(), fits.data(), static_cast<int32_t>(fits.size())), 1);
  EXPECT_EQ(Writes().size(), 1u);
  EXPECT_EQ(link->ReplyLimit(), kSerialSafeReplyLength);
}

TEST_F(SerialLinkTest, ClosingForgetsQueuedFramesAndReopens) {
  ASSERT_TRUE(link->Open());
  FakeSerialDevice::last->Inject(Line({0x80}));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (wakes == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GT(wakes.load(), 0);
  link->Close();
  EXPECT_EQ(connectionTexts.back(), u"Not connected to remote client");
  link->RunQueued();  // the frame of the closed port is gone
  EXPECT_FALSE(link->connected());
  EXPECT_EQ(SCIsPortFree(0), 1);

  ASSERT_TRUE(link->Open());
  FakeSerialDevice::last->Inject(Line({0x80}));
  ASSERT_TRUE(PumpUntil([&] { return link->connected(); }));
}

TEST_F(SerialLinkTest, APortThatCannotOpenShowsItsStatusText) {
  agent.settings.serialPort = 8;
  EXPECT_FALSE(link->Open());
  EXPECT_EQ(boxes, std::vector<std::u16string>{u"Invalid serial port"});
  agent.settings.serialPort = 0;
  ASSERT_TRUE(link->Open());
  SerialLink other(agent, {});
  EXPECT_FALSE(other.Open());
  EXPECT_TRUE(link->open());
}

}  // namespace
}  // namespace perimo
