#include "workstation/fake_agent.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace perimo::workstation::testing {

const Bytes FakeAgent::kDrop{};

FakeAgent::FakeAgent(Handler handler, bool offersWide)
    : handler_(std::move(handler)), offersWide_(offersWide) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listener_, 1);
  getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

FakeAgent::~FakeAgent() {
  shutdown(listener_, SHUT_RDWR);
  if (const int fd = client_.load(); fd >= 0) shutdown(fd, SHUT_RDWR);
  close(listener_);
  thread_.join();
}

std::vector<Bytes> FakeAgent::Received() {
  std::lock_guard lock(mutex_);
  return received_;
}

bool FakeAgent::Reply(int fd, const Bytes& reply, bool framed) {
  const Bytes bytes = framed ? Envelope(reply) : reply;
  return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

void FakeAgent::Serve() {
  pollfd pfd{listener_, POLLIN, 0};
  if (poll(&pfd, 1, 10000) != 1) return;
  const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  client_ = fd;
  bool framed = false;
  EnvelopeDecoder decoder;
  uint8_t buffer[65536];
  for (;;) {
    pollfd in{fd, POLLIN, 0};
    if (poll(&in, 1, 10000) != 1) break;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    std::vector<Bytes> frames;
    if (framed) {
      decoder.Feed(buffer, static_cast<size_t>(n), frames);
    } else {
      frames.emplace_back(buffer, buffer + n);  // raw: one read, one frame
    }
    for (const Bytes& frame : frames) {
      std::vector<Bytes> replies;
      bool startFraming = false;
      if (frame == Bytes{0x24}) {
        replies = {{0x06, '0'}};
      } else if (frame == Bytes{0x13}) {
        replies = {
            {0x06, 'N', 'T', 0, '4', '8', 0, 'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 0, '0', 0}};
        startFraming = true;
      } else if (frame == Bytes{0x20}) {
        if (offersWide_) replies = {{0x06}};
      } else {
        {
          std::lock_guard lock(mutex_);
          received_.push_back(frame);
        }
        replies = handler_(frame);
      }
      for (const Bytes& reply : replies) {
        if (reply.empty() || !Reply(fd, reply, framed)) {
          client_ = -1;
          close(fd);
          return;
        }
      }
      if (startFraming) framed = true;
    }
  }
  client_ = -1;
  close(fd);
}

}  // namespace perimo::workstation::testing
