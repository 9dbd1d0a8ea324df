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
  if (UseShaNi()) {
    sha1::CompressShaNi(state, data, blocks);
  } else {
    sha1::CompressPortable(state, data, blocks);
  }
}

}  // namespace

namespace sha1 {

void CompressPortable(uint32_t state[5], const uint8_t* data, size_t blocks) {
  for (size_t b = 0; b < blocks; ++b, data += 64) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
      w[i] = (uint32_t{data[4 * i]} << 24) | (uint32_t{data[4 * i + 1]} << 16) |
             (uint32_t{data[4 * i + 2]} << 8) | data[4 * i + 3];
    }
    for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = state[0], bb = state[1], c = state[2], d = state[3], e = state[4];
    for (int i = 0; i < 80; ++i) {
      uint32_t f, k;
      if (i < 20) {
        f = (bb & c) | (~bb & d);
        k = 0x5A827999;
      } else if (i < 40) {
        f = bb ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (i < 60) {
        f = (bb & c) | (bb & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = bb ^ c ^ d;
        k = 0xCA62C1D6;
      }
      const uint32_t t = Rotl(a, 5) + f + e + k + w[i];
      e = d;
      d = c;
      c = Rotl(bb, 30);
      bb = a;
      a = t;
    }
    state[0] += a;
    state[1] += bb;
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
