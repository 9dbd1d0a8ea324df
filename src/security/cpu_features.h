#pragma once
// Which instruction-set extensions the cipher and digest may use, decided once at run time.
// Every accelerated routine has a portable twin giving identical results; tests switch the
// accelerated ones off to exercise the twins.
namespace perimo {

struct CpuFeatures {
  bool aes = false;   // x86: AES-NI with SSE4.1; 64-bit ARM: the ARMv8 AES instructions
  bool sha1 = false;  // x86: SHA extensions with SSSE3 and SSE4.1; 64-bit ARM: ARMv8 SHA-1
};

// What this processor offers; none when PERIMO_NO_CRYPTO_INSTRUCTIONS is set in the
// environment (a machine whose instructions misbehave, and runs of the portable code).
const CpuFeatures& DetectedCpuFeatures();

// What the code may use now: the detected features unless acceleration was switched off.
bool UseAesInstructions();
bool UseSha1Instructions();

// Off: every later call takes the portable path (for tests and benchmarks).
void SetCryptoAccelerationEnabled(bool enabled);

}  // namespace perimo
