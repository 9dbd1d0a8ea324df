// The session's handshake and string width against a scripted agent.
#include "workstation/session.h"

#include <gtest/gtest.h>

#include "workstation/fake_agent.h"
#include "workstation/remote_commands.h"

namespace perimo::workstation {
namespace {

using testing::FakeAgent;

ConnectOptions To(const FakeAgent& agent) {
  ConnectOptions options;
  options.port = agent.port();
  options.timeoutMs = 3000;
  return options;
}

TEST(SessionTest, NamesTravelAs16BitCharactersWhereTheAgentOffersThem) {
  FakeAgent agent([](const Bytes&) { return std::vector<Bytes>{{0x06}}; });
  Session session;
  ASSERT_FALSE(session.Open(To(agent)));
  EXPECT_TRUE(session.wide());
  ASSERT_FALSE(MakeDirectory(session, "C:\\Ü€"));
  const Bytes expected{0x0F, 'C', 0, ':', 0, '\\', 0, 0xDC, 0x00, 0xAC, 0x20, 0, 0};
  EXPECT_EQ(agent.Received().at(0), expected);
}

TEST(SessionTest, AnAgentWithoutWideStringsKeeps8BitNamesAndRefusesOthersLocally) {
  FakeAgent agent([](const Bytes&) { return std::vector<Bytes>{{0x06}}; }, false);
  Session session;
  ASSERT_FALSE(session.Open(To(agent)));
  EXPECT_FALSE(session.wide());
  ASSERT_FALSE(MakeDirectory(session, "C:\\Ü"));
  EXPECT_EQ(agent.Received().at(0), (Bytes{0x0F, 'C', ':', '\\', 0xDC, 0}));
  const Error e = MakeDirectory(session, "C:\\€");
  EXPECT_EQ(e.outcome, Outcome::kUsage);
  EXPECT_EQ(agent.Received().size(), 1u);
}

TEST(SessionTest, ParsesHostsAndPorts) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    uint16_t port;
  } cases[] = {{"target", true, "target", 4322},
               {"10.0.0.2:5000", true, "10.0.0.2", 5000},
               {"[::1]:7", true, "::1", 7},
               {"h:0", false, "", 0},
               {"h:65536", false, "", 0},
               {"h:12x", false, "", 0},
               {":80", false, "", 0},
               {"h:", false, "", 0}};
  for (const Case& c : cases) {
    std::string host;
    uint16_t port = 4322;
    EXPECT_EQ(ParseHostPort(c.text, host, port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host, c.host);
      EXPECT_EQ(port, c.port);
    }
  }
}

TEST(SessionTest, NakRepliesAreToldWithTheirFileCause) {
  EXPECT_EQ(NakText({0x15, 0x35}), "refused by the security gate or the user's rights (NAK 0x35)");
  EXPECT_EQ(NakText({0x15, 0x08, 13, 0, 0, 0}), "the file cannot be written (NAK 0x08): disk full");
  EXPECT_EQ(NakText({0x15, 0x3E}), "the compressed file failed to expand (NAK 0x3E)");
}

TEST(SessionTest, AMissingReplyIsALostConnection) {
  FakeAgent agent([](const Bytes&) { return std::vector<Bytes>{}; });
  ConnectOptions options = To(agent);
  options.timeoutMs = 300;
  Session session;
  ASSERT_FALSE(session.Open(options));
  EXPECT_EQ(MakeDirectory(session, "C:\\x").outcome, Outcome::kConnection);
}

}  // namespace
}  // namespace perimo::workstation
