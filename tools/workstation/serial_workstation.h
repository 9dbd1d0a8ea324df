#pragma once
// A workstation on a serial line, for tests and benchmarks: a pseudo-terminal pair whose
// other end the agent opens as its port. Requests leave as STX, the frame with every DLE
// doubled, DLE ETX and the XOR check byte; replies come back the same way. Every byte on the
// line is counted in both directions. Blocking calls with time-outs.
#include <cstdint>
#include <optional>
#include <string>

#include "workstation/frames.h"

namespace perimo::workstation {

// The serial line frame of a request.
Bytes SerialEnvelope(const Bytes& frame);

class SerialWorkstation {
 public:
  SerialWorkstation() = default;
  ~SerialWorkstation();
  SerialWorkstation(const SerialWorkstation&) = delete;
  SerialWorkstation& operator=(const SerialWorkstation&) = delete;

  // Creates the pair; devicePath() is the end for the agent, kept open here in raw mode so
  // that nothing the workstation sends early is echoed back.
  bool OpenPty();
  void Close();
  const std::string& devicePath() const { return path_; }

  bool SendRaw(const Bytes& bytes);
  bool SendFrame(const Bytes& frame) { return SendRaw(SerialEnvelope(frame)); }
  // The next reply frame whose check byte matches; nullopt on time-out. badFrames counts the
  // ones whose check byte did not.
  std::optional<Bytes> ReadFrame(int timeoutMs = 5000);
  std::optional<Bytes> Request(const Bytes& frame, int timeoutMs = 5000);
  // True when nothing arrives within ms.
  bool Silent(int ms);
  // Asks for the security state (answered even while the agent is locked) until the agent
  // answers, then waits for the line to fall quiet.
  bool WaitReady(int timeoutMs = 15000);

  uint64_t bytesSent() const { return sent_; }
  uint64_t bytesReceived() const { return received_; }
  uint64_t badFrames() const { return badFrames_; }
  void ResetCounts() { sent_ = received_ = 0; }

 private:
  bool ReadSome(int timeoutMs);
  // A whole frame from pending_ when one is there.
  std::optional<Bytes> TakeFrame();

  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  Bytes pending_;
  uint64_t sent_ = 0;
  uint64_t received_ = 0;
  uint64_t badFrames_ = 0;
};

}  // namespace perimo::workstation
