// AES with the ARMv8 crypto extensions. AESE/AESD add the round key before substituting, so
// the round keys shift by one against AES-NI: the last round ends with a plain XOR. The
// decryption keys of the equivalent inverse cipher work unchanged with AESD and AESIMC.
#include "security/aes_instructions.h"

#if defined(__aarch64__)
#include <arm_neon.h>

#define PERIMO_AES_TARGET __attribute__((target("+crypto")))

namespace perimo::aeshw {
namespace {

// Eight blocks in flight hide the latency of the round instructions; with the key schedule
// they fit in the 32 vector registers.
constexpr size_t kLanes = 8;

template <bool Encrypting>
inline PERIMO_AES_TARGET uint8x16_t Round(uint8x16_t b, uint8x16_t k) {
  if constexpr (Encrypting) return vaesmcq_u8(vaeseq_u8(b, k));
  return vaesimcq_u8(vaesdq_u8(b, k));
}

template <bool Encrypting>
inline PERIMO_AES_TARGET uint8x16_t LastRound(uint8x16_t b, uint8x16_t k, uint8x16_t last) {
  if constexpr (Encrypting) return veorq_u8(vaeseq_u8(b, k), last);
  return veorq_u8(vaesdq_u8(b, k), last);
}

template <int Rounds, bool Encrypting>
PERIMO_AES_TARGET void RunEcb(const uint8_t (*roundKeys)[16], const uint8_t* in, uint8_t* out,
                              size_t blocks) {
  uint8x16_t key[Rounds + 1];
#pragma GCC unroll 16
  for (int r = 0; r <= Rounds; ++r) key[r] = vld1q_u8(roundKeys[r]);
  size_t i = 0;
  for (; i + kLanes <= blocks; i += kLanes) {
    uint8x16_t b[kLanes];
#pragma GCC unroll 8
    for (size_t j = 0; j < kLanes; ++j) b[j] = vld1q_u8(in + 16 * (i + j));
#pragma GCC unroll 16
    for (int r = 0; r < Rounds - 1; ++r) {
#pragma GCC unroll 8
      for (size_t j = 0; j < kLanes; ++j) b[j] = Round<Encrypting>(b[j], key[r]);
    }
#pragma GCC unroll 8
    for (size_t j = 0; j < kLanes; ++j)
      vst1q_u8(out + 16 * (i + j), LastRound<Encrypting>(b[j], key[Rounds - 1], key[Rounds]));
  }
  for (; i < blocks; ++i) {
    uint8x16_t b = vld1q_u8(in + 16 * i);
#pragma GCC unroll 16
    for (int r = 0; r < Rounds - 1; ++r) b = Round<Encrypting>(b, key[r]);
    vst1q_u8(out + 16 * i, LastRound<Encrypting>(b, key[Rounds - 1], key[Rounds]));
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
