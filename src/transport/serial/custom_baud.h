#pragma once
// Rates termios has no constant for (14400, 56000, 128000, 256000) are set through the
// kernel's termios2 interface, which takes any number.
#include <cstdint>

namespace perimo::serial {

// Sets both speeds of the open terminal to baud; false when the driver refuses.
bool SetCustomBaud(int fd, int32_t baud);

}  // namespace perimo::serial
