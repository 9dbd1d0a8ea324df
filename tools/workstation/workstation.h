#pragma once
// A workstation connection to an agent over TCP: send frames raw or framed, read replies.
// Blocking calls with time-outs; plain sockets, no event loop.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "workstation/frames.h"
#include "workstation/transport.h"

namespace perimo::workstation {

class Workstation : public Transport {
 public:
  Workstation() = default;
  ~Workstation() override;
  Workstation(const Workstation&) = delete;
  Workstation& operator=(const Workstation&) = delete;
  Workstation(Workstation&& other) noexcept;
  Workstation& operator=(Workstation&& other) noexcept;

  bool Connect(const std::string& host, uint16_t port, int timeoutMs = 5000);
  void Close() override;
  bool connected() const override { return fd_ >= 0 && !closedByPeer_; }
  int descriptor() const { return fd_; }

  // Framed mode wraps what SendFrame sends and decodes what ReadReply reads; a workstation
  // switches it on after the reply to 0x13.
  void SetFramed(bool on);
  bool framed() const { return framed_; }

  // Under a secure link: applied to each frame before sending and to each reply after
  // reading (the security work provides them).
  std::function<Bytes(const Bytes&)> encrypt;
  std::function<std::optional<Bytes>(const Bytes&)> decrypt;

  // The bytes exactly as given.
  bool SendRaw(const Bytes& bytes);
  // A frame, enveloped when framed.
  bool SendFrame(const Bytes& frame) override;
  // Several frames in one write (framed mode keeps them apart).
  bool SendFrames(const std::vector<Bytes>& frames);

  // Raw: everything that arrives until quietMs pass without a byte (the first byte waited for
  // up to timeoutMs), or at once when whole says the bytes so far are the whole reply (not
  // under a secure link, whose chunks are whole only once decrypted). Framed: the next whole
  // frame. nullopt on time-out or close.
  std::optional<Bytes> ReadReply(int timeoutMs = 5000, int quietMs = 50,
                                 const std::function<bool(const Bytes&)>& whole = {});
  std::optional<Bytes> ReceiveFrame(int timeoutMs) override { return ReadReply(timeoutMs); }
  // Exactly count bytes as they arrive on the wire; nullopt on time-out or close.
  std::optional<Bytes> ReadExactly(size_t count, int timeoutMs = 5000);
  std::optional<Bytes> Request(const Bytes& frame, int timeoutMs = 5000);

  // True when no byte arrives within ms (and the connection is still open).
  bool Silent(int ms);
  // True when the agent closes the connection within timeoutMs.
  bool WaitClosed(int timeoutMs = 5000);

 private:
  // Appends whatever arrives within timeoutMs; false on time-out, close or error.
  bool ReadSome(int timeoutMs);

  int fd_ = -1;
  bool framed_ = false;
  bool closedByPeer_ = false;
  Bytes pending_;  // received, not yet returned
  EnvelopeDecoder decoder_;
  std::vector<Bytes> frames_;
};

}  // namespace perimo::workstation
