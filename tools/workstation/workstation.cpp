#include "workstation/workstation.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "workstation/deadline.h"

namespace perimo::workstation {

Workstation::~Workstation() {
  Close();
}

Workstation::Workstation(Workstation&& other) noexcept {
  *this = std::move(other);
}

Workstation& Workstation::operator=(Workstation&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    framed_ = other.framed_;
    closedByPeer_ = other.closedByPeer_;
    pending_ = std::move(other.pending_);
    decoder_ = other.decoder_;
    frames_ = std::move(other.frames_);
    encrypt = std::move(other.encrypt);
    decrypt = std::move(other.decrypt);
    other.fd_ = -1;
  }
  return *this;
}

bool Workstation::Connect(const std::string& host, uint16_t port, int timeoutMs) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  bool ok = fd >= 0;
  if (ok && connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
    ok = errno == EINPROGRESS;
    if (ok) {
      pollfd pfd{fd, POLLOUT, 0};
      int error = 0;
      socklen_t size = sizeof error;
      ok = poll(&pfd, 1, timeoutMs) == 1 &&
           getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
  }
  freeaddrinfo(found);
  if (!ok) {
    if (fd >= 0) close(fd);
    return false;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fd_ = fd;
  closedByPeer_ = false;
  return true;
}

void Workstation::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  framed_ = false;
  pending_.clear();
  frames_.clear();
  decoder_.Reset();
}

void Workstation::SetFramed(bool on) {
  framed_ = on;
  decoder_.Reset();
  frames_.clear();
}

bool Workstation::SendRaw(const Bytes& bytes) {
  size_t sent = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (sent < bytes.size() && fd_ >= 0) {
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR) && Remaining(deadline) > 0) {
      pollfd pfd{fd_, POLLOUT, 0};
      poll(&pfd, 1, 100);
    } else {
      return false;
    }
  }
  return sent == bytes.size();
}

bool Workstation::SendFrame(const Bytes& frame) {
  const Bytes plain = encrypt ? encrypt(frame) : frame;
  return SendRaw(framed_ ? Envelope(plain) : plain);
}

bool Workstation::SendFrames(const std::vector<Bytes>& frames) {
  Bytes out;
  for (const Bytes& frame : frames) {
    const Bytes plain = encrypt ? encrypt(frame) : frame;
    const Bytes wire = framed_ ? Envelope(plain) : plain;
    out.insert(out.end(), wire.begin(), wire.end());
  }
  return SendRaw(out);
}

bool Workstation::ReadSome(int timeoutMs) {
  if (fd_ < 0 || closedByPeer_) return false;
  pollfd pfd{fd_, POLLIN, 0};
  const int ready = poll(&pfd, 1, timeoutMs);
  if (ready <= 0) return false;
  uint8_t buffer[65536];
  const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
  if (n <= 0) {
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) closedByPeer_ = true;
    return false;
  }
  if (framed_) {
    decoder_.Feed(buffer, static_cast<size_t>(n), frames_);
  } else {
    pending_.insert(pending_.end(), buffer, buffer + n);
  }
  return true;
}

std::optional<Bytes> Workstation::ReadReply(int timeoutMs, int quietMs,
                                            const std::function<bool(const Bytes&)>& whole) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::optional<Bytes> reply;
  if (framed_) {
    while (frames_.empty()) {
      if (!ReadSome(Remaining(deadline))) return std::nullopt;
    }
    reply = std::move(frames_.front());
    frames_.erase(frames_.begin());
  } else {
    while (pending_.empty()) {
      if (!ReadSome(Remaining(deadline))) return std::nullopt;
    }
    const bool judge = whole && !decrypt;
    while (!(judge && whole(pending_)) && ReadSome(quietMs)) {
    }
    reply = std::move(pending_);
    pending_.clear();
  }
  if (decrypt) return decrypt(*reply);
  return reply;
}

std::optional<Bytes> Workstation::ReadExactly(size_t count, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const bool wasFramed = framed_;
  framed_ = false;  // the bytes as they are on the wire
  while (pending_.size() < count) {
    if (!ReadSome(Remaining(deadline))) {
      framed_ = wasFramed;
      return std::nullopt;
    }
  }
  framed_ = wasFramed;
  Bytes out(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(count));
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(count));
  return out;
}

std::optional<Bytes> Workstation::Request(const Bytes& frame, int timeoutMs) {
  if (!SendFrame(frame)) return std::nullopt;
  return ReadReply(timeoutMs);
}

bool Workstation::Silent(int ms) {
  if (!pending_.empty() || !frames_.empty()) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (Remaining(deadline) > 0) {
    if (ReadSome(Remaining(deadline))) return false;
    if (closedByPeer_) return false;
  }
  return pending_.empty() && frames_.empty();
}

bool Workstation::WaitClosed(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!closedByPeer_ && Remaining(deadline) > 0) ReadSome(Remaining(deadline));
  return closedByPeer_;
}

}  // namespace perimo::workstation
