#pragma once
// Milliseconds left until a deadline, for the blocking calls' poll time-outs.
#include <chrono>

namespace perimo::workstation {

using Clock = std::chrono::steady_clock;

inline int Remaining(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace perimo::workstation
