#pragma once
// A one-line transfer bar on standard error: bytes, rate and time left. Drawn only when
// enabled (standard error is a terminal and no machine-readable output was asked for).
#include <chrono>
#include <cstdint>
#include <string>

namespace perimo::ws {

class TransferBar {
 public:
  TransferBar(bool enabled, std::string label, uint64_t total);
  ~TransferBar();
  void Update(uint64_t done);
  void Finish();

 private:
  bool enabled_;
  std::string label_;
  uint64_t total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_{};
  bool drawn_ = false;
};

// "12.3 MiB" and the like.
std::string HumanBytes(double bytes);

}  // namespace perimo::ws
