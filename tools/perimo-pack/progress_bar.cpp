#include "progress_bar.h"

#include <unistd.h>

#include <cstdio>

namespace perimo::pack {
namespace {

// Smaller files finish before a bar would be seen.
constexpr uint64_t kShowFrom = 4u << 20;
constexpr int kBarWidth = 30;

}  // namespace

ProgressBar::ProgressBar(std::string label, uint64_t total)
    : label_(std::move(label)), total_(total), shown_(total >= kShowFrom && ::isatty(2) == 1) {}

ProgressBar::~ProgressBar() {
  Finish();
}

void ProgressBar::Update(uint64_t done) {
  if (!shown_ || total_ == 0) return;
  const int permille = static_cast<int>(done * 1000 / total_);
  if (permille == lastPermille_) return;
  lastPermille_ = permille;
  char bar[kBarWidth + 1];
  const int filled = permille * kBarWidth / 1000;
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  std::fprintf(stderr, "\r%s [%s] %3d%%  %.1f / %.1f MiB", label_.c_str(), bar, permille / 10,
               static_cast<double>(done) / (1 << 20), static_cast<double>(total_) / (1 << 20));
  std::fflush(stderr);
}

void ProgressBar::Finish() {
  if (!shown_ || lastPermille_ < 0) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  lastPermille_ = -1;
}

}  // namespace perimo::pack
