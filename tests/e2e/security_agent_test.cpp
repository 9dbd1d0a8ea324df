// A locked agent driven over TCP as a workstation drives it: the gate's three stages, the
// key exchange under the default and a configured pre-shared key, encrypted traffic raw and
// framed, login and its refusal pause, dropped chunks, and a new connection that starts over.
// Each refusal holds the agent for 10 s, so the tests keep them few and group the cases.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "e2e/agent_harness.h"
#include "security/aes_crypto_library.h"
#include "security/users_file.h"
#include "workstation/secure_link.h"
#include "workstation/workstation.h"

namespace perimo::e2e {
namespace {

using workstation::Bytes;
using workstation::Frame;
using workstation::LoginFrame;
using workstation::SecureLink;
using workstation::Workstation;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kAck = 0x06;
const Bytes kRefused{0x15, 0x35};
constexpr int kPauseWaitMs = 20000;  // a reply held back by a refusal pause

// Alice's words are told apart by value and by byte order; bob may only read.
UserList Users() {
  return {{u"Alice", u"Secret1", {1, 1, 0, 2, 0x0102}}, {u"bob", u"", {0, 1, 0, 0, 0}}};
}

std::string UsersFile(const UserList& users, bool securityEnabled) {
  const std::vector<uint8_t> bytes = SerializeUsersFile(users, securityEnabled);
  return std::string(bytes.begin(), bytes.end());
}

// The users file lies beside the executable, named after it.
AgentOptions LockedAgent(bool securityEnabled = true) {
  AgentOptions options;
  options.files.emplace_back("perimo.BIN", UsersFile(Users(), securityEnabled));
  options.files.emplace_back("data.txt", "hello");
  return options;
}

Bytes LoginReply(const Rights& rights) {
  Bytes reply{kAck, '1'};
  for (uint16_t word : rights) {
    reply.push_back(static_cast<uint8_t>(word));
    reply.push_back(static_cast<uint8_t>(word >> 8));
  }
  return reply;
}

// Bytes of the agent's side of this connection not yet read by the agent, from the kernel's
// socket table; nullopt while the entry cannot be found.
std::optional<unsigned long> AgentUnread(uint16_t agentPort, const Workstation& ws) {
  sockaddr_in self{};
  socklen_t size = sizeof self;
  if (getsockname(ws.descriptor(), reinterpret_cast<sockaddr*>(&self), &size) != 0) {
    return std::nullopt;
  }
  char local[8], remote[8];
  std::snprintf(local, sizeof local, ":%04X", agentPort);
  std::snprintf(remote, sizeof remote, ":%04X", ntohs(self.sin_port));
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, localAddress, remoteAddress, state, queues;
    fields >> slot >> localAddress >> remoteAddress >> state >> queues;
    if (localAddress.ends_with(local) && remoteAddress.ends_with(remote)) {
      return std::stoul(queues.substr(queues.find(':') + 1), nullptr, 16);
    }
  }
  return std::nullopt;
}

// Waits until the agent has read everything sent so far, so that the next chunk is read
// apart from it (raw frames have no delimiters).
bool AgentReadAll(uint16_t agentPort, const Workstation& ws, int timeoutMs = 5000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (AgentUnread(agentPort, ws) == 0ul) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

int64_t MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A link key text as the agent makes it: "MM/DD/YYYY hh:mm:ss n", n from 0 to 32767.
bool IsAgentLinkKey(const std::u16string& key) {
  const std::u16string_view form = u"00/00/0000 00:00:00 ";
  if (key.size() < form.size() + 1 || key.size() > form.size() + 5) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    const char16_t expected = i < form.size() ? form[i] : u'0';
    const bool digit = key[i] >= u'0' && key[i] <= u'9';
    if (expected == u'0' ? !digit : key[i] != expected) return false;
  }
  return true;
}

void ExpectAgentLinkKey(const std::u16string& key) {
  EXPECT_TRUE(IsAgentLinkKey(key)) << std::string(key.begin(), key.end());
}

class SecurityAgent : public ::testing::Test {
 protected:
  void Boot(AgentOptions options) {
    options.env.emplace_back("LC_ALL", "C");
    agent = std::make_unique<AgentHarness>(std::move(options));
    ASSERT_TRUE(agent->Start()) << agent->error();
  }

  // Opens the link in clear and checks the reply's form on the wire.
  void OpenLink(Workstation& ws, SecureLink& link) {
    ASSERT_TRUE(ws.SendFrame(Frame(workstation::kOpenSecureLinkCode)));
    const auto reply = ws.ReadReply(kPauseWaitMs);
    ASSERT_TRUE(reply);
    ASSERT_TRUE(link.Accept(*reply)) << reply->size() << " bytes";
    ExpectAgentLinkKey(link.linkKey());
    EXPECT_EQ(reply->size(), link.linkKey().size() == 21 ? 98u : 130u);
    link.Attach(ws);
  }

  std::unique_ptr<AgentHarness> agent;
};

TEST_F(SecurityAgent, GateAdmitsByStageAndANewConnectionStartsOver) {
  Boot(LockedAgent());
  // A first workstation gets all the way in.
  auto first = agent->Connect();
  SecureLink firstLink;
  ASSERT_NO_FATAL_FAILURE(OpenLink(first, firstLink));
  ASSERT_EQ(first.Request(LoginFrame(u"Alice", u"Secret1")), LoginReply(Users()[0].rights));
  EXPECT_EQ(first.Request(Frame(0x80)), Bytes{kAck});

  // A second one replaces it, and the login, the link and its cipher are gone.
  auto ws = agent->Connect();
  EXPECT_TRUE(first.WaitClosed());
  // No link: queries pass in clear, the keep-alive is refused and the agent is deaf 10 s.
  EXPECT_EQ(ws.Request(Frame(workstation::kGetSecurityStateCode)), (Bytes{kAck, '1'}));
  const auto product = ws.Request(Frame(0x14));
  ASSERT_TRUE(product);
  EXPECT_EQ(product->front(), kAck);
  EXPECT_EQ(ws.Request(Frame(0x80)), kRefused);
  const auto refusedAt = Clock::now();
  SecureLink link;
  ASSERT_NO_FATAL_FAILURE(OpenLink(ws, link));
  EXPECT_GE(MillisecondsSince(refusedAt), 9000);
  EXPECT_NE(link.linkKey(), firstLink.linkKey());

  // Link open, nobody logged in: 0x24, 0x20 and 0x25 pass, encrypted; others are refused.
  EXPECT_EQ(ws.Request(Frame(workstation::kGetSecurityStateCode)), (Bytes{kAck, '1'}));
  // 0x20 passes the gate: no refusal. (It answers 06 once the agent has its handler.)
  ASSERT_TRUE(ws.SendFrame(Frame(0x20)));
  const auto wide = ws.ReadReply(1000);
  if (wide) {
    EXPECT_EQ(*wide, Bytes{kAck});
  }
  // 0x14 passed before the link, not now; the refusal comes encrypted.
  EXPECT_EQ(ws.Request(Frame(0x14)), kRefused);
  // Logged in: everything passes; the name is 8-bit also under wide strings.
  EXPECT_EQ(ws.Request(LoginFrame(u"Alice", u"Secret1"), kPauseWaitMs),
            LoginReply(Users()[0].rights));
  EXPECT_EQ(ws.Request(Frame(0x80)), Bytes{kAck});
  const auto productAgain = ws.Request(Frame(0x14));
  ASSERT_TRUE(productAgain);
  // The same product text as in clear (the free memory behind it moves).
  const auto productText = [](const Bytes& reply) {
    return std::string(reply.begin(), std::find(reply.begin(), reply.end(), 0));
  };
  EXPECT_EQ(productText(*productAgain), productText(*product));
  EXPECT_EQ(ws.Request(Frame(0x3A)), (Bytes{kAck, 0}));
  // Alice may read: the upload of a file names its size.
  const Bytes upload = wide ? workstation::WideTextFrame(0x04, u"C:\\data.txt")
                            : workstation::TextFrame(0x04, "C:\\data.txt");
  EXPECT_EQ(ws.Request(upload), (Bytes{kAck, 5, 0, 0, 0, 0}));
}

TEST_F(SecurityAgent, ConfiguredPreSharedKeyCarriesTheLinkKey) {
  const std::u16string preShared = u"Factory line 7, cabinet B";
  AgentOptions options = LockedAgent();
  options.ini["Protection"]["InternalKey"] = "Factory line 7, cabinet B";
  Boot(std::move(options));
  auto ws = agent->Connect();
  ASSERT_TRUE(ws.SendFrame(Frame(workstation::kOpenSecureLinkCode)));
  const auto reply = ws.ReadReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(workstation::LinkKeyFromReply(*reply, kDefaultInternalKey), std::nullopt);
  SecureLink link(preShared);
  ASSERT_TRUE(link.Accept(*reply));
  ExpectAgentLinkKey(link.linkKey());
  link.Attach(ws);
  EXPECT_EQ(ws.Request(LoginFrame(u"bob", u"")), LoginReply(Users()[1].rights));
  EXPECT_EQ(ws.Request(Frame(0x80)), Bytes{kAck});
}

TEST_F(SecurityAgent, EncryptedTrafficRawAndFramedDropsWhatDoesNotDecrypt) {
  Boot(LockedAgent());
  auto ws = agent->Connect();
  SecureLink link;
  ASSERT_NO_FATAL_FAILURE(OpenLink(ws, link));
  // Another letter case of the name logs in.
  ASSERT_EQ(ws.Request(LoginFrame(u"aLICE", u"Secret1")), LoginReply(Users()[0].rights));

  // The keep-alive's answer on the wire: one block that decrypts to 06.
  ASSERT_TRUE(ws.SendFrame(Frame(0x80)));
  const auto wire = ws.ReadExactly(16);
  ASSERT_TRUE(wire);
  EXPECT_EQ(link.Decrypt(*wire), Bytes{kAck});

  // Chunks that do not decrypt are dropped without a reply: a clear frame (not whole
  // blocks), and a block whose length field exceeds the chunk.
  ASSERT_TRUE(ws.SendRaw(Frame(0x80)));
  ASSERT_TRUE(AgentReadAll(agent->port(), ws));
  EXPECT_TRUE(ws.Silent(300));
  Bytes badLength(16, 0);
  badLength[0] = 0x80;
  badLength[12] = 17;
  std::vector<uint8_t> badBlock;
  ASSERT_TRUE(CAESCryptoLibrary(link.linkKey(), true).Encrypt(badLength, badBlock));
  ASSERT_TRUE(ws.SendRaw(badBlock));
  ASSERT_TRUE(AgentReadAll(agent->port(), ws));
  EXPECT_TRUE(ws.Silent(300));
  EXPECT_EQ(ws.Request(Frame(0x80)), Bytes{kAck});

  // 0x3B again: it leaves under the old key, its reply comes under the new one.
  const std::u16string oldKey = link.linkKey();
  const std::time_t sentAt = std::time(nullptr);
  ASSERT_TRUE(ws.SendFrame(Frame(workstation::kOpenSecureLinkCode)));
  ws.decrypt = nullptr;
  const auto rekeyed = ws.ReadReply();
  ASSERT_TRUE(rekeyed);
  EXPECT_EQ(rekeyed->size() % 16, 0u);
  EXPECT_EQ(workstation::LinkKeyFromReply(*rekeyed, kDefaultInternalKey), std::nullopt);
  ASSERT_TRUE(link.AcceptRekeyed(*rekeyed, sentAt));
  ExpectAgentLinkKey(link.linkKey());
  EXPECT_NE(link.linkKey(), oldKey);
  link.Attach(ws);
  EXPECT_EQ(ws.Request(Frame(0x80)), Bytes{kAck});
  // The login survives a re-key.
  EXPECT_EQ(ws.Request(Frame(0x3A)), (Bytes{kAck, 0}));

  // 0x13 answers raw (encrypted), then both ways are framed around the ciphertext.
  const auto os = ws.Request(Frame(0x13));
  ASSERT_TRUE(os);
  EXPECT_EQ(os->front(), kAck);
  ws.SetFramed(true);
  ASSERT_TRUE(ws.SendFrame(Frame(0x80)));
  // On the wire: STX, the block with any DLE doubled, DLE ETX.
  const auto decrypt = ws.decrypt;
  ws.decrypt = nullptr;
  ws.SetFramed(false);
  const auto wireFramed = ws.ReadReply();
  ws.SetFramed(true);
  ws.decrypt = decrypt;
  ASSERT_TRUE(wireFramed);
  ASSERT_GE(wireFramed->size(), 19u);
  EXPECT_EQ(wireFramed->front(), workstation::kStx);
  EXPECT_EQ(Bytes(wireFramed->end() - 2, wireFramed->end()),
            (Bytes{workstation::kDle, workstation::kEtx}));
  std::vector<Bytes> frames;
  workstation::EnvelopeDecoder decoder;
  decoder.Feed(wireFramed->data(), wireFramed->size(), frames);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].size(), 16u);
  EXPECT_EQ(link.Decrypt(frames[0]), Bytes{kAck});
  EXPECT_EQ(ws.Request(Frame(workstation::kGetSecurityStateCode)), (Bytes{kAck, '1'}));

  // A framed chunk that does not decrypt is dropped; the frame behind it in the same
  // segment is still answered.
  Bytes both = workstation::Envelope(Bytes(15, 0x41));
  const Bytes keepAlive = workstation::Envelope(link.Encrypt(Frame(0x80)));
  both.insert(both.end(), keepAlive.begin(), keepAlive.end());
  ASSERT_TRUE(ws.SendRaw(both));
  EXPECT_EQ(ws.ReadReply(), Bytes{kAck});
  EXPECT_TRUE(ws.Silent(200));
}

// The usual session of a locked agent: a download in framed mode under the link, blocks sent
// back to back without replies, then the file read back.
TEST_F(SecurityAgent, DownloadAndUploadUnderTheEncryptedLink) {
  AgentOptions options = LockedAgent();
  options.files.emplace_back("Data/old.txt", "old");
  Boot(std::move(options));
  auto ws = agent->Connect();
  SecureLink link;
  ASSERT_TRUE(workstation::OpenSecureLink(ws, link));
  ASSERT_EQ(ws.Request(LoginFrame(u"Alice", u"Secret1")), LoginReply(Users()[0].rights));
  ASSERT_TRUE(ws.Request(Frame(0x13)));
  ws.SetFramed(true);

  std::string content(40000, 0);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 ^ (i >> 8));
  const std::string name = "C:\\Data\\sec.bin";
  Bytes open{0x2D};
  workstation::AppendU32(open, static_cast<uint32_t>(content.size()));
  open.insert(open.end(), name.begin(), name.end());
  ASSERT_EQ(ws.Request(open), Bytes{kAck});
  for (size_t at = 0; at < content.size(); at += 16384) {
    const size_t n = std::min<size_t>(16384, content.size() - at);
    Bytes block{0x2E};
    workstation::AppendU32(block, static_cast<uint32_t>(n));
    block.insert(block.end(), content.begin() + at, content.begin() + at + n);
    ASSERT_TRUE(ws.SendFrame(block));
  }
  EXPECT_EQ(ws.Request(Frame(0x2C), 30000), Bytes{kAck});
  Bytes close{0x03};
  close.resize(1 + 24, 0);
  workstation::AppendU32(close, 0x20);
  EXPECT_EQ(ws.Request(close, 30000), Bytes{kAck});
  std::ifstream file(agent->Path("Data/sec.bin"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), content);

  const auto opened = ws.Request(workstation::TextFrame(0x04, name));
  ASSERT_TRUE(opened);
  EXPECT_EQ(*opened, (Bytes{kAck, 0x40, 0x9C, 0, 0, 0}));
  std::string received;
  for (int i = 0; i < 10; ++i) {
    const auto reply = ws.Request(Frame(0x05));
    ASSERT_TRUE(reply && reply->size() >= 5 && reply->front() == kAck);
    const uint32_t count = workstation::ReadU32(*reply, 1);
    ASSERT_EQ(reply->size(), count + 5u);
    if (count == 0) break;
    received.append(reply->begin() + 5, reply->end());
  }
  EXPECT_EQ(received, content);
}

TEST_F(SecurityAgent, WrongPasswordAnswersZeroHoldsTheAgentAndKeepsTheLogin) {
  Boot(LockedAgent());
  auto ws = agent->Connect();
  SecureLink link;
  ASSERT_NO_FATAL_FAILURE(OpenLink(ws, link));
  ASSERT_EQ(ws.Request(LoginFrame(u"bob", u"")), LoginReply(Users()[1].rights));
  // Passwords are compared exactly.
  const auto sentAt = Clock::now();
  EXPECT_EQ(ws.Request(LoginFrame(u"alice", u"secret1")), (Bytes{kAck, '0'}));
  EXPECT_EQ(ws.Request(Frame(0x80), kPauseWaitMs), Bytes{kAck});
  const int64_t held = MillisecondsSince(sentAt);
  EXPECT_GE(held, 9000);
  EXPECT_LT(held, 30000);
  // bob is still logged in with his rights: he may read.
  EXPECT_EQ(ws.Request(workstation::TextFrame(0x04, "C:\\data.txt")), (Bytes{kAck, 5, 0, 0, 0, 0}));
  EXPECT_EQ(ws.Request(LoginFrame(u"Alice", u"Secret1")), LoginReply(Users()[0].rights));
}

TEST_F(SecurityAgent, SecurityOnWithoutUsersAnswersTwo) {
  AgentOptions options;
  options.files.emplace_back("perimo.BIN", UsersFile({}, true));
  Boot(std::move(options));
  auto ws = agent->Connect();
  EXPECT_EQ(ws.Request(Frame(workstation::kGetSecurityStateCode)), (Bytes{kAck, '2'}));
  SecureLink link;
  ASSERT_NO_FATAL_FAILURE(OpenLink(ws, link));
  EXPECT_EQ(ws.Request(Frame(workstation::kGetSecurityStateCode)), (Bytes{kAck, '2'}));
}

TEST_F(SecurityAgent, SecurityOffLetsEverythingPassInClear) {
  Boot(LockedAgent(false));
  auto ws = agent->Connect();
  EXPECT_EQ(ws.Request(Frame(workstation::kGetSecurityStateCode)), (Bytes{kAck, '0'}));
  EXPECT_EQ(ws.Request(Frame(0x80)), Bytes{kAck});
  // No user is looked up: the words are those a new connection left, all 0 ...
  EXPECT_EQ(ws.Request(LoginFrame(u"nobody", u"")), LoginReply({0, 0, 0, 0, 0}));
  // ... while every rights check grants.
  EXPECT_EQ(ws.Request(workstation::TextFrame(0x04, "C:\\data.txt")), (Bytes{kAck, 5, 0, 0, 0, 0}));
  // 0x3B still answers, and the link stays in clear.
  SecureLink link;
  ASSERT_TRUE(ws.SendFrame(Frame(workstation::kOpenSecureLinkCode)));
  const auto reply = ws.ReadReply();
  ASSERT_TRUE(reply);
  EXPECT_TRUE(link.Accept(*reply));
  EXPECT_EQ(ws.Request(Frame(0x80)), Bytes{kAck});
}

TEST_F(SecurityAgent, APreSharedKeyWrittenByTheWorkstationCountsFromTheNextLink) {
  Boot(LockedAgent(false));
  auto ws = agent->Connect();
  EXPECT_EQ(
      ws.Request(workstation::TextFrame(0x0C, "C:\\perimo.INI\tProtection\tInternalKey\tline 9")),
      Bytes{kAck});
  ASSERT_TRUE(ws.SendFrame(Frame(workstation::kOpenSecureLinkCode)));
  const auto reply = ws.ReadReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(workstation::LinkKeyFromReply(*reply, kDefaultInternalKey), std::nullopt);
  const auto key = workstation::LinkKeyFromReply(*reply, u"line 9");
  ASSERT_TRUE(key);
  ExpectAgentLinkKey(*key);
}

// The largest block size the agent allows, in framed and encrypted mode, with every byte a
// DLE that framing doubles: every upload reply still fits the send buffer.
TEST_F(SecurityAgent, TheLargestUploadBlocksOfDlesArriveWholeFramedAndEncrypted) {
  AgentOptions options = LockedAgent();
  options.ini["Communication"]["PackSize"] = "1000000";
  const std::string content(200000, '\x10');
  options.files.emplace_back("Data/dles.bin", content);
  Boot(std::move(options));
  EXPECT_TRUE(agent->WaitForLine("PackSize 1000000 lowered to 65511"));
  auto ws = agent->Connect();
  SecureLink link;
  ASSERT_TRUE(workstation::OpenSecureLink(ws, link));
  ASSERT_EQ(ws.Request(LoginFrame(u"Alice", u"Secret1")), LoginReply(Users()[0].rights));
  ASSERT_TRUE(ws.Request(Frame(0x13)));
  ws.SetFramed(true);
  ASSERT_EQ(ws.Request(workstation::TextFrame(0x04, "C:\\Data\\dles.bin")),
            (Bytes{kAck, 0x40, 0x0D, 0x03, 0, 0}));
  std::string received;
  std::vector<uint32_t> counts;
  for (int i = 0; i < 10; ++i) {
    const auto reply = ws.Request(Frame(0x05), 10000);
    ASSERT_TRUE(reply && reply->size() >= 5 && reply->front() == kAck);
    const uint32_t count = workstation::ReadU32(*reply, 1);
    ASSERT_EQ(reply->size(), count + 5u);
    counts.push_back(count);
    if (count == 0) break;
    received.append(reply->begin() + 5, reply->end());
  }
  EXPECT_EQ(counts, (std::vector<uint32_t>{65511, 65511, 65511, 3467, 0}));
  EXPECT_TRUE(received == content);
  EXPECT_FALSE(agent->HasLine("Reply not sent"));
}

}  // namespace
}  // namespace perimo::e2e
