#pragma once
// The 4-byte file error cause told to the workstation, from errno.
#include <cstdint>

namespace perimo::platform {

enum FileErrorCauseValue : uint32_t {
  kCauseNone = 0,
  kCauseGeneric = 1,
  kCauseFileNotFound = 2,
  kCauseBadPath = 3,
  kCauseTooManyOpenFiles = 4,
  kCauseAccessDenied = 5,
  kCauseInvalidHandle = 6,
  kCauseRemoveCurrentDir = 7,
  kCauseDirectoryFull = 8,
  kCauseSeekFailed = 9,
  kCauseHardwareIo = 10,
  kCauseSharingViolation = 11,
  kCauseLockViolation = 12,
  kCauseDiskFull = 13,
  kCauseEndOfFile = 14,
};

// Always one of the values above; an errno without a nearer cause (0 included) is generic.
uint32_t FileErrorCause(int err);

}  // namespace perimo::platform
