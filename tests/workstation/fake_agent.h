#pragma once
// A scripted peer for the workstation library: it answers the session's handshake as an
// agent does (0x24, 0x13 switching to framed mode, 0x20 when it offers 16-bit strings) and
// hands every later frame to the test's handler, whose replies it sends in order. A handler
// that returns kDrop closes the connection instead.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "workstation/frames.h"

namespace perimo::workstation::testing {

class FakeAgent {
 public:
  using Handler = std::function<std::vector<Bytes>(const Bytes& frame)>;
  static const Bytes kDrop;  // as a reply: close the connection

  explicit FakeAgent(Handler handler, bool offersWide = true);
  ~FakeAgent();

  uint16_t port() const { return port_; }
  // Frames after the handshake, as received.
  std::vector<Bytes> Received();

 private:
  void Serve();
  bool Reply(int fd, const Bytes& reply, bool framed);

  Handler handler_;
  bool offersWide_;
  int listener_ = -1;
  std::atomic<int> client_{-1};
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::vector<Bytes> received_;
  std::thread thread_;
};

}  // namespace perimo::workstation::testing
