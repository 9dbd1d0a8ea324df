#include "security/aes_crypto_library.h"

#include <cstring>

namespace perimo {
namespace {

void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

int32_t LoadLe32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t{p[i]} << (8 * i);
  return static_cast<int32_t>(v);
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

}  // namespace

CAESCryptoLibrary::CAESCryptoLibrary(std::u16string_view keyText, bool rawMode)
    : rawMode_(rawMode) {
  SetKey(keyText);
}

CAESCryptoLibrary& CAESCryptoLibrary::operator=(const CAESCryptoLibrary& other) {
  if (this != &other) {
    blockSize_ = other.blockSize_;
    SetKey(other.keyText_);
  }
  return *this;
}

std::array<uint8_t, CAESCryptoLibrary::kKeyBytes> CAESCryptoLibrary::DeriveKey(
    std::u16string_view keyText) {
  std::array<uint8_t, kKeyBytes> key{};
  size_t filled = 0;
  for (char16_t unit : keyText) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(unit), static_cast<uint8_t>(unit >> 8)};
    for (uint8_t b : bytes) {
      if (b != 0 && filled < key.size()) key[filled++] = b;
    }
    if (filled == key.size()) break;
  }
  return key;
}

void CAESCryptoLibrary::SetKey(std::u16string_view keyText) {
  keyText_.assign(keyText.substr(0, kMaxKeyTextChars));
  const auto key = DeriveKey(keyText_);
  const uint8_t zeroChain[kBlockSize] = {};
  engine_.MakeKey(key.data(), zeroChain, static_cast<int>(kKeyBytes), kBlockSize);
}

int64_t CAESCryptoLibrary::SuffixedLength(int64_t plainLength) {
  if (plainLength < 0 || plainLength > INT32_MAX - 4 - kBlockSize) return -1;
  return (plainLength + 4 + kBlockSize - 1) / kBlockSize * kBlockSize;
}

int64_t CAESCryptoLibrary::EncryptInto(const uint8_t* plain, size_t length, uint8_t* out,
                                       size_t capacity) const {
  if (out == nullptr || (plain == nullptr && length > 0)) return 0;
  if (rawMode_) {
    if (length % kBlockSize != 0 || capacity < length) return 0;
    if (length > 0 && out != plain) std::memmove(out, plain, length);
    if (engine_.EncryptEcb(out, out, length) != RijndaelStatus::kOk) return 0;
    return static_cast<int64_t>(length);
  }
  if (length > static_cast<size_t>(INT32_MAX)) return 0;
  const int64_t total = SuffixedLength(static_cast<int64_t>(length));
  if (total < 0 || capacity < static_cast<size_t>(total)) return 0;
  const size_t n = static_cast<size_t>(total);
  if (length > 0 && out != plain) std::memmove(out, plain, length);
  std::memset(out + length, 0, n - length - 4);
  StoreLe32(out + n - 4, static_cast<uint32_t>(length));
  if (engine_.EncryptEcb(out, out, n) != RijndaelStatus::kOk) return 0;
  return total;
}

int64_t CAESCryptoLibrary::DecryptInPlace(uint8_t* buffer, size_t length) const {
  if (buffer == nullptr || length == 0 || length % kBlockSize != 0) return -1;
  if (engine_.DecryptEcb(buffer, buffer, length) != RijndaelStatus::kOk) return -1;
  if (rawMode_) return static_cast<int64_t>(length);
  const int32_t plain = LoadLe32(buffer + length - 4);
  if (plain < 0 || static_cast<size_t>(plain) > length) return -1;
  return plain;
}

bool CAESCryptoLibrary::Encrypt(std::span<const uint8_t> plain, std::vector<uint8_t>& out) const {
  out.clear();
  if (rawMode_) {
    if (plain.size() % kBlockSize != 0) return false;
    out.resize(plain.size());
  } else {
    const int64_t total = plain.size() > static_cast<size_t>(INT32_MAX)
                              ? -1
                              : SuffixedLength(static_cast<int64_t>(plain.size()));
    if (total < 0) return false;
    out.resize(static_cast<size_t>(total));
  }
  if (out.empty()) return true;
  if (EncryptInto(plain.data(), plain.size(), out.data(), out.size()) <= 0) {
    out.clear();
    return false;
  }
  return true;
}

bool CAESCryptoLibrary::Decrypt(std::span<const uint8_t> cipher, std::vector<uint8_t>& out) const {
  out.assign(cipher.begin(), cipher.end());
  const int64_t plain = DecryptInPlace(out.data(), out.size());
  if (plain < 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<size_t>(plain));
  return true;
}

std::u16string CAESCryptoLibrary::EncryptToHex(std::u16string_view text) const {
  std::vector<uint8_t> bytes;
  bytes.reserve((text.size() + 1) * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  std::vector<uint8_t> cipher;
  if (!Encrypt(bytes, cipher)) return std::u16string(text);
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string hex;
  hex.reserve(cipher.size() * 2);
  for (uint8_t b : cipher) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 0x0F]);
  }
  return hex;
}

std::u16string CAESCryptoLibrary::DecryptFromHex(std::u16string_view hex) const {
  std::vector<uint8_t> cipher;
  cipher.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::u16string(hex);
    cipher.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  std::vector<uint8_t> plain;
  if (!Decrypt(cipher, plain) || plain.size() < 2) return std::u16string(hex);
  plain[plain.size() - 1] = 0;
  plain[plain.size() - 2] = 0;
  std::u16string text;
  for (size_t i = 0; i + 1 < plain.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(plain[i] | (plain[i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

}  // namespace perimo
