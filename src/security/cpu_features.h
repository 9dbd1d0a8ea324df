#pragma once
// Which instruction-set extensions the cipher and digest may use, decided once at run time.
// Every accelerated routine has a portable twin giving identical results; tests switch the
// accelerated ones off to exercise the twins.
namespace perimo {

struct CpuFeatures {
  bool aesNi = false;  // AES-NI with SSE4.1
  bool shaNi = false;  // SHA extensions with SSSE3 and SSE4.1
};

// What this processor offers.
const CpuFeatures& DetectedCpuFeatures();

// What the code may use now: the detected features unless acceleration was switched off.
bool UseAesNi();
bool UseShaNi();

// Off: every later call takes the portable path (for tests and benchmarks).
void SetCryptoAccelerationEnabled(bool enabled);

}  // namespace perimo
