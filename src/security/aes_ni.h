#pragma once
// AES on 16-byte blocks with the processor's AES instructions. Only call these when
// UseAesNi() is true. Round keys are rounds + 1 blocks in the byte order of FIPS-197; the
// decryption keys are those of the equivalent inverse cipher, first round first.
#include <cstddef>
#include <cstdint>

namespace perimo::aesni {

void EncryptEcb(const uint8_t (*roundKeys)[16], int rounds, const uint8_t* in, uint8_t* out,
                size_t blocks);
void DecryptEcb(const uint8_t (*roundKeys)[16], int rounds, const uint8_t* in, uint8_t* out,
                size_t blocks);

}  // namespace perimo::aesni
