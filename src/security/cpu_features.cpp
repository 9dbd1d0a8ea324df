#include "security/cpu_features.h"

#include <atomic>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#elif defined(__aarch64__) && defined(__linux__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace perimo {
namespace {

CpuFeatures Probe() {
  CpuFeatures features;
  const char* off = std::getenv("PERIMO_NO_CRYPTO_INSTRUCTIONS");
  if (off != nullptr && *off != '\0') return features;
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return features;
  const bool ssse3 = ecx & (1u << 9);
  const bool sse41 = ecx & (1u << 19);
  const bool aes = ecx & (1u << 25);
  features.aes = aes && sse41;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
    const bool sha = ebx & (1u << 29);
    features.sha1 = sha && ssse3 && sse41;
  }
#elif defined(__aarch64__) && defined(__linux__)
  // The kernel reports the optional ARMv8 crypto extensions; many cores used in panel PCs
  // are built without them.
  const unsigned long hwcap = getauxval(AT_HWCAP);
  features.aes = (hwcap & HWCAP_AES) != 0;
  features.sha1 = (hwcap & HWCAP_SHA1) != 0;
#endif
  return features;
}

std::atomic<bool> accelerationEnabled{true};

}  // namespace

const CpuFeatures& DetectedCpuFeatures() {
  static const CpuFeatures features = Probe();
  return features;
}

bool UseAesInstructions() {
  return DetectedCpuFeatures().aes && accelerationEnabled.load(std::memory_order_relaxed);
}

bool UseSha1Instructions() {
  return DetectedCpuFeatures().sha1 && accelerationEnabled.load(std::memory_order_relaxed);
}

void SetCryptoAccelerationEnabled(bool enabled) {
  accelerationEnabled.store(enabled, std::memory_order_relaxed);
}

}  // namespace perimo
