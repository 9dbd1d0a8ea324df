#pragma once
// CSHA1: the SHA-1 digest (FIPS 180-1), used to report the digest of a file on the target.
// Uses the processor's SHA instructions when present; the portable rounds give the same
// digest.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace perimo {

class CSHA1 {
 public:
  static constexpr size_t kDigestSize = 20;
  using Digest = std::array<uint8_t, kDigestSize>;

  CSHA1() { Reset(); }

  void Reset();
  void Update(const uint8_t* data, size_t length);
  void Update(std::span<const uint8_t> data) { Update(data.data(), data.size()); }
  // Pads, stores and returns the digest; Reset before hashing anew.
  const Digest& Final();
  const Digest& GetHash() const { return digest_; }

  // Reset, the whole file, Final. False when it cannot be opened or read or is not a
  // regular file.
  bool HashFile(const std::string& nativePath);

  static Digest Hash(std::span<const uint8_t> data);

 private:
  uint32_t state_[5] = {};
  uint64_t totalBytes_ = 0;
  uint8_t pending_[64] = {};
  size_t pendingCount_ = 0;
  Digest digest_{};
};

namespace sha1 {
// The compression function over whole 64-byte blocks, portable and with the processor's SHA-1
// instructions (the SHA extensions on x86, the ARMv8 crypto extensions on 64-bit ARM).
void CompressPortable(uint32_t state[5], const uint8_t* data, size_t blocks);
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__)
void CompressAccelerated(uint32_t state[5], const uint8_t* data, size_t blocks);
#else
// Never called: UseSha1Instructions() is false on other processors.
inline void CompressAccelerated(uint32_t state[5], const uint8_t* data, size_t blocks) {
  CompressPortable(state, data, blocks);
}
#endif
}  // namespace sha1

}  // namespace perimo
