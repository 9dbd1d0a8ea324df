#pragma once
// A workstation on a serial line: a terminal device opened raw at a baud rate (perimo-ws), or
// a pseudo-terminal pair whose other end the agent opens as its port (tests and benchmarks).
// Requests leave in the serial line frame and replies come back the same way. Every byte on
// the line is counted in both directions. Blocking calls with time-outs.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "workstation/serial_frames.h"
#include "workstation/transport.h"

namespace perimo::workstation {

enum class SerialOpenError {
  kNone,
  kNoDevice,  // missing, not a terminal, or not openable
  kBusy,      // another program holds it
  kBadBaud,   // the driver does not take the rate
};

class SerialWorkstation : public Transport {
 public:
  SerialWorkstation() = default;
  ~SerialWorkstation() override;
  SerialWorkstation(const SerialWorkstation&) = delete;
  SerialWorkstation& operator=(const SerialWorkstation&) = delete;

  // Opens a terminal device for reading and writing without making it the controlling
  // terminal: raw 8 data bits, no parity, 1 stop bit, no flow control, at baud; locked
  // against a second program (the agent's port takes the same lock). On failure error
  // says why.
  SerialOpenError Open(const std::string& device, int baud, std::string& error);
  // Creates the pair; devicePath() is the end for the agent, kept open here in raw mode so
  // that nothing the workstation sends early is echoed back.
  bool OpenPty();
  void Close() override;
  bool connected() const override { return fd_ >= 0; }
  const std::string& devicePath() const { return path_; }

  bool SendRaw(const Bytes& bytes);
  bool SendFrame(const Bytes& frame) override { return SendRaw(SerialEnvelope(frame)); }
  // The next reply frame whose check byte matches; nullopt on time-out. badFrames counts the
  // ones whose check byte did not.
  std::optional<Bytes> ReadFrame(int timeoutMs = 5000);
  std::optional<Bytes> ReceiveFrame(int timeoutMs) override { return ReadFrame(timeoutMs); }
  std::optional<Bytes> Request(const Bytes& frame, int timeoutMs = 5000);
  // True when nothing arrives within ms.
  bool Silent(int ms);
  // Forgets what arrived and has not been read, once the line is quiet for quietMs.
  void Drain(int quietMs);
  // Asks for the security state (answered even while the agent is locked) until the agent
  // answers, then waits for the line to fall quiet.
  bool WaitReady(int timeoutMs = 15000);

  uint64_t bytesSent() const { return sent_; }
  uint64_t bytesReceived() const { return received_; }
  uint64_t badFrames() const { return reader_.badFrames(); }
  void ResetCounts() { sent_ = received_ = 0; }

 private:
  bool ReadSome(int timeoutMs);

  int fd_ = -1;    // the end this workstation talks through
  int peer_ = -1;  // the agent's end of a pseudo-terminal pair, held open
  std::string path_;
  SerialFrameReader reader_;
  std::vector<Bytes> frames_;
  uint64_t sent_ = 0;
  uint64_t received_ = 0;
};

}  // namespace perimo::workstation
