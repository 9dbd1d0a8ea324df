#pragma once
// The 32-bit millisecond tick count used for every time-out; it wraps after 49.7 days like
// the Windows one. Tests may install their own source.
#include <cstdint>

namespace perimo::platform {

uint32_t GetTickCount();
using TickSource = uint32_t (*)();
void SetTickSourceForTesting(TickSource source);  // null restores the real clock

}  // namespace perimo::platform
