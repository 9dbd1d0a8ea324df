#include "protocol/dispatcher.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "protocol/agent_state.h"
#include "protocol/reject.h"

namespace perimo {
namespace {

struct Recorder : Connection {
  std::vector<std::vector<uint8_t>> replies;
};

int RecordReply(Connection* connection, const uint8_t* bytes, int32_t count) {
  static_cast<Recorder*>(connection)->replies.emplace_back(bytes, bytes + count);
  return 1;
}

struct HandlerCall {
  uint8_t code;
  int32_t frameLength;
  size_t payloadSize;
};
std::vector<HandlerCall> calls;

void RecordingHandler(Request& request) {
  calls.push_back({request.payload[-1], request.frameLength, request.PayloadSize()});
}

CommandTable EveryCodeRecords() {
  CommandTable table{};
  for (int code = 0x01; code <= 0x3E; ++code) table[code] = RecordingHandler;
  return table;
}

enum class Gate { kSecurityOff, kLinkClosed, kLinkOpenNobody, kLoggedIn };

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    agent.statusSink = [this](std::u16string_view text) { lines.emplace_back(text); };
    agent.pause = [this](uint32_t ms) { pauses.push_back(ms); };
  }

  void SetGate(Gate gate) {
    agent.login = LoginState{};
    agent.login.securityEnabled = gate != Gate::kSecurityOff;
    agent.login.secureLinkOpen = gate == Gate::kLinkOpenNobody || gate == Gate::kLoggedIn;
    if (gate == Gate::kLoggedIn) agent.login.loggedInUser = u"bob";
  }

  void Dispatch(std::vector<uint8_t> frame) {
    DispatchFrame(agent, table, frame.data(), static_cast<int32_t>(frame.size()), &peer,
                  RecordReply);
  }

  void Reset() {
    calls.clear();
    lines.clear();
    pauses.clear();
    peer.replies.clear();
  }

  AgentState agent;
  CommandTable table = EveryCodeRecords();
  Recorder peer;
  std::vector<std::u16string> lines;
  std::vector<uint32_t> pauses;
};

bool Refused(Gate gate, int code) {
  static const std::set<int> beforeLink = {0x14, 0x24, 0x3B};
  static const std::set<int> beforeLogin = {0x20, 0x24, 0x25};
  switch (gate) {
    case Gate::kLinkClosed:
      return !beforeLink.count(code);
    case Gate::kLinkOpenNobody:
      return !beforeLogin.count(code);
    default:
      return false;
  }
}

TEST_F(DispatcherTest, GateAndRoutingForEveryCodeInEveryGateState) {
  for (Gate gate :
       {Gate::kSecurityOff, Gate::kLinkClosed, Gate::kLinkOpenNobody, Gate::kLoggedIn}) {
    SetGate(gate);
    for (int code = 0; code <= 0xFF; ++code) {
      SCOPED_TRACE(testing::Message() << "gate " << static_cast<int>(gate) << " code " << code);
      Reset();
      Dispatch({static_cast<uint8_t>(code), 0xAA, 0xBB});
      if (Refused(gate, code)) {
        ASSERT_EQ(peer.replies, (std::vector<std::vector<uint8_t>>{{0x15, 0x35}}));
        EXPECT_EQ(pauses, std::vector<uint32_t>{kRejectPauseMilliseconds});
        EXPECT_TRUE(calls.empty());
        EXPECT_TRUE(lines.empty());
        continue;
      }
      EXPECT_TRUE(pauses.empty());
      if (code == 0x00) {
        EXPECT_TRUE(peer.replies.empty());
        EXPECT_TRUE(lines.empty());
        EXPECT_TRUE(calls.empty());
      } else if (code >= 0x80 && code <= 0x82) {
        EXPECT_EQ(peer.replies, (std::vector<std::vector<uint8_t>>{{0x06}}));
        EXPECT_TRUE(lines.empty());
      } else if (code >= 0x3F) {
        EXPECT_TRUE(peer.replies.empty());
        EXPECT_EQ(lines, std::vector<std::u16string>{u"Invalid Frame"});
        EXPECT_TRUE(calls.empty());
      } else {
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].code, code);
        EXPECT_TRUE(lines.empty());
      }
    }
  }
}

TEST_F(DispatcherTest, HandlerSeesTheWholeFrameLength) {
  Dispatch({0x22, 'a', 'b', 'c', 0});
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].frameLength, 5);
  EXPECT_EQ(calls[0].payloadSize, 4u);

  Reset();
  Dispatch({0x22});
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].frameLength, 1);
  EXPECT_EQ(calls[0].payloadSize, 0u);
}

TEST_F(DispatcherTest, EmptyFrameIsIgnoredEvenWithTheGateClosed) {
  SetGate(Gate::kLinkClosed);
  uint8_t byte = 0x80;
  DispatchFrame(agent, table, &byte, 0, &peer, RecordReply);
  DispatchFrame(agent, table, &byte, -4, &peer, RecordReply);
  DispatchFrame(agent, table, nullptr, 3, &peer, RecordReply);
  EXPECT_TRUE(peer.replies.empty());
  EXPECT_TRUE(pauses.empty());
  EXPECT_TRUE(lines.empty());
}

TEST_F(DispatcherTest, UnbuiltHandlerReportsInvalidFrame) {
  table[0x05] = nullptr;
  Dispatch({0x05, 1});
  EXPECT_TRUE(peer.replies.empty());
  EXPECT_EQ(lines, std::vector<std::u16string>{u"Invalid Frame"});
}

TEST_F(DispatcherTest, AThrowingHandlerDoesNotEscape) {
  table[0x07] = [](Request&) { throw std::bad_alloc(); };
  EXPECT_NO_THROW(Dispatch({0x07}));
}

TEST_F(DispatcherTest, TheRealTableRoutesKeepAliveAndRejectsWithoutAPeer) {
  DispatchFrame(agent, reinterpret_cast<const uint8_t*>("\x81\x01\x02"), 3, &peer, RecordReply);
  EXPECT_EQ(peer.replies, (std::vector<std::vector<uint8_t>>{{0x06}}));
  SetGate(Gate::kLinkClosed);
  RejectFrame(agent, nullptr, nullptr);  // no reply function: only the pause
  EXPECT_EQ(pauses.size(), 1u);
}

}  // namespace
}  // namespace perimo
