#pragma once
// CAESCryptoLibrary: AES-128 in ECB mode keyed from a text, with the length-suffixed block
// layout the link uses, and hexadecimal text forms.
//
// Length-suffixed layout (raw mode off) for a plaintext of L bytes: the plaintext, zero
// bytes, then L as a 32-bit signed little-endian number in the last 4 bytes; n, the total,
// is the smallest multiple of 16 that is at least L + 4 (L = 12 gives 16, L = 13 gives 32).
// In raw mode the plaintext must already be whole 16-byte blocks and is encrypted as it is.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "security/rijndael.h"

namespace perimo {

class CAESCryptoLibrary {
 public:
  static constexpr int kBlockSize = 16;
  static constexpr size_t kKeyBytes = 16;
  static constexpr size_t kMaxKeyTextChars = 512;

  CAESCryptoLibrary() : CAESCryptoLibrary(std::u16string_view{}) {}
  explicit CAESCryptoLibrary(std::u16string_view keyText, bool rawMode = false);
  CAESCryptoLibrary(const CAESCryptoLibrary&) = default;
  // Takes the other key text and re-keys; this object's raw mode stays as it was.
  CAESCryptoLibrary& operator=(const CAESCryptoLibrary& other);

  // Key bytes: the non-zero bytes of the text's UTF-16LE form, the first 16 of them, padded
  // with zero bytes to 16. The empty text gives the all-zero key.
  void SetKey(std::u16string_view keyText);
  static std::array<uint8_t, kKeyBytes> DeriveKey(std::u16string_view keyText);

  // Ciphertext length for a plaintext of L bytes (raw mode off); -1 when it would not fit
  // a 32-bit length.
  static int64_t SuffixedLength(int64_t plainLength);

  bool Encrypt(std::span<const uint8_t> plain, std::vector<uint8_t>& out) const;
  bool Decrypt(std::span<const uint8_t> cipher, std::vector<uint8_t>& out) const;

  // Buffer forms. EncryptInto writes into out (capacity bytes; may be the plaintext's own
  // buffer) and returns the ciphertext length, 0 on failure. DecryptInPlace returns the
  // plaintext length, left at the start of the buffer, or -1 when the bytes do not decrypt.
  int64_t EncryptInto(const uint8_t* plain, size_t length, uint8_t* out, size_t capacity) const;
  int64_t DecryptInPlace(uint8_t* buffer, size_t length) const;

  // Ciphertext of the text's UTF-16LE units and a terminating 0 unit, as upper-case
  // hexadecimal; the text itself when encryption fails.
  std::u16string EncryptToHex(std::u16string_view text) const;
  // Inverse of EncryptToHex; the input itself when it does not decrypt.
  std::u16string DecryptFromHex(std::u16string_view hex) const;

  const std::u16string& KeyText() const { return keyText_; }
  bool RawMode() const { return rawMode_; }

 private:
  CRijndael engine_;
  std::u16string keyText_;
  bool rawMode_ = false;
  int blockSize_ = kBlockSize;
};

}  // namespace perimo
