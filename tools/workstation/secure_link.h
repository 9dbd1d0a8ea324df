#pragma once
// The workstation side of the encrypted link. Command 0x3B hands over a fresh link key text
// encrypted under the pre-shared key; from then on every request leaves as one
// length-suffixed AES-128-ECB ciphertext keyed from that text, and every reply comes back as
// one. The ciphers are the agent's own security classes, so both ends key alike.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "security/aes_crypto_library.h"
#include "security/link_cipher.h"
#include "workstation/frames.h"
#include "workstation/workstation.h"

namespace perimo::workstation {

constexpr uint8_t kGetSecurityStateCode = 0x24;
constexpr uint8_t kLoginCode = 0x25;
constexpr uint8_t kOpenSecureLinkCode = 0x3B;

// 0x25: the name as 8-bit characters, zero-filled to 32 bytes (also under wide strings),
// then the password scrambled as in the users file (32 bytes).
Bytes LoginFrame(std::u16string_view name, std::u16string_view password);

// The link key text carried by a clear reply to 0x3B: 06, the key text's ciphertext under
// the pre-shared key as upper-case hexadecimal, 00. nullopt when the reply is not of that
// form or does not decrypt.
std::optional<std::u16string> LinkKeyFromReply(const Bytes& reply,
                                               std::u16string_view preSharedKey);

class SecureLink {
 public:
  explicit SecureLink(std::u16string_view preSharedKey = kDefaultInternalKey);

  // Keys the link from the clear reply to 0x3B; false (link unchanged) when it holds no key.
  bool Accept(const Bytes& reply);
  // On a link that is already encrypted the agent re-keys before it replies, so the reply to
  // a second 0x3B arrives under the very key it carries. Only the first 16 characters of a
  // key text key the cipher: "MM/DD/YYYY hh:mm" of the agent's local time. The workstation
  // tries the minutes around sentAt and keeps the one whose reply names that same minute.
  bool AcceptRekeyed(const Bytes& chunk, std::time_t sentAt);

  bool open() const { return open_; }
  const std::u16string& linkKey() const { return linkKey_; }

  // One length-suffixed ciphertext of the frame; empty when it cannot be encrypted.
  Bytes Encrypt(const Bytes& frame) const;
  // The plaintext of one received chunk; nullopt when it does not decrypt.
  std::optional<Bytes> Decrypt(const Bytes& chunk) const;

  // Makes ws encrypt every frame it sends and decrypt every reply it reads under the
  // current key (a later re-key needs another Attach).
  void Attach(Workstation& ws) const;

 private:
  void Key(const std::u16string& linkKey);

  std::u16string preSharedKey_;
  std::u16string linkKey_;
  CAESCryptoLibrary cipher_;
  bool open_ = false;
};

// Sends 0x3B over ws, keys link from the reply and attaches it to ws. On a link that is
// already encrypted the request leaves under the old key and the reply is taken as
// AcceptRekeyed does. False when no usable reply came.
bool OpenSecureLink(Workstation& ws, SecureLink& link, int timeoutMs = 5000);

}  // namespace perimo::workstation
