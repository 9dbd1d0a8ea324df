#include "platform/file_time.h"

#include <algorithm>
#include <cstdint>

namespace perimo::platform {

namespace {

constexpr int64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns

// The local time zone's offset from UTC now, in seconds east.
int64_t CurrentBias() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return local.tm_gmtoff;
}

FileTime AddSeconds(FileTime ft, int64_t seconds) {
  const int64_t delta = seconds * kTicksPerSecond;
  if (delta < 0 && ft < static_cast<uint64_t>(-delta)) return 0;
  return ft + static_cast<uint64_t>(delta);
}

}  // namespace

FileTime FileTimeFromUnix(const timespec& t) {
  constexpr int64_t kMaxSeconds = INT64_MAX / kTicksPerSecond - 1;
  if (t.tv_sec > kMaxSeconds) return UINT64_MAX;
  const int64_t ticks = static_cast<int64_t>(t.tv_sec) * kTicksPerSecond + t.tv_nsec / 100;
  if (ticks < -static_cast<int64_t>(kFileTimeUnixEpoch)) return 0;  // before 1601
  return kFileTimeUnixEpoch + static_cast<uint64_t>(ticks);
}

timespec UnixFromFileTime(FileTime ft) {
  const int64_t ticks =
      ft >= kFileTimeUnixEpoch
          ? static_cast<int64_t>(std::min<uint64_t>(ft - kFileTimeUnixEpoch, INT64_MAX))
          : -static_cast<int64_t>(kFileTimeUnixEpoch - ft);
  int64_t seconds = ticks / kTicksPerSecond;
  int64_t rest = ticks % kTicksPerSecond;
  if (rest < 0) {
    rest += kTicksPerSecond;
    --seconds;
  }
  timespec t{};
  t.tv_sec = static_cast<time_t>(seconds);
  t.tv_nsec = static_cast<long>(rest * 100);
  return t;
}

FileTime LocalFileTimeToFileTime(FileTime local) {
  return AddSeconds(local, -CurrentBias());
}

FileTime FileTimeToLocalFileTime(FileTime utc) {
  return AddSeconds(utc, CurrentBias());
}

}  // namespace perimo::platform
