#pragma once
// LinkCipher: the AES key of the TCP link, held once by the agent. It starts keyed with the
// empty key text (sixteen zero bytes); command 0x3B replaces it with a fresh link key.
//
// While security is on and the secure link is open, the TCP connection passes every
// received chunk through DecryptFrame before dispatch and every reply through EncryptFrame
// before framing. Each chunk is one length-suffixed ciphertext (see aes_crypto_library.h):
// whole 16-byte AES-128-ECB blocks whose last 4 plaintext bytes hold the true length.
#include <cstdint>
#include <span>
#include <vector>

#include "security/aes_crypto_library.h"

namespace perimo {

// The pre-shared key text (setting InternalKey of section Protection) when the settings name
// none; the workstation holds the same text.
inline constexpr char16_t kDefaultInternalKey[] = u"5b2e0c71-4d9a-4e3f-8c61-27a0f4d9b3e8";

class LinkCipher : public CAESCryptoLibrary {
 public:
  using CAESCryptoLibrary::CAESCryptoLibrary;
  LinkCipher& operator=(const CAESCryptoLibrary& other) {
    CAESCryptoLibrary::operator=(other);
    return *this;
  }

  // Bytes EncryptFrame needs for a reply of `length` bytes: the next multiple of 16 that is
  // at least length + 4. 0 when length is negative or too large.
  static int32_t EncryptedLength(int32_t length);

  // Encrypts `length` bytes of `reply` into `out`, which holds `capacity` bytes (out may be
  // reply itself when the buffer is large enough). Returns the number of bytes to send, or
  // 0 when the reply cannot be encrypted: then nothing must be sent.
  int32_t EncryptFrame(const uint8_t* reply, int32_t length, uint8_t* out, int32_t capacity) const;
  // Convenience form; an empty vector means nothing must be sent.
  std::vector<uint8_t> EncryptFrame(std::span<const uint8_t> reply) const;

  // Decrypts the `length` received bytes in place; the plaintext frame is then the first
  // (returned) bytes of `buffer`. Returns 0 when the bytes do not decrypt (not whole blocks,
  // or a length field that is negative or larger than the chunk) or the frame is empty:
  // the chunk is then dropped without a reply. Never touches bytes past buffer[length - 1].
  int32_t DecryptFrame(uint8_t* buffer, int32_t length) const;
};

}  // namespace perimo
