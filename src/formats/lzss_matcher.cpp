#include "formats/lzss_matcher.h"

#include <cstring>

namespace perimo {
namespace {

uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) word = __builtin_bswap64(word);
  return word;
}

static_assert(kLzssLookAhead == 17, "CommonPrefix compares two words and one byte");

// Length of the common start of two look-ahead strings, up to kLzssLookAhead.
int CommonPrefix(const uint8_t* a, const uint8_t* b) {
  for (int at = 0; at < 16; at += 8) {
    const uint64_t diff = LoadBigEndian64(a + at) ^ LoadBigEndian64(b + at);
    if (diff != 0) return at + __builtin_clzll(diff) / 8;
  }
  return a[16] == b[16] ? kLzssLookAhead : 16;
}

}  // namespace

LzssMatcher::LzssMatcher() {
  std::memset(window_, 0, sizeof window_);
  std::memset(head_, 0, sizeof head_);
  std::memset(previous_, 0, sizeof previous_);
}

void LzssMatcher::Set(unsigned position, uint8_t byte) {
  position &= kLzssWindowMask;
  window_[position] = byte;
  if (position < static_cast<unsigned>(kLzssLookAhead)) window_[kLzssWindowSize + position] = byte;
}

void LzssMatcher::InsertNext() {
  const uint32_t number = ++inserted_;
  const unsigned slot = number & kLzssWindowMask;
  if (slot == 0) return;
  uint32_t& head = head_[Key(slot)];
  previous_[slot] = head;
  head = number;
}

int LzssMatcher::LongestForNext(int* matchPosition) const {
  const uint32_t number = inserted_ + 1;
  const uint8_t* fresh = &window_[number & kLzssWindowMask];
  int best = 0;
  uint32_t candidate = head_[Key(number & kLzssWindowMask)];
  for (int tries = 0; candidate != 0 && number - candidate <= kReach && tries < kMaxCandidates;
       ++tries) {
    const unsigned slot = candidate & kLzssWindowMask;
    const int length = CommonPrefix(fresh, &window_[slot]);
    if (length > best) {
      best = length;
      *matchPosition = static_cast<int>(slot);
      if (best == kLzssLookAhead) break;
    }
    candidate = previous_[slot];
  }
  return best;
}

}  // namespace perimo
