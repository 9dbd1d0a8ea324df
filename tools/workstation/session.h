#pragma once
// A workstation session with an agent over TCP or a serial line: connects, opens the
// encrypted link and logs in when the agent's security state asks for it, switches to framed
// replies (0x13) and, where the agent offers them, to 16-bit request strings (0x20).
// Requests go out as frames; replies are read in order, so on TCP several requests may be in
// flight at once. A serial line takes one request at a time: the agent empties its receive
// buffer whenever it replies, and answers every 0x2E block.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "workstation/frames.h"
#include "workstation/secure_link.h"
#include "workstation/serial_workstation.h"
#include "workstation/workstation.h"

namespace perimo::workstation {

// What went wrong, in the terms of the command line's exit codes.
enum class Outcome : int {
  kDone = 0,
  kFailed = 1,      // the agent refused (NAK or a failure status), or a local file failed
  kUsage = 2,       // a bad argument
  kConnection = 3,  // no connection, or it was lost (also a reply that never came)
  kLogin = 4,       // the encrypted link or the login failed
};

struct Error {
  Outcome outcome = Outcome::kDone;
  std::string message;
  explicit operator bool() const { return outcome != Outcome::kDone; }
};

inline Error Ok() {
  return {};
}
inline Error Fail(Outcome outcome, std::string message) {
  return {outcome, std::move(message)};
}

struct ConnectOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 4322;
  std::optional<std::string> user;
  std::string password;
  std::u16string preSharedKey = kDefaultInternalKey;
  int timeoutMs = 30000;
  bool wideStrings = true;  // switch to 16-bit strings when the agent offers them
  // When set, the serial device to talk through instead of host and port.
  std::string serialDevice;
  int baud = 19200;  // the agent's default line speed
};

// "HOST" or "HOST:PORT" (an IPv6 address in brackets); false when the port is not a number
// from 1 to 65535.
bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port);

// The meaning of a NAK reply (0x15, reason byte, optional 4-byte file error cause).
std::string NakText(const Bytes& reply);
// The meaning of a 4-byte file error cause.
std::string FileCauseText(uint32_t cause);

class Session {
 public:
  Session() = default;
  ~Session() { Close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Error Open(const ConnectOptions& options);
  // On a serial line says goodbye with 0x81 first.
  void Close();

  bool serial() const { return link_ == &serial_; }
  // Requests that may be in flight at once: wanted on TCP, one on a serial line.
  int Window(int wanted) const { return serial() ? 1 : std::max(1, wanted); }
  // Where the session talks to, for messages.
  std::string peerName() const;

  bool wide() const { return wide_; }
  char securityState() const { return securityState_; }
  const Bytes& osVersionReply() const { return osReply_; }
  int timeoutMs() const { return options_.timeoutMs; }
  const ConnectOptions& options() const { return options_; }

  // Sends one frame; a failure is a lost connection.
  Error Send(const Bytes& frame);
  // Several frames at once, for requests in flight together.
  Error Send(const std::vector<Bytes>& frames);
  // The next reply in order; timeoutMs < 0 takes the session's time-out.
  Error Receive(Bytes& reply, int timeoutMs = -1);
  // Send and receive.
  Error Call(const Bytes& frame, Bytes& reply, int timeoutMs = -1);
  // Call, then turn a NAK into kFailed with its meaning (what names the request).
  Error CallAck(const Bytes& frame, Bytes& reply, const std::string& what, int timeoutMs = -1);

  // Request strings in the session's width: the characters, and with terminate a zero
  // character. False (kUsage) when a name has a character the 8-bit mode cannot carry.
  Error AppendText(Bytes& frame, const std::string& utf8, bool terminate = true) const;
  // A reply string at offset, up to its zero character (or the end); offset moves past it.
  std::string ReadText(const Bytes& reply, size_t& offset) const;

  Transport& transport() { return *link_; }
  // The TCP connection (closed on a serial line).
  Workstation& link() { return ws_; }

 private:
  Error OpenSerial();
  Error Handshake();
  // 0x20: whether the agent takes 16-bit request strings.
  Error SwitchToWideStrings();
  // A request whose reply comes raw; whole tells when it is complete.
  Error RawCall(const Bytes& frame, Bytes& reply, const std::function<bool(const Bytes&)>& whole);

  ConnectOptions options_;
  Workstation ws_;
  SerialWorkstation serial_;
  Transport* link_ = &ws_;
  bool announced_ = false;  // 0x80 answered on the serial line
  SecureLink secure_;
  bool wide_ = false;
  char securityState_ = '0';
  Bytes osReply_;
};

}  // namespace perimo::workstation
