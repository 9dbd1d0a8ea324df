#include "security/cpu_features.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace perimo {
namespace {

CpuFeatures Probe() {
  CpuFeatures features;
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return features;
  const bool ssse3 = ecx & (1u << 9);
  const bool sse41 = ecx & (1u << 19);
  const bool aes = ecx & (1u << 25);
  features.aesNi = aes && sse41;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
    const bool sha = ebx & (1u << 29);
    features.shaNi = sha && ssse3 && sse41;
  }
#endif
  return features;
}

std::atomic<bool> accelerationEnabled{true};

}  // namespace

const CpuFeatures& DetectedCpuFeatures() {
  static const CpuFeatures features = Probe();
  return features;
}

bool UseAesNi() {
  return DetectedCpuFeatures().aesNi && accelerationEnabled.load(std::memory_order_relaxed);
}

bool UseShaNi() {
  return DetectedCpuFeatures().shaNi && accelerationEnabled.load(std::memory_order_relaxed);
}

void SetCryptoAccelerationEnabled(bool enabled) {
  accelerationEnabled.store(enabled, std::memory_order_relaxed);
}

}  // namespace perimo
