// The termios device: a tty opened without becoming the controlling terminal, raw 8-bit
// input and output, no flow control of its own (the library drives RTS and watches CTS).
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "transport/serial/custom_baud.h"
#include "transport/serial/sc_serial.h"
#include "transport/serial/serial_device.h"

namespace perimo::serial {
namespace {

struct StandardRate {
  int32_t baud;
  speed_t speed;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

class PosixSerialDevice : public SerialDevice {
 public:
  PosixSerialDevice(int fd, int wake) : fd_(fd), wake_(wake) {
    serial_icounter_struct counts{};
    if (ioctl(fd_, TIOCGICOUNT, &counts) == 0) counts_ = counts;
  }
  ~PosixSerialDevice() override {
    ::close(fd_);
    ::close(wake_);
  }

  int Configure(const LineSettings& s) override {
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return SC_STATUS_INVALID_PORT;
    cfmakeraw(&tio);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cflag &= ~(CRTSCTS | CSIZE | PARENB | PARODD | CSTOPB);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    switch (s.dataBits & 0xFF) {
      case 5:
        tio.c_cflag |= CS5;
        break;
      case 6:
        tio.c_cflag |= CS6;
        break;
      case 7:
        tio.c_cflag |= CS7;
        break;
      case 8:
        tio.c_cflag |= CS8;
        break;
      default:
        return SC_STATUS_INVALID_PORT;
    }
    if (s.parity == SC_PARITY_EVEN) {
      tio.c_cflag |= PARENB;
    } else if (s.parity == SC_PARITY_ODD) {
      tio.c_cflag |= PARENB | PARODD;
    } else if (s.parity != SC_PARITY_NONE) {
      return SC_STATUS_INVALID_PORT;
    }
    if (s.stopBits == 2) {
      tio.c_cflag |= CSTOPB;
    } else if (s.stopBits != 1) {
      return SC_STATUS_INVALID_PORT;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const StandardRate* standard = nullptr;
    for (const StandardRate& r : kStandardRates) {
      if (r.baud == s.baud) standard = &r;
    }
    if (standard != nullptr) cfsetspeed(&tio, standard->speed);
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) return SC_STATUS_INVALID_PORT;
    if (standard == nullptr && !SetCustomBaud(fd_, s.baud)) return SC_STATUS_INVALID_BAUD;
    return 0;
  }

  void Purge(bool input, bool output) override {
    if (input && output) {
      tcflush(fd_, TCIOFLUSH);
    } else if (input) {
      tcflush(fd_, TCIFLUSH);
    } else if (output) {
      tcflush(fd_, TCOFLUSH);
    }
  }

  uint32_t WaitEvent(uint32_t wanted) override {
    for (;;) {
      if ((wanted & kEventTxEmpty) && txEmpty_.exchange(false)) return kEventTxEmpty;
      pollfd fds[2] = {{wake_, POLLIN, 0}, {fd_, 0, 0}};
      if (wanted & kEventRxChar) fds[1].events = POLLIN;
      const int n = poll(fds, 2, -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        return kEventError;
      }
      if (fds[0].revents & POLLIN) {
        uint64_t count;
        [[maybe_unused]] ssize_t ignored = ::read(wake_, &count, sizeof count);
        if ((wanted & kEventTxEmpty) && txEmpty_.exchange(false)) return kEventTxEmpty;
        if (woken_.exchange(false)) return 0;
        continue;
      }
      // A hang-up (the other end of a pseudo-terminal closed) keeps the descriptor readable
      // with nothing to read: reported as a failed wait, so the reader pauses.
      if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return kEventError;
      if (fds[1].revents & POLLIN) return kEventRxChar;
    }
  }

  void Wake() override {
    woken_ = true;
    Signal();
  }

  int64_t Read(uint8_t* buffer, size_t count) override {
    ssize_t n;
    do {
      n = ::read(fd_, buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    return -1;
  }

  // Line errors counted by the driver since the last look.
  uint32_t LineErrors() override {
    serial_icounter_struct now{};
    if (ioctl(fd_, TIOCGICOUNT, &now) != 0) return 0;
    uint32_t flags = 0;
    if (now.frame != counts_.frame) flags |= kErrorFraming;
    if (now.overrun != counts_.overrun || now.buf_overrun != counts_.buf_overrun) {
      flags |= kErrorOverrun;
    }
    if (now.parity != counts_.parity) flags |= kErrorParity;
    counts_ = now;
    return flags;
  }

  bool Write(const uint8_t* bytes, size_t count, uint32_t timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t sent = 0;
    while (sent < count) {
      const ssize_t n = ::write(fd_, bytes + sent, count - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd pfd{fd_, POLLOUT, 0};
      poll(&pfd, 1, static_cast<int>(std::min<int64_t>(left, 100)));
    }
    tcdrain(fd_);
    txEmpty_ = true;
    Signal();
    return true;
  }

  bool SetLine(ModemLine line, bool on) override {
    int bits = line == kLineDtr ? TIOCM_DTR : TIOCM_RTS;
    return ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
  }

  uint32_t ModemLines() override {
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) != 0) return 0;
    uint32_t lines = 0;
    if (bits & TIOCM_CTS) lines |= kLineCts;
    if (bits & TIOCM_DSR) lines |= kLineDsr;
    if (bits & TIOCM_DTR) lines |= kLineDtr;
    if (bits & TIOCM_RTS) lines |= kLineRts;
    return lines;
  }

  bool SetBreak(bool on) override { return ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0; }

 private:
  void Signal() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wake_, &one, sizeof one);
  }

  int fd_;
  int wake_;
  std::atomic<bool> txEmpty_{false};
  std::atomic<bool> woken_{false};
  serial_icounter_struct counts_{};
};

}  // namespace

std::unique_ptr<SerialDevice> OpenPosixDevice(int /*portIndex*/, const std::string& path,
                                              int* status) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *status = SC_STATUS_INVALID_PORT;
    return nullptr;
  }
  // Not shared: another program holding the device keeps it.
  if (!isatty(fd)) {
    ::close(fd);
    *status = SC_STATUS_INVALID_PORT;
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    *status = SC_STATUS_PORT_IN_USE;
    return nullptr;
  }
  const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    ::close(fd);
    *status = SC_STATUS_NO_MEMORY;
    return nullptr;
  }
  *status = 0;
  return std::make_unique<PosixSerialDevice>(fd, wake);
}

}  // namespace perimo::serial
