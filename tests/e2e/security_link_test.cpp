// The workstation's secure link against the agent's own cipher classes, without a process:
// the key it takes from a 0x3B reply, ciphertext both ways, re-keyed replies, login frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>

#include "security/aes_crypto_library.h"
#include "security/link_cipher.h"
#include "workstation/secure_link.h"

namespace perimo::workstation {
namespace {

// A link key text as the agent makes it at time t.
std::u16string AgentLinkKey(std::time_t t, int number) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%d %02d:%02d:%02d %d", local.tm_mon + 1,
                local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                number);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

// The agent's reply to 0x3B: 06, the key's hexadecimal ciphertext under the pre-shared key, 00.
Bytes AgentReply(const std::u16string& linkKey, std::u16string_view preShared) {
  Bytes reply{0x06};
  for (char16_t c : CAESCryptoLibrary(preShared).EncryptToHex(linkKey)) reply.push_back(c);
  reply.push_back(0);
  return reply;
}

TEST(SecurityLinkUnit, KeyFromReplyNeedsTheSamePreSharedKey) {
  const std::u16string key = AgentLinkKey(std::time(nullptr), 32767);
  const Bytes reply = AgentReply(key, kDefaultInternalKey);
  EXPECT_EQ(reply.size(), key.size() == 21 ? 98u : 130u);
  EXPECT_EQ(LinkKeyFromReply(reply, kDefaultInternalKey), key);
  EXPECT_EQ(LinkKeyFromReply(reply, u"another key"), std::nullopt);

  Bytes noTerminator = reply;
  noTerminator.pop_back();
  EXPECT_EQ(LinkKeyFromReply(noTerminator, kDefaultInternalKey), std::nullopt);
  Bytes lowerCase = reply;
  lowerCase[1] = 'a';
  EXPECT_EQ(LinkKeyFromReply(lowerCase, kDefaultInternalKey), std::nullopt);
  EXPECT_EQ(LinkKeyFromReply(Bytes{0x15, 0x35}, kDefaultInternalKey), std::nullopt);
}

TEST(SecurityLinkUnit, FramesCrossBothWaysWithTheAgentsCipher) {
  const std::u16string key = AgentLinkKey(std::time(nullptr), 7);
  SecureLink link;
  ASSERT_FALSE(link.Accept(Bytes{0x06, 0x00}));
  EXPECT_FALSE(link.open());
  ASSERT_TRUE(link.Accept(AgentReply(key, kDefaultInternalKey)));
  EXPECT_EQ(link.linkKey(), key);

  const LinkCipher agent(key);
  // Request: 13 bytes take two blocks; the agent decrypts in place.
  Bytes request = link.Encrypt(Frame(0x2D, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  ASSERT_EQ(request.size(), 32u);
  const int32_t plain = agent.DecryptFrame(request.data(), static_cast<int32_t>(request.size()));
  EXPECT_EQ(Bytes(request.begin(), request.begin() + plain),
            Frame(0x2D, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  // Reply: the keep-alive answer is one block.
  const Bytes reply = agent.EncryptFrame(Bytes{0x06});
  ASSERT_EQ(reply.size(), 16u);
  EXPECT_EQ(link.Decrypt(reply), Bytes{0x06});
  EXPECT_EQ(link.Decrypt(Bytes(reply.begin(), reply.begin() + 15)), std::nullopt);

  // The same through a workstation's hooks.
  Workstation ws;
  link.Attach(ws);
  ASSERT_TRUE(ws.encrypt && ws.decrypt);
  EXPECT_EQ(ws.encrypt(Frame(0x80)).size(), 16u);
  EXPECT_EQ(ws.decrypt(reply), Bytes{0x06});
}

TEST(SecurityLinkUnit, RekeyedReplyIsFoundFromTheMinuteItWasMade) {
  const std::time_t now = std::time(nullptr);
  const std::u16string oldKey = AgentLinkKey(now - 30, 1);
  SecureLink link;
  ASSERT_TRUE(link.Accept(AgentReply(oldKey, kDefaultInternalKey)));

  // The agent re-keys, then sends the reply under the key it carries.
  const std::u16string newKey = AgentLinkKey(now, 12345);
  std::vector<uint8_t> chunk;
  ASSERT_TRUE(CAESCryptoLibrary(newKey).Encrypt(AgentReply(newKey, kDefaultInternalKey), chunk));
  EXPECT_FALSE(link.AcceptRekeyed(chunk, now - 600));
  EXPECT_EQ(link.linkKey(), oldKey);
  ASSERT_TRUE(link.AcceptRekeyed(chunk, now));
  EXPECT_EQ(link.linkKey(), newKey);

  // A reply under another pre-shared key is not taken.
  ASSERT_TRUE(CAESCryptoLibrary(newKey).Encrypt(AgentReply(newKey, u"other"), chunk));
  SecureLink fresh;
  EXPECT_FALSE(fresh.AcceptRekeyed(chunk, now));
}

TEST(SecurityLinkUnit, LoginFrameCarriesThePlainNameAndTheScrambledPassword) {
  const Bytes frame = LoginFrame(u"Alice", u"ab");
  ASSERT_EQ(frame.size(), 65u);
  EXPECT_EQ(frame[0], 0x25);
  EXPECT_EQ(Bytes(frame.begin() + 1, frame.begin() + 7), (Bytes{'A', 'l', 'i', 'c', 'e', 0}));
  EXPECT_EQ(frame[32], 0);
  for (size_t i = 33; i < 63; ++i) EXPECT_EQ(frame[i], 0xFF) << i;
  EXPECT_EQ(frame[63], 0x9D);
  EXPECT_EQ(frame[64], 0x9E);

  // A 32-character name fills its field with no terminator.
  const std::u16string longName(32, u'n');
  const Bytes full = LoginFrame(longName + u"xyz", u"");
  EXPECT_EQ(full.size(), 65u);
  EXPECT_EQ(full[32], 'n');
  EXPECT_EQ(full[33], 0xFF);
}

}  // namespace
}  // namespace perimo::workstation
