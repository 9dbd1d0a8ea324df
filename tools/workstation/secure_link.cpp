#include "workstation/secure_link.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

#include "security/users_file.h"

namespace perimo::workstation {
namespace {

constexpr uint8_t kAck = 0x06;
constexpr size_t kLoginNameBytes = 32;
// The AES key is keyed from the first 16 characters of a link key text.
constexpr size_t kKeyedChars = CAESCryptoLibrary::kKeyBytes;

// "MM/DD/YYYY hh:mm" of the local time t: the keyed part of a link key made at t.
std::u16string MinutePrefix(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%d %02d:%02d", local.tm_mon + 1, local.tm_mday,
                local.tm_year + 1900, local.tm_hour, local.tm_min);
  std::u16string prefix;
  for (const char* c = text; *c; ++c) prefix.push_back(static_cast<char16_t>(*c));
  return prefix;
}

}  // namespace

Bytes LoginFrame(std::u16string_view name, std::u16string_view password) {
  Bytes frame(1 + kLoginNameBytes + kScrambledFieldSize, 0);
  frame[0] = kLoginCode;
  for (size_t i = 0; i < name.size() && i < kLoginNameBytes; ++i) {
    frame[1 + i] = static_cast<uint8_t>(name[i]);
  }
  uint8_t field[kScrambledFieldSize];
  ScrambleText(password, field);
  std::copy(std::begin(field), std::end(field), frame.begin() + 1 + kLoginNameBytes);
  return frame;
}

std::optional<std::u16string> LinkKeyFromReply(const Bytes& reply,
                                               std::u16string_view preSharedKey) {
  // 06, at least one block as hexadecimal (32 digits), 00.
  if (reply.size() < 34 || reply.front() != kAck || reply.back() != 0) return std::nullopt;
  std::u16string hex;
  for (size_t i = 1; i + 1 < reply.size(); ++i) {
    const uint8_t c = reply[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return std::nullopt;
    hex.push_back(c);
  }
  if (hex.size() % 32 != 0) return std::nullopt;
  // DecryptFromHex answers its input when the digits do not decrypt.
  std::u16string key = CAESCryptoLibrary(preSharedKey).DecryptFromHex(hex);
  if (key == hex || key.empty()) return std::nullopt;
  return key;
}

SecureLink::SecureLink(std::u16string_view preSharedKey) : preSharedKey_(preSharedKey) {}

void SecureLink::Key(const std::u16string& linkKey) {
  linkKey_ = linkKey;
  cipher_ = CAESCryptoLibrary(linkKey_);
  open_ = true;
}

bool SecureLink::Accept(const Bytes& reply) {
  const auto key = LinkKeyFromReply(reply, preSharedKey_);
  if (!key) return false;
  Key(*key);
  return true;
}

bool SecureLink::AcceptRekeyed(const Bytes& chunk, std::time_t sentAt) {
  // A minute either side allows for a reply made across a minute boundary and for a pause.
  for (std::time_t t = sentAt - 60; t <= sentAt + 120; t += 60) {
    const std::u16string prefix = MinutePrefix(t);
    std::vector<uint8_t> plain;
    if (!CAESCryptoLibrary(prefix).Decrypt(chunk, plain)) continue;
    const auto key = LinkKeyFromReply(plain, preSharedKey_);
    if (key && key->substr(0, kKeyedChars) == prefix) {
      Key(*key);
      return true;
    }
  }
  return false;
}

Bytes SecureLink::Encrypt(const Bytes& frame) const {
  std::vector<uint8_t> out;
  if (!cipher_.Encrypt(frame, out)) return {};
  return out;
}

std::optional<Bytes> SecureLink::Decrypt(const Bytes& chunk) const {
  std::vector<uint8_t> out;
  if (!cipher_.Decrypt(chunk, out)) return std::nullopt;
  return out;
}

void SecureLink::Attach(Workstation& ws) const {
  ws.encrypt = [cipher = cipher_](const Bytes& frame) {
    std::vector<uint8_t> out;
    if (!cipher.Encrypt(frame, out)) out.clear();
    return out;
  };
  ws.decrypt = [cipher = cipher_](const Bytes& chunk) -> std::optional<Bytes> {
    std::vector<uint8_t> out;
    if (!cipher.Decrypt(chunk, out)) return std::nullopt;
    return out;
  };
}

bool OpenSecureLink(Workstation& ws, SecureLink& link, int timeoutMs) {
  const bool rekey = link.open() && ws.encrypt;
  const std::time_t sentAt = std::time(nullptr);
  if (!ws.SendFrame(Frame(kOpenSecureLinkCode))) return false;
  // The reply comes in clear or under the new key: never under the one attached now.
  ws.decrypt = nullptr;
  const auto reply = ws.ReadReply(timeoutMs);
  if (!reply) return false;
  const bool keyed = rekey ? link.AcceptRekeyed(*reply, sentAt) : link.Accept(*reply);
  if (keyed) link.Attach(ws);
  return keyed;
}

}  // namespace perimo::workstation
