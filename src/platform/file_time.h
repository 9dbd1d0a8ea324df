#pragma once
// Windows FILETIME (100 ns units since 1601-01-01 UTC) and conversions.
#include <cstdint>
#include <ctime>

namespace perimo::platform {

using FileTime = uint64_t;

constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;  // 1970-01-01 as FILETIME

FileTime FileTimeFromUnix(const timespec& t);
timespec UnixFromFileTime(FileTime ft);
// Local time to universal time and back, as Windows converts them: with the current bias
// of the time zone (daylight saving as it is now), not the bias at that date.
FileTime LocalFileTimeToFileTime(FileTime local);
FileTime FileTimeToLocalFileTime(FileTime utc);

}  // namespace perimo::platform
