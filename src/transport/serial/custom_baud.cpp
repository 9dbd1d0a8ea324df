// Kept apart: <asm/termbits.h> and <termios.h> cannot meet in one file.
#include "transport/serial/custom_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace perimo::serial {

bool SetCustomBaud(int fd, int32_t baud) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  tio.c_cflag &= ~CBAUD;
  tio.c_cflag |= BOTHER;
  tio.c_cflag &= ~(CBAUD << IBSHIFT);
  tio.c_cflag |= BOTHER << IBSHIFT;
  tio.c_ispeed = static_cast<speed_t>(baud);
  tio.c_ospeed = static_cast<speed_t>(baud);
  if (ioctl(fd, TCSETS2, &tio) != 0) return false;
  struct termios2 check {};
  return ioctl(fd, TCGETS2, &check) == 0 && check.c_ospeed == static_cast<speed_t>(baud);
}

}  // namespace perimo::serial
