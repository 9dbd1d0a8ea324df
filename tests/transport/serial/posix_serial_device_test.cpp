// The termios device on a pseudo-terminal pair: the rates of the baud table (those termios has
// no constant for included), a device another program holds, paths that are no terminal, and
// bytes both ways through the library.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "transport/serial/sc_serial.h"

namespace {

class Pty {
 public:
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 &&
        ptsname_r(master, name, sizeof name) == 0) {
      path = name;
      // Held open so that the pair stays up between the library's opens.
      keep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
  }
  ~Pty() {
    if (keep >= 0) ::close(keep);
    if (master >= 0) ::close(master);
  }
  int master = -1;
  int keep = -1;
  std::string path;
};

SCPortConfig Config(int index, int32_t baud) {
  SCPortConfig c{};
  c.portIndex = index;
  c.baudRate = baud;
  c.dataBits = 8;
  c.stopBits = 1;
  c.parity = SC_PARITY_NONE;
  c.txBufferSize = 2048;
  c.rxBufferSize = 2048;
  return c;
}

uint32_t OutputSpeed(int fd) {
  struct termios2 tio {};
  return ioctl(fd, TCGETS2, &tio) == 0 ? tio.c_ospeed : 0;
}

std::atomic<int> received{0};
void Count(generic_port*) {
  ++received;
}

TEST(PosixSerialDevice, EveryRateOfTheTableIsSet) {
  Pty pty;
  ASSERT_FALSE(pty.path.empty());
  SCSetPortDevice(3, pty.path.c_str());
  for (int32_t baud : {110, 300, 1200, 9600, 14400, 19200, 56000, 57600, 115200, 128000, 256000}) {
    int status = 99;
    const SCPortConfig config = Config(3, baud);
    generic_port* port = SCPortOpen(0, &config, &status);
    ASSERT_NE(port, nullptr) << baud << " status " << status;
    EXPECT_EQ(OutputSpeed(pty.keep), static_cast<uint32_t>(baud)) << baud;
    SCPortClose(port);
  }
}

TEST(PosixSerialDevice, DevicesThatCannotServeAreRefused) {
  Pty pty;
  ASSERT_FALSE(pty.path.empty());
  SCSetPortDevice(4, pty.path.c_str());
  SCSetPortDevice(5, pty.path.c_str());
  SCSetPortDevice(6, "/dev/null");
  SCSetPortDevice(7, "/nonexistent/ttyS9");
  int status = 99;
  const SCPortConfig first = Config(4, 19200);
  generic_port* port = SCPortOpen(0, &first, &status);
  ASSERT_NE(port, nullptr);
  const SCPortConfig same = Config(5, 19200);
  EXPECT_EQ(SCPortOpen(0, &same, &status), nullptr);
  EXPECT_EQ(status, SC_STATUS_PORT_IN_USE);
  const SCPortConfig notTty = Config(6, 19200);
  EXPECT_EQ(SCPortOpen(0, &notTty, &status), nullptr);
  EXPECT_EQ(status, SC_STATUS_INVALID_PORT);
  const SCPortConfig missing = Config(7, 19200);
  EXPECT_EQ(SCPortOpen(0, &missing, &status), nullptr);
  EXPECT_EQ(status, SC_STATUS_INVALID_PORT);
  SCPortClose(port);
  EXPECT_EQ(SCIsPortFree(5), 1);
}

TEST(PosixSerialDevice, BytesTravelBothWays) {
  Pty pty;
  ASSERT_FALSE(pty.path.empty());
  SCSetPortDevice(2, pty.path.c_str());
  int status = 99;
  const SCPortConfig config = Config(2, 19200);
  generic_port* port = SCPortOpen(0, &config, &status);
  ASSERT_NE(port, nullptr);
  received = 0;
  SCInstallUserRoutine(port, Count);

  const char reply[] = {0x02, 0x06, 0x10, 0x03, 0x06};
  ASSERT_EQ(SCSendTxBuf(port, reply, 5), 1);
  EXPECT_EQ(SCWaitTxEmpty(port), 1);
  std::vector<uint8_t> got;
  while (got.size() < 5) {
    pollfd pfd{pty.master, POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 5000), 1);
    uint8_t buffer[16];
    const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    got.insert(got.end(), buffer, buffer + n);
  }
  EXPECT_EQ(got, (std::vector<uint8_t>{0x02, 0x06, 0x10, 0x03, 0x06}));

  std::vector<uint8_t> request(3000);
  for (size_t i = 0; i < request.size(); ++i) request[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(::write(pty.master, request.data(), request.size()), ssize_t(request.size()));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (received < 3000 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(received.load(), 3000);
  char last = 0;
  EXPECT_EQ(SCPeekLastChar(port, &last), 1);
  EXPECT_EQ(static_cast<uint8_t>(last), request.back());
  SCPortClose(port);
}

}  // namespace
