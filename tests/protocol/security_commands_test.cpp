#include "protocol/security_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "platform/paths.h"
#include "platform/profile.h"
#include "protocol/agent_state.h"
#include "protocol/dispatcher.h"
#include "security/users_file.h"

namespace perimo {
namespace {

struct Recorder : Connection {
  std::vector<std::vector<uint8_t>> replies;
  // What the link cipher's key was when each reply left.
  std::vector<std::u16string> keysAtReply;
  const AgentState* agent = nullptr;
};

int RecordReply(Connection* connection, const uint8_t* bytes, int32_t count) {
  auto* recorder = static_cast<Recorder*>(connection);
  recorder->replies.emplace_back(bytes, bytes + count);
  recorder->keysAtReply.push_back(recorder->agent->cipher.KeyText());
  return 1;
}

std::vector<uint8_t> LoginFrame(std::string_view name, std::u16string_view password) {
  std::vector<uint8_t> frame{0x25};
  for (size_t i = 0; i < 32; ++i) frame.push_back(i < name.size() ? name[i] : 0);
  uint8_t field[kScrambledFieldSize];
  ScrambleText(password, field);
  frame.insert(frame.end(), field, field + kScrambledFieldSize);
  return frame;
}

std::vector<uint8_t> RightsReply(const Rights& rights) {
  std::vector<uint8_t> reply{0x06, '1'};
  for (uint16_t r : rights) {
    reply.push_back(static_cast<uint8_t>(r));
    reply.push_back(static_cast<uint8_t>(r >> 8));
  }
  return reply;
}

class SecurityCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer.agent = &agent;
    agent.pause = [this](uint32_t ms) { pauses.push_back(ms); };
    agent.users = {{u"Operator", u"Secret", {1, 0, 1, 0, 0x0201}},
                   {u"viewer", u"", {0, 1, 0, 0, 0}}};
  }

  std::vector<uint8_t> Send(std::vector<uint8_t> frame, void (*handler)(Request&)) {
    Request request{agent, frame.data() + 1, static_cast<int32_t>(frame.size()), &peer,
                    RecordReply};
    const size_t before = peer.replies.size();
    handler(request);
    return peer.replies.size() > before ? peer.replies.back() : std::vector<uint8_t>{};
  }

  AgentState agent;
  Recorder peer;
  std::vector<uint32_t> pauses;
};

TEST_F(SecurityCommandsTest, SecurityStateCharacters) {
  EXPECT_EQ(Send({0x24}, GetSecurityState), (std::vector<uint8_t>{0x06, '0'}));
  agent.login.securityEnabled = true;
  EXPECT_EQ(Send({0x24, 9, 9}, GetSecurityState), (std::vector<uint8_t>{0x06, '1'}));
  agent.users.clear();
  EXPECT_EQ(Send({0x24}, GetSecurityState), (std::vector<uint8_t>{0x06, '2'}));
}

TEST_F(SecurityCommandsTest, SecurityOffAnswersTheRightsInForce) {
  EXPECT_EQ(Send(LoginFrame("nobody", u"x"), Login), RightsReply({1, 1, 1, 1, 1}));
  agent.login.ResetLoginState();
  EXPECT_EQ(Send(LoginFrame("Operator", u"Secret"), Login), RightsReply({0, 0, 0, 0, 0}));
  EXPECT_TRUE(agent.login.loggedInUser.empty());
  EXPECT_TRUE(pauses.empty());
}

TEST_F(SecurityCommandsTest, LoginIgnoresNameCaseAndKeepsTheNameAsSent) {
  agent.login.securityEnabled = true;
  agent.login.ResetLoginState();
  EXPECT_EQ(Send(LoginFrame("OPERATOR", u"Secret"), Login), RightsReply({1, 0, 1, 0, 0x0201}));
  EXPECT_EQ(agent.login.loggedInUser, u"OPERATOR");
  EXPECT_EQ(agent.login.loggedInRights, (Rights{1, 0, 1, 0, 0x0201}));
  EXPECT_TRUE(pauses.empty());
}

TEST_F(SecurityCommandsTest, WrongPasswordRefusesAndPauses) {
  agent.login.securityEnabled = true;
  agent.login.loggedInUser = u"viewer";
  agent.login.loggedInRights = {0, 1, 0, 0, 0};
  for (auto [name, password] :
       {std::pair{"Operator", u"secret"}, {"Operator", u"Secret!"}, {"nobody", u""}, {"", u""}}) {
    pauses.clear();
    EXPECT_EQ(Send(LoginFrame(name, password), Login), (std::vector<uint8_t>{0x06, '0'}));
    EXPECT_EQ(pauses, std::vector<uint32_t>{10000}) << name;
  }
  // The earlier login stands.
  EXPECT_EQ(agent.login.loggedInUser, u"viewer");
  EXPECT_EQ(agent.login.loggedInRights, (Rights{0, 1, 0, 0, 0}));
}

TEST_F(SecurityCommandsTest, ShortFrameTakesMissingPasswordBytesAsEmpty) {
  agent.login.securityEnabled = true;
  // Name only, no password bytes at all: the empty password matches.
  std::vector<uint8_t> frame{0x25, 'v', 'i', 'e', 'w', 'e', 'r'};
  EXPECT_EQ(Send(frame, Login), RightsReply({0, 1, 0, 0, 0}));

  // A password cut after its first bytes: those are leading empty slots, so "Secret" fails.
  auto cut = LoginFrame("Operator", u"Secret");
  cut.resize(1 + 32 + 10);
  EXPECT_EQ(Send(cut, Login), (std::vector<uint8_t>{0x06, '0'}));
  // The code byte alone.
  EXPECT_EQ(Send({0x25}, Login), (std::vector<uint8_t>{0x06, '0'}));
}

TEST_F(SecurityCommandsTest, OpenSecureLinkSendsTheKeyUnderThePreSharedKey) {
  EXPECT_EQ(agent.settings.internalKey, u"5b2e0c71-4d9a-4e3f-8c61-27a0f4d9b3e8");
  const auto reply = Send({0x3B}, OpenSecureLink);
  ASSERT_TRUE(reply.size() == 98 || reply.size() == 130) << reply.size();
  EXPECT_EQ(reply.front(), 0x06);
  EXPECT_EQ(reply.back(), 0x00);
  std::u16string hex(reply.begin() + 1, reply.end() - 1);
  EXPECT_EQ(hex.find_first_not_of(u"0123456789ABCDEF"), std::u16string::npos);

  const std::u16string linkKey =
      CAESCryptoLibrary(u"5b2e0c71-4d9a-4e3f-8c61-27a0f4d9b3e8").DecryptFromHex(hex);
  EXPECT_EQ(linkKey, agent.cipher.KeyText());
  EXPECT_GE(linkKey.size(), 21u);
  EXPECT_LE(linkKey.size(), 25u);
  EXPECT_EQ(linkKey[2], u'/');
  EXPECT_EQ(linkKey[10], u' ');
  EXPECT_TRUE(agent.login.secureLinkOpen);
}

TEST_F(SecurityCommandsTest, SecondOpenSecureLinkRepliesUnderTheNewKey) {
  agent.settings.internalKey = u"site key";
  Send({0x3B}, OpenSecureLink);
  const std::u16string first = agent.cipher.KeyText();
  agent.cipher = CAESCryptoLibrary(u"an older key");
  const auto reply = Send({0x3B}, OpenSecureLink);
  // The cipher already held the new key when the reply left.
  EXPECT_EQ(peer.keysAtReply.back(), agent.cipher.KeyText());
  EXPECT_NE(agent.cipher.KeyText(), u"an older key");
  const std::u16string hex(reply.begin() + 1, reply.end() - 1);
  EXPECT_EQ(CAESCryptoLibrary(u"site key").DecryptFromHex(hex), agent.cipher.KeyText());
  EXPECT_EQ(first.substr(2, 1), u"/");
}

TEST_F(SecurityCommandsTest, EveryLinkReadsThePreSharedKeyFromTheSettingsFile) {
  char folder[] = "/tmp/perimo-key-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string ini = std::string(folder) + "/agent.INI";
  agent.paths.agentIniPath = platform::ToWirePath(ini);
  auto keyOfReply = [](const std::vector<uint8_t>& reply, std::u16string_view preShared) {
    const std::u16string hex(reply.begin() + 1, reply.end() - 1);
    return CAESCryptoLibrary(preShared).DecryptFromHex(hex);
  };
  // No file: the built-in key.
  auto reply = Send({0x3B}, OpenSecureLink);
  EXPECT_EQ(keyOfReply(reply, kDefaultInternalKey), agent.cipher.KeyText());
  ASSERT_TRUE(platform::WritePrivateProfileString(u"Protection", u"InternalKey", u"changed key",
                                                  agent.paths.agentIniPath));
  reply = Send({0x3B}, OpenSecureLink);
  EXPECT_EQ(keyOfReply(reply, u"changed key"), agent.cipher.KeyText());
  EXPECT_EQ(agent.settings.internalKey, u"changed key");
  unlink(ini.c_str());
  rmdir(folder);
}

// The link as the TCP connection runs it: replies are encrypted once the secure link is open,
// received chunks decrypted before dispatch. The workstation's side is played by the test.
struct SecureTcpPeer : Connection {
  AgentState* agent = nullptr;
  std::vector<std::vector<uint8_t>> wire;  // what left the agent
};

int SecureTcpReply(Connection* connection, const uint8_t* bytes, int32_t count) {
  auto* peer = static_cast<SecureTcpPeer*>(connection);
  const LoginState& login = peer->agent->login;
  if (login.securityEnabled && login.secureLinkOpen) {
    const auto sealed = peer->agent->cipher.EncryptFrame({bytes, static_cast<size_t>(count)});
    if (sealed.empty()) return 0;
    peer->wire.push_back(sealed);
  } else {
    peer->wire.emplace_back(bytes, bytes + count);
  }
  return 1;
}

TEST(SecureLinkFlow, WorkstationOpensTheLinkAndLogsIn) {
  AgentState agent;
  std::vector<uint32_t> pauses;
  agent.pause = [&](uint32_t ms) { pauses.push_back(ms); };
  agent.login.securityEnabled = true;
  agent.login.ResetLoginState();
  agent.users = {{u"op", u"pw", {1, 1, 1, 1, 1}}};
  SecureTcpPeer peer;
  peer.agent = &agent;

  auto receive = [&](std::vector<uint8_t> chunk) {
    if (agent.login.securityEnabled && agent.login.secureLinkOpen) {
      const int32_t n = agent.cipher.DecryptFrame(chunk.data(), static_cast<int32_t>(chunk.size()));
      ASSERT_GT(n, 0);
      chunk.resize(static_cast<size_t>(n));
    }
    DispatchFrame(agent, chunk.data(), static_cast<int32_t>(chunk.size()), &peer, SecureTcpReply);
  };

  // In clear: the link key, hidden under the pre-shared key.
  receive({0x3B});
  ASSERT_EQ(peer.wire.size(), 1u);
  const std::u16string hex(peer.wire[0].begin() + 1, peer.wire[0].end() - 1);
  const LinkCipher workstation(CAESCryptoLibrary(kDefaultInternalKey).DecryptFromHex(hex));

  // From now on both directions are encrypted.
  receive(workstation.EncryptFrame(LoginFrame("OP", u"pw")));
  ASSERT_EQ(peer.wire.size(), 2u);
  std::vector<uint8_t> reply = peer.wire[1];
  const int32_t n = workstation.DecryptFrame(reply.data(), static_cast<int32_t>(reply.size()));
  reply.resize(static_cast<size_t>(std::max(n, 0)));
  EXPECT_EQ(reply, RightsReply({1, 1, 1, 1, 1}));
  EXPECT_EQ(agent.login.loggedInUser, u"OP");
  EXPECT_TRUE(pauses.empty());
}

}  // namespace
}  // namespace perimo
