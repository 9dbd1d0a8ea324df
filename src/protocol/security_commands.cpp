#include "protocol/security_commands.h"

#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "platform/profile.h"
#include "platform/text.h"
#include "protocol/agent_state.h"
#include "security/aes_crypto_library.h"
#include "security/users.h"
#include "security/users_file.h"

namespace perimo {
namespace {

constexpr size_t kLoginNameBytes = 32;

// Reply 06 '1' and the five right words, little-endian, in account order.
void ReplyRights(const Request& request, const Rights& rights) {
  std::vector<uint8_t> reply{kAck, '1'};
  for (uint16_t right : rights) {
    reply.push_back(static_cast<uint8_t>(right));
    reply.push_back(static_cast<uint8_t>(right >> 8));
  }
  request.Reply(reply);
}

// Takes as long whatever the texts hold, so a reply's timing tells nothing of the password.
bool SamePassword(std::u16string_view a, std::u16string_view b) {
  const size_t longest = std::max(std::max(a.size(), b.size()), kMaxPasswordChars);
  unsigned difference = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < longest; ++i) {
    const char16_t x = i < a.size() ? a[i] : 0;
    const char16_t y = i < b.size() ? b[i] : 0;
    difference |= static_cast<unsigned>(x ^ y);
  }
  return difference == 0;
}

}  // namespace

void GetSecurityState(Request& request) {
  const AgentState& agent = request.agent;
  const uint8_t state = !agent.login.securityEnabled ? '0' : agent.users.empty() ? '2' : '1';
  request.Reply({kAck, state});
}

void Login(Request& request) {
  AgentState& agent = request.agent;
  LoginState& login = agent.login;
  if (!login.securityEnabled) {
    ReplyRights(request, login.loggedInRights);
    return;
  }
  const auto payload = request.Payload();
  // The name is 8-bit also while wide strings are on; it ends at a 0 byte or after 32.
  std::u16string name;
  for (size_t i = 0; i < kLoginNameBytes && i < payload.size() && payload[i] != 0; ++i) {
    name.push_back(payload[i]);
  }
  // A short frame: absent password bytes count as empty slots (0xFF once scrambled).
  uint8_t field[kScrambledFieldSize];
  for (size_t i = 0; i < kScrambledFieldSize; ++i) {
    const size_t at = kLoginNameBytes + i;
    field[i] = at < payload.size() ? payload[at] : 0xFF;
  }
  const std::u16string password = UnscrambleText(field);

  // An empty name is nobody: it could never open the gate, so it may not set rights either.
  const UserAccount* user = name.empty() ? nullptr : FindUser(agent.users, name);
  if (user && SamePassword(user->password, password)) {
    login.loggedInUser = name;
    login.loggedInRights = user->rights;
    ReplyRights(request, login.loggedInRights);
    return;
  }
  request.Reply({kAck, '0'});
  if (agent.pause) agent.pause(kFailedLoginPauseMilliseconds);
}

std::u16string MakeLinkKey() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  static std::mt19937 generator{std::random_device{}()};
  const int number = static_cast<int>(generator() % 32768);
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%d %02d:%02d:%02d %d", local.tm_mon + 1,
                local.tm_mday, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                number);
  return platform::Ascii(text);
}

void OpenSecureLink(Request& request) {
  AgentState& agent = request.agent;
  const std::u16string linkKey = MakeLinkKey();
  // Read for every link: a key written into the settings file counts from the next link on.
  if (!agent.paths.agentIniPath.empty()) {
    std::u16string key;
    platform::GetPrivateProfileString(u"Protection", u"InternalKey", kDefaultInternalKey, key,
                                      kMaxInternalKeyChars + 1, agent.paths.agentIniPath);
    agent.settings.internalKey = std::move(key);
  }
  const std::u16string_view preShared =
      std::u16string_view(agent.settings.internalKey).substr(0, kMaxInternalKeyChars);

  // The cipher changes before the reply leaves: on a link that is already encrypted, the
  // reply travels under the new key.
  agent.cipher = CAESCryptoLibrary(linkKey);
  const std::u16string hex = CAESCryptoLibrary(preShared).EncryptToHex(linkKey);

  std::vector<uint8_t> reply;
  reply.reserve(hex.size() + 2);
  reply.push_back(kAck);
  for (char16_t c : hex) reply.push_back(static_cast<uint8_t>(c));
  reply.push_back(0);
  request.Reply(reply);
  agent.login.secureLinkOpen = true;
}

}  // namespace perimo
