#include "platform/tick.h"

#include <atomic>
#include <ctime>

namespace perimo::platform {

namespace {

std::atomic<TickSource> testSource{nullptr};

}  // namespace

uint32_t GetTickCount() {
  if (const TickSource source = testSource.load(std::memory_order_acquire)) return source();
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Milliseconds cut to 32 bits wrap exactly as the Windows count does.
  const uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SetTickSourceForTesting(TickSource source) {
  testSource.store(source, std::memory_order_release);
}

}  // namespace perimo::platform
