#include "workstation/serial_workstation.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace perimo::workstation {
namespace {

using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

Bytes SerialEnvelope(const Bytes& frame) {
  Bytes out;
  out.reserve(frame.size() + frame.size() / 64 + 4);
  uint8_t check = 0;
  out.push_back(kStx);
  for (uint8_t b : frame) {
    check ^= b;
    out.push_back(b);
    if (b == kDle) out.push_back(kDle);
  }
  out.push_back(kDle);
  out.push_back(kEtx);
  out.push_back(check);
  return out;
}

SerialWorkstation::~SerialWorkstation() {
  Close();
}

bool SerialWorkstation::OpenPty() {
  Close();
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
    Close();
    return false;
  }
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    Close();
    return false;
  }
  path_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave_ < 0 || !MakeRaw(slave_) || !MakeRaw(master_)) {
    Close();
    return false;
  }
  return true;
}

void SerialWorkstation::Close() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
  pending_.clear();
}

bool SerialWorkstation::SendRaw(const Bytes& bytes) {
  size_t done = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (done < bytes.size() && master_ >= 0) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      sent_ += static_cast<uint64_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR) && Remaining(deadline) > 0) {
      pollfd pfd{master_, POLLOUT, 0};
      poll(&pfd, 1, 100);
    } else {
      return false;
    }
  }
  return done == bytes.size();
}

bool SerialWorkstation::ReadSome(int timeoutMs) {
  if (master_ < 0) return false;
  pollfd pfd{master_, POLLIN, 0};
  if (poll(&pfd, 1, timeoutMs) <= 0) return false;
  uint8_t buffer[8192];
  const ssize_t n = ::read(master_, buffer, sizeof buffer);
  if (n <= 0) return false;
  received_ += static_cast<uint64_t>(n);
  pending_.insert(pending_.end(), buffer, buffer + n);
  return true;
}

// Bytes before an STX are skipped; a frame is whole once DLE ETX and its check byte are in.
std::optional<Bytes> SerialWorkstation::TakeFrame() {
  for (;;) {
    size_t start = 0;
    while (start < pending_.size() && pending_[start] != kStx) ++start;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
    if (pending_.empty()) return std::nullopt;
    Bytes frame;
    uint8_t check = 0;
    size_t i = 1;
    bool ended = false;
    while (i < pending_.size()) {
      const uint8_t b = pending_[i];
      if (b != kDle) {
        frame.push_back(b);
        check ^= b;
        ++i;
        continue;
      }
      if (i + 1 >= pending_.size()) break;
      if (pending_[i + 1] == kDle) {
        frame.push_back(kDle);
        check ^= kDle;
        i += 2;
        continue;
      }
      if (pending_[i + 1] == kEtx) {
        ended = true;
        i += 2;
        break;
      }
      i += 2;  // DLE and a stray byte
    }
    if (!ended || i >= pending_.size()) return std::nullopt;
    const bool good = pending_[i] == check;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(i + 1));
    if (good) return frame;
    ++badFrames_;
  }
}

std::optional<Bytes> SerialWorkstation::ReadFrame(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (auto frame = TakeFrame()) return frame;
    if (!ReadSome(Remaining(deadline))) return std::nullopt;
  }
}

std::optional<Bytes> SerialWorkstation::Request(const Bytes& frame, int timeoutMs) {
  if (!SendFrame(frame)) return std::nullopt;
  return ReadFrame(timeoutMs);
}

bool SerialWorkstation::Silent(int ms) {
  if (!pending_.empty()) return false;
  return !ReadSome(ms);
}

bool SerialWorkstation::WaitReady(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Remaining(deadline) > 0) {
    if (Request(Frame(0x24), 200)) {
      while (!Silent(100)) {
        pending_.clear();
      }
      return true;
    }
  }
  return false;
}

}  // namespace perimo::workstation
