#include "security/aes_instructions.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define PERIMO_AES_TARGET __attribute__((target("aes,sse4.1")))

namespace perimo::aeshw {
namespace {

// Eight blocks in flight hide the latency of the round instruction.
constexpr size_t kLanes = 8;

inline PERIMO_AES_TARGET __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline PERIMO_AES_TARGET void Store(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

template <bool Encrypting>
inline PERIMO_AES_TARGET __m128i Round(__m128i b, __m128i k) {
  if constexpr (Encrypting) return _mm_aesenc_si128(b, k);
  return _mm_aesdec_si128(b, k);
}

template <bool Encrypting>
inline PERIMO_AES_TARGET __m128i LastRound(__m128i b, __m128i k) {
  if constexpr (Encrypting) return _mm_aesenclast_si128(b, k);
  return _mm_aesdeclast_si128(b, k);
}

template <int Rounds, bool Encrypting>
PERIMO_AES_TARGET void RunEcb(const uint8_t (*roundKeys)[16], const uint8_t* in, uint8_t* out,
                              size_t blocks) {
  __m128i key[Rounds + 1];
#pragma GCC unroll 16
  for (int r = 0; r <= Rounds; ++r) key[r] = Load(roundKeys[r]);
  size_t i = 0;
  for (; i + kLanes <= blocks; i += kLanes) {
    __m128i b[kLanes];
#pragma GCC unroll 8
    for (size_t j = 0; j < kLanes; ++j) b[j] = _mm_xor_si128(Load(in + 16 * (i + j)), key[0]);
#pragma GCC unroll 16
    for (int r = 1; r < Rounds; ++r) {
#pragma GCC unroll 8
      for (size_t j = 0; j < kLanes; ++j) b[j] = Round<Encrypting>(b[j], key[r]);
    }
#pragma GCC unroll 8
    for (size_t j = 0; j < kLanes; ++j)
      Store(out + 16 * (i + j), LastRound<Encrypting>(b[j], key[Rounds]));
  }
  for (; i < blocks; ++i) {
    __m128i b = _mm_xor_si128(Load(in + 16 * i), key[0]);
#pragma GCC unroll 16
    for (int r = 1; r < Rounds; ++r) b = Round<Encrypting>(b, key[r]);
    Store(out + 16 * i, LastRound<Encrypting>(b, key[Rounds]));
  }
}

template <bool Encrypting>
void Dispatch(const uint8_t (*roundKeys)[16], int rounds, const uint8_t* in, uint8_t* out,
              size_t blocks) {
  switch (rounds) {
    case 10:
      RunEcb<10, Encrypting>(roundKeys, in, out, blocks);
      break;
    case 12:
      RunEcb<12, Encrypting>(roundKeys, in, out, blocks);
      break;
    case 14:
      RunEcb<14, Encrypting>(roundKeys, in, out, blocks);
      break;
    default:
      break;
  }
}

}  // namespace

void EncryptEcb(const uint8_t (*roundKeys)[16], int rounds, const uint8_t* in, uint8_t* out,
                size_t blocks) {
  Dispatch<true>(roundKeys, rounds, in, out, blocks);
}

void DecryptEcb(const uint8_t (*roundKeys)[16], int rounds, const uint8_t* in, uint8_t* out,
                size_t blocks) {
  Dispatch<false>(roundKeys, rounds, in, out, blocks);
}

}  // namespace perimo::aeshw

#endif
