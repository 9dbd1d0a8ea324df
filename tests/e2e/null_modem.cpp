#include "e2e/null_modem.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace perimo::e2e {
namespace {

bool MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool WriteAll(int fd, const char* data, size_t count, int stopFd) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n > 0) {
      data += n;
      count -= static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
      poll(fds, 2, 100);
      if (fds[1].revents) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

NullModem::~NullModem() {
  if (thread_.joinable()) {
    [[maybe_unused]] ssize_t ignored = ::write(stop_[1], "x", 1);
    thread_.join();
  }
  for (int fd : {masters_[0], masters_[1], held_[0], held_[1], stop_[0], stop_[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

bool NullModem::Open() {
  if (pipe2(stop_, O_CLOEXEC) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    masters_[i] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (masters_[i] < 0 || grantpt(masters_[i]) != 0 || unlockpt(masters_[i]) != 0) return false;
    char name[128];
    if (ptsname_r(masters_[i], name, sizeof name) != 0) return false;
    paths_[i] = name;
    held_[i] = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (held_[i] < 0 || !MakeRaw(held_[i]) || !MakeRaw(masters_[i])) return false;
  }
  thread_ = std::thread([this] { Relay(); });
  return true;
}

void NullModem::Relay() {
  char buffer[4096];
  for (;;) {
    pollfd fds[3] = {{masters_[0], POLLIN, 0}, {masters_[1], POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (poll(fds, 3, -1) < 0 && errno != EINTR) return;
    if (fds[2].revents) return;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      const ssize_t n = ::read(masters_[i], buffer, sizeof buffer);
      if (n > 0 && !WriteAll(masters_[1 - i], buffer, static_cast<size_t>(n), stop_[0])) return;
    }
  }
}

}  // namespace perimo::e2e
