#include "workstation/serial_workstation.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "workstation/deadline.h"
#include "workstation/serial_speed.h"

namespace perimo::workstation {
namespace {

bool MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// 8N1 without flow control; reads return what is there.
bool MakeLine(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag |= CREAD | CLOCAL | CS8;
  tio.c_cflag &= ~(CRTSCTS | PARENB | PARODD | CSTOPB);
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

SerialWorkstation::~SerialWorkstation() {
  Close();
}

SerialOpenError SerialWorkstation::Open(const std::string& device, int baud, std::string& error) {
  Close();
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno == ENOENT ? "no such device" : std::strerror(errno);
    return SerialOpenError::kNoDevice;
  }
  auto fail = [&](SerialOpenError kind, std::string why) {
    ::close(fd);
    error = std::move(why);
    return kind;
  };
  if (!isatty(fd)) return fail(SerialOpenError::kNoDevice, "not a terminal device");
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return fail(SerialOpenError::kBusy, "in use by another program");
  }
  if (!MakeLine(fd)) {
    return fail(SerialOpenError::kNoDevice, std::string("cannot set it up: ") + strerror(errno));
  }
  if (!SetLineSpeed(fd, baud)) {
    return fail(SerialOpenError::kBadBaud,
                "the device does not take " + std::to_string(baud) + " baud");
  }
  tcflush(fd, TCIOFLUSH);
  fd_ = fd;
  path_ = device;
  return SerialOpenError::kNone;
}

bool SerialWorkstation::OpenPty() {
  Close();
  fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
    Close();
    return false;
  }
  char name[128];
  if (ptsname_r(fd_, name, sizeof name) != 0) {
    Close();
    return false;
  }
  path_ = name;
  peer_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (peer_ < 0 || !MakeRaw(peer_) || !MakeRaw(fd_)) {
    Close();
    return false;
  }
  return true;
}

void SerialWorkstation::Close() {
  if (peer_ >= 0) ::close(peer_);
  if (fd_ >= 0) ::close(fd_);
  peer_ = fd_ = -1;
  reader_.Reset();
  frames_.clear();
}

bool SerialWorkstation::SendRaw(const Bytes& bytes) {
  size_t done = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (done < bytes.size() && fd_ >= 0) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      sent_ += static_cast<uint64_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR) && Remaining(deadline) > 0) {
      pollfd pfd{fd_, POLLOUT, 0};
      poll(&pfd, 1, 100);
    } else {
      return false;
    }
  }
  return done == bytes.size();
}

bool SerialWorkstation::ReadSome(int timeoutMs) {
  if (fd_ < 0) return false;
  pollfd pfd{fd_, POLLIN, 0};
  if (poll(&pfd, 1, timeoutMs) <= 0) return false;
  uint8_t buffer[8192];
  const ssize_t n = ::read(fd_, buffer, sizeof buffer);
  if (n <= 0) {
    // A hang-up keeps the descriptor readable with nothing to read: wait out the time-out
    // rather than spin.
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) poll(nullptr, 0, std::min(timeoutMs, 50));
    return false;
  }
  received_ += static_cast<uint64_t>(n);
  reader_.Feed(buffer, static_cast<size_t>(n), frames_);
  return true;
}

std::optional<Bytes> SerialWorkstation::ReadFrame(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (frames_.empty()) {
    const int left = Remaining(deadline);
    if (left <= 0 && !ReadSome(0)) return std::nullopt;
    if (left > 0) ReadSome(left);
  }
  Bytes frame = std::move(frames_.front());
  frames_.erase(frames_.begin());
  return frame;
}

std::optional<Bytes> SerialWorkstation::Request(const Bytes& frame, int timeoutMs) {
  if (!SendFrame(frame)) return std::nullopt;
  return ReadFrame(timeoutMs);
}

bool SerialWorkstation::Silent(int ms) {
  if (!frames_.empty() || !reader_.idle()) return false;
  return !ReadSome(ms);
}

void SerialWorkstation::Drain(int quietMs) {
  while (ReadSome(quietMs)) {
  }
  frames_.clear();
  reader_.Reset();
}

bool SerialWorkstation::WaitReady(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Remaining(deadline) > 0) {
    if (Request(Frame(0x24), 200)) {
      Drain(100);
      return true;
    }
  }
  return false;
}

}  // namespace perimo::workstation
