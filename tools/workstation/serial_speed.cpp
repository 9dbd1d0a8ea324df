// Kept apart: <asm/termbits.h> and <termios.h> cannot meet in one file.
#include "workstation/serial_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace perimo::workstation {
namespace {

struct Rate {
  int baud;
  unsigned code;
};

constexpr Rate kRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

}  // namespace

bool SetLineSpeed(int fd, int baud) {
  if (baud <= 0) return false;
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  unsigned code = BOTHER;
  for (const Rate& r : kRates) {
    if (r.baud == baud) code = r.code;
  }
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= code | (code << IBSHIFT);
  tio.c_ispeed = static_cast<speed_t>(baud);
  tio.c_ospeed = static_cast<speed_t>(baud);
  if (ioctl(fd, TCSETS2, &tio) != 0) return false;
  struct termios2 check {};
  return ioctl(fd, TCGETS2, &check) == 0 && check.c_ospeed == static_cast<speed_t>(baud);
}

}  // namespace perimo::workstation
