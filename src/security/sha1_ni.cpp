// SHA-1 compression with the SHA instructions: four rounds per instruction, the message
// schedule computed four words at a time.
#include "security/sha1.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <utility>

#define PERIMO_SHA_TARGET __attribute__((target("sha,ssse3,sse4.1")))

namespace perimo::sha1 {
namespace {

struct Lanes {
  __m128i abcd;
  __m128i e[2];
  __m128i msg[4];
};

// Rounds 4g .. 4g+3. Message group g sits in msg[g % 4]; while it is current, it also
// advances the schedule of groups g+1 (sha1msg2), g+2 (xor) and g+3 (sha1msg1).
template <int G>
inline PERIMO_SHA_TARGET void Group(Lanes& s) {
  constexpr int cur = G % 4;
  constexpr int e = G % 2;
  if constexpr (G == 0) {
    s.e[0] = _mm_add_epi32(s.e[0], s.msg[0]);
  } else {
    s.e[e] = _mm_sha1nexte_epu32(s.e[e], s.msg[cur]);
  }
  s.e[1 - e] = s.abcd;
  if constexpr (G >= 3 && G <= 18) {
    s.msg[(G + 1) % 4] = _mm_sha1msg2_epu32(s.msg[(G + 1) % 4], s.msg[cur]);
  }
  s.abcd = _mm_sha1rnds4_epu32(s.abcd, s.e[e], G / 5);
  if constexpr (G >= 1 && G <= 16) {
    s.msg[(G + 3) % 4] = _mm_sha1msg1_epu32(s.msg[(G + 3) % 4], s.msg[cur]);
  }
  if constexpr (G >= 2 && G <= 17) {
    s.msg[(G + 2) % 4] = _mm_xor_si128(s.msg[(G + 2) % 4], s.msg[cur]);
  }
}

template <int... G>
inline PERIMO_SHA_TARGET void AllGroups(Lanes& s, std::integer_sequence<int, G...>) {
  (Group<G>(s), ...);
}

}  // namespace

PERIMO_SHA_TARGET void CompressAccelerated(uint32_t state[5], const uint8_t* data, size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  Lanes s;
  s.abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (size_t b = 0; b < blocks; ++b, data += 64) {
    const __m128i abcdSaved = s.abcd;
    const __m128i eSaved = e0;
    for (int i = 0; i < 4; ++i) {
      s.msg[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)),
                                  byteSwap);
    }
    s.e[0] = e0;
    AllGroups(s, std::make_integer_sequence<int, 20>{});
    // After group 19, e[0] holds the ABCD that entered it: its A gives the next E.
    e0 = _mm_sha1nexte_epu32(s.e[0], eSaved);
    s.abcd = _mm_add_epi32(s.abcd, abcdSaved);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(s.abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

}  // namespace perimo::sha1

#endif
