// SHA-1 compression with the ARMv8 crypto extensions: four rounds per instruction, the
// message schedule computed four words at a time in a ring of four vectors.
#include "security/sha1.h"

#if defined(__aarch64__)
#include <arm_neon.h>

#define PERIMO_SHA_TARGET __attribute__((target("+crypto")))

namespace perimo::sha1 {
namespace {

constexpr uint32_t kRoundConstants[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};

// Rounds 4g .. 4g+3 of one block; g / 5 selects the round function.
inline PERIMO_SHA_TARGET uint32x4_t Rounds(int g, uint32x4_t abcd, uint32_t e, uint32x4_t wk) {
  switch (g / 5) {
    case 0:
      return vsha1cq_u32(abcd, e, wk);
    case 2:
      return vsha1mq_u32(abcd, e, wk);
    default:
      return vsha1pq_u32(abcd, e, wk);
  }
}

}  // namespace

PERIMO_SHA_TARGET void CompressAccelerated(uint32_t state[5], const uint8_t* data, size_t blocks) {
  uint32x4_t k[4];
  for (int i = 0; i < 4; ++i) k[i] = vdupq_n_u32(kRoundConstants[i]);
  uint32x4_t abcd = vld1q_u32(state);
  uint32_t e0 = state[4];
  for (size_t b = 0; b < blocks; ++b, data += 64) {
    const uint32x4_t abcdSaved = abcd;
    uint32x4_t msg[4];
    for (int i = 0; i < 4; ++i) msg[i] = vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(data + 16 * i)));
    uint32_t e = e0;
#pragma GCC unroll 20
    for (int g = 0; g < 20; ++g) {
      if (g >= 4) {
        // Group g replaces group g - 4 from groups g - 4 .. g - 1.
        msg[g % 4] = vsha1su1q_u32(vsha1su0q_u32(msg[g % 4], msg[(g + 1) % 4], msg[(g + 2) % 4]),
                                   msg[(g + 3) % 4]);
      }
      // Four rounds on, E is the rotated A of now.
      const uint32_t eNext = vsha1h_u32(vgetq_lane_u32(abcd, 0));
      abcd = Rounds(g, abcd, e, vaddq_u32(msg[g % 4], k[g / 5]));
      e = eNext;
    }
    abcd = vaddq_u32(abcd, abcdSaved);
    e0 += e;
  }
  vst1q_u32(state, abcd);
  state[4] = e0;
}

}  // namespace perimo::sha1

#endif
