#pragma once
// A one-line progress bar on standard error, drawn only when that is a terminal and the
// work is long enough to be worth watching.
#include <cstdint>
#include <string>

namespace perimo::pack {

class ProgressBar {
 public:
  ProgressBar(std::string label, uint64_t total);
  ~ProgressBar();
  void Update(uint64_t done);
  // Clears the line.
  void Finish();

 private:
  std::string label_;
  uint64_t total_;
  bool shown_;
  int lastPermille_ = -1;
};

}  // namespace perimo::pack
