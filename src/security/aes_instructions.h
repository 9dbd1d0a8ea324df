#pragma once
// AES on 16-byte blocks with the processor's AES instructions (AES-NI on x86, the ARMv8
// crypto extensions on 64-bit ARM). Only call these when UseAesInstructions() is true. Round
// keys are rounds + 1 blocks in the byte order of FIPS-197; the decryption keys are those of
// the equivalent inverse cipher, first round first.
#include <cstddef>
#include <cstdint>

namespace perimo::aeshw {

#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__)
void EncryptEcb(const uint8_t (*roundKeys)[16], int rounds, const uint8_t* in, uint8_t* out,
                size_t blocks);
void DecryptEcb(const uint8_t (*roundKeys)[16], int rounds, const uint8_t* in, uint8_t* out,
                size_t blocks);
#else
// Never called: UseAesInstructions() is false on other processors.
inline void EncryptEcb(const uint8_t (*)[16], int, const uint8_t*, uint8_t*, size_t) {}
inline void DecryptEcb(const uint8_t (*)[16], int, const uint8_t*, uint8_t*, size_t) {}
#endif

}  // namespace perimo::aeshw
