#include "security/sha1.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "security/cpu_features.h"

namespace perimo {
namespace {

constexpr uint32_t Rotl(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

void Compress(uint32_t state[5], const uint8_t* data, size_t blocks) {
  if (blocks == 0) return;
  if (UseSha1Instructions()) {
    sha1::CompressAccelerated(state, data, blocks);
  } else {
    sha1::CompressPortable(state, data, blocks);
  }
}

}  // namespace

namespace sha1 {

namespace {

uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// The message schedule kept in a ring of sixteen words: word i replaces word i - 16.
struct Schedule {
  uint32_t w[16];
  uint32_t operator()(int i) {
    uint32_t& slot = w[i & 15];
    slot = Rotl(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ slot, 1);
    return slot;
  }
};

// One step with the five working words passed in rotated roles, so no step moves them: e
// takes the new value and b its rotation, the rest stay where they are.
template <int Kind>
inline void Step(uint32_t a, uint32_t& b, uint32_t c, uint32_t d, uint32_t& e, uint32_t w) {
  uint32_t f, k;
  if constexpr (Kind == 0) {
    f = d ^ (b & (c ^ d));
    k = 0x5A827999;
  } else if constexpr (Kind == 1) {
    f = b ^ c ^ d;
    k = 0x6ED9EBA1;
  } else if constexpr (Kind == 2) {
    f = (b & c) | (d & (b | c));
    k = 0x8F1BBCDC;
  } else {
    f = b ^ c ^ d;
    k = 0xCA62C1D6;
  }
  e += Rotl(a, 5) + f + k + w;
  b = Rotl(b, 30);
}

// Twenty steps of one kind: four rounds of the five rotated roles.
template <int Kind>
inline void Twenty(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e, Schedule& w,
                   int first) {
  for (int i = first; i < first + 20; i += 5) {
    Step<Kind>(a, b, c, d, e, i < 16 ? w.w[i] : w(i));
    Step<Kind>(e, a, b, c, d, i + 1 < 16 ? w.w[i + 1] : w(i + 1));
    Step<Kind>(d, e, a, b, c, i + 2 < 16 ? w.w[i + 2] : w(i + 2));
    Step<Kind>(c, d, e, a, b, i + 3 < 16 ? w.w[i + 3] : w(i + 3));
    Step<Kind>(b, c, d, e, a, i + 4 < 16 ? w.w[i + 4] : w(i + 4));
  }
}

}  // namespace

void CompressPortable(uint32_t state[5], const uint8_t* data, size_t blocks) {
  for (size_t block = 0; block < blocks; ++block, data += 64) {
    Schedule w;
    for (int i = 0; i < 16; ++i) w.w[i] = LoadBigEndian(data + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    Twenty<0>(a, b, c, d, e, w, 0);
    Twenty<1>(a, b, c, d, e, w, 20);
    Twenty<2>(a, b, c, d, e, w, 40);
    Twenty<3>(a, b, c, d, e, w, 60);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
  }
}

}  // namespace sha1

void CSHA1::Reset() {
  state_[0] = 0x67452301;
  state_[1] = 0xEFCDAB89;
  state_[2] = 0x98BADCFE;
  state_[3] = 0x10325476;
  state_[4] = 0xC3D2E1F0;
  totalBytes_ = 0;
  pendingCount_ = 0;
}

void CSHA1::Update(const uint8_t* data, size_t length) {
  if (length == 0) return;
  totalBytes_ += length;
  if (pendingCount_ > 0) {
    const size_t take = std::min(length, sizeof pending_ - pendingCount_);
    std::memcpy(pending_ + pendingCount_, data, take);
    pendingCount_ += take;
    data += take;
    length -= take;
    if (pendingCount_ < sizeof pending_) return;
    Compress(state_, pending_, 1);
    pendingCount_ = 0;
  }
  const size_t blocks = length / 64;
  Compress(state_, data, blocks);
  data += blocks * 64;
  length -= blocks * 64;
  std::memcpy(pending_, data, length);
  pendingCount_ = length;
}

const CSHA1::Digest& CSHA1::Final() {
  const uint64_t bits = totalBytes_ * 8;
  uint8_t tail[128] = {};
  std::memcpy(tail, pending_, pendingCount_);
  tail[pendingCount_] = 0x80;
  const size_t tailLength = pendingCount_ + 1 + 8 <= 64 ? 64 : 128;
  for (int i = 0; i < 8; ++i) tail[tailLength - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  Compress(state_, tail, tailLength / 64);
  for (int i = 0; i < 5; ++i) {
    digest_[4 * i] = static_cast<uint8_t>(state_[i] >> 24);
    digest_[4 * i + 1] = static_cast<uint8_t>(state_[i] >> 16);
    digest_[4 * i + 2] = static_cast<uint8_t>(state_[i] >> 8);
    digest_[4 * i + 3] = static_cast<uint8_t>(state_[i]);
  }
  pendingCount_ = 0;
  return digest_;
}

bool CSHA1::HashFile(const std::string& nativePath) {
  Reset();
  // Non-blocking and regular files only: a FIFO or a device such as /dev/zero would hold
  // up the agent's only thread for good.
  const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return false;
  }
  std::vector<uint8_t> buffer(1 << 16);
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    Update(buffer.data(), static_cast<size_t>(n));
  }
  ::close(fd);
  Final();
  return ok;
}

CSHA1::Digest CSHA1::Hash(std::span<const uint8_t> data) {
  CSHA1 sha;
  sha.Update(data);
  return sha.Final();
}

}  // namespace perimo
