#include "progress.h"

#include <cstdio>

namespace perimo::ws {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBarWidth = 24;

}  // namespace

std::string HumanBytes(double bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
  return text;
}

TransferBar::TransferBar(bool enabled, std::string label, uint64_t total)
    : enabled_(enabled), label_(std::move(label)), total_(total), start_(Clock::now()) {}

TransferBar::~TransferBar() {
  Finish();
}

void TransferBar::Update(uint64_t done) {
  if (!enabled_) return;
  const auto now = Clock::now();
  // A tenth of a second between redraws keeps the terminal cheap.
  if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100) && done < total_) return;
  lastDraw_ = now;
  drawn_ = true;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  const int permille = total_ ? static_cast<int>(done * 1000 / total_) : 1000;
  char bar[kBarWidth + 1];
  const int filled = permille * kBarWidth / 1000;
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  const long left = rate > 0 ? static_cast<long>(static_cast<double>(total_ - done) / rate) : 0;
  std::fprintf(stderr, "\r\033[K%s [%s] %3d%%  %s / %s  %s/s  %ld:%02ld left", label_.c_str(), bar,
               permille / 10, HumanBytes(static_cast<double>(done)).c_str(),
               HumanBytes(static_cast<double>(total_)).c_str(), HumanBytes(rate).c_str(), left / 60,
               left % 60);
  std::fflush(stderr);
}

void TransferBar::Finish() {
  if (!enabled_ || !drawn_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace perimo::ws
