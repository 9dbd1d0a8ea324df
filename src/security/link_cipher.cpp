#include "security/link_cipher.h"

namespace perimo {

int32_t LinkCipher::EncryptedLength(int32_t length) {
  const int64_t n = SuffixedLength(length);
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

int32_t LinkCipher::EncryptFrame(const uint8_t* reply, int32_t length, uint8_t* out,
                                 int32_t capacity) const {
  if (length < 0 || capacity <= 0) return 0;
  const int64_t n =
      EncryptInto(reply, static_cast<size_t>(length), out, static_cast<size_t>(capacity));
  return n > 0 ? static_cast<int32_t>(n) : 0;
}

std::vector<uint8_t> LinkCipher::EncryptFrame(std::span<const uint8_t> reply) const {
  std::vector<uint8_t> out;
  if (!Encrypt(reply, out)) out.clear();
  return out;
}

int32_t LinkCipher::DecryptFrame(uint8_t* buffer, int32_t length) const {
  if (buffer == nullptr || length <= 0) return 0;
  const int64_t n = DecryptInPlace(buffer, static_cast<size_t>(length));
  return n > 0 ? static_cast<int32_t>(n) : 0;
}

}  // namespace perimo
