#pragma once
// The 4-byte file error cause told to the workstation, from errno.
#include <cstdint>

namespace perimo::platform {

uint32_t FileErrorCause(int err);

}  // namespace perimo::platform
