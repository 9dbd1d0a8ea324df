#include "workstation/session.h"

#include <algorithm>
#include <cstdio>

#include "workstation/deadline.h"
#include "workstation/replies.h"
#include "workstation/text.h"

namespace perimo::workstation {
namespace {

constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr uint8_t kConnect = 0x80;
constexpr uint8_t kDisconnect = 0x81;

const char* ReasonText(uint8_t reason) {
  switch (reason) {
    case 0x01:
      return "invalid or empty file name, or the file does not exist";
    case 0x02:
      return "block sequence or file length mismatch";
    case 0x03:
      return "an existing target file cannot be removed";
    case 0x04:
      return "the file cannot be created";
    case 0x05:
      return "the file does not exist";
    case 0x06:
      return "invalid block size";
    case 0x07:
      return "no file is open, or the file cannot be opened";
    case 0x08:
      return "the file cannot be written";
    case 0x09:
      return "the file cannot be read";
    case 0x0B:
      return "the runtime process cannot be created";
    case 0x0E:
      return "the runtime is not running";
    case 0x0F:
      return "the directory cannot be created or removed";
    case 0x10:
      return "invalid or missing directory name";
    case 0x35:
      return "refused by the security gate or the user's rights";
    case 0x3E:
      return "the compressed file failed to expand";
    case 0x44:
      return "the data protection library failed";
    default:
      return "unknown reason";
  }
}

// Raw replies carry no end mark; these two are known whole without waiting for a pause.
bool WholeSecurityState(const Bytes& reply) {
  return reply.size() >= 2;
}

// 06 and five zero-terminated fields, or a NAK and its reason.
bool WholeOsVersion(const Bytes& reply) {
  if (reply.size() >= 2 && reply[0] != kAck) return true;
  return std::count(reply.begin(), reply.end(), 0) >= 5;
}

}  // namespace

bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port) {
  std::string rest;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return false;
  } else {
    const size_t colon = text.find(':');
    host = text.substr(0, colon);
    if (colon != std::string::npos) rest = text.substr(colon);
  }
  if (host.empty()) return false;
  if (rest.empty()) return true;
  const std::string digits = rest.substr(1);
  if (digits.empty() || digits.size() > 5) return false;
  uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

std::string FileCauseText(uint32_t cause) {
  static const char* const kCauses[] = {"none",
                                        "generic error",
                                        "file not found",
                                        "bad path",
                                        "too many open files",
                                        "access denied",
                                        "invalid file handle",
                                        "cannot remove the current directory",
                                        "directory full",
                                        "seek failed",
                                        "hardware input/output error",
                                        "sharing violation",
                                        "lock violation",
                                        "disk full",
                                        "access past the end of the file"};
  if (cause < std::size(kCauses)) return kCauses[cause];
  return "cause " + std::to_string(cause);
}

std::string NakText(const Bytes& reply) {
  if (reply.size() < 2 || reply[0] != kNak) return "unexpected reply";
  char code[8];
  std::snprintf(code, sizeof code, "0x%02X", reply[1]);
  std::string text = std::string(ReasonText(reply[1])) + " (NAK " + code + ")";
  if (reply.size() >= 6) text += ": " + FileCauseText(ReadU32(reply, 2));
  return text;
}

Error Session::Send(const Bytes& frame) {
  if (serial() && frame.size() > kSerialFrameLimit) {
    return Fail(Outcome::kFailed, "a request of " + std::to_string(frame.size()) +
                                      " bytes does not fit the serial line's " +
                                      std::to_string(kSerialFrameLimit) + "-byte frames");
  }
  if (!link_->SendFrame(frame)) return Fail(Outcome::kConnection, "the connection was lost");
  return Ok();
}

Error Session::Send(const std::vector<Bytes>& frames) {
  if (serial()) {
    for (const Bytes& frame : frames) {
      if (Error e = Send(frame)) return e;
    }
    return Ok();
  }
  if (!ws_.SendFrames(frames)) return Fail(Outcome::kConnection, "the connection was lost");
  return Ok();
}

Error Session::Receive(Bytes& reply, int timeoutMs) {
  auto got = link_->ReceiveFrame(timeoutMs < 0 ? options_.timeoutMs : timeoutMs);
  if (!got) {
    return Fail(Outcome::kConnection, link_->connected()
                                          ? "the agent did not answer in time on " + peerName()
                                          : "the connection was lost");
  }
  reply = std::move(*got);
  if (reply.empty()) return Fail(Outcome::kConnection, "an empty reply came");
  return Ok();
}

Error Session::Call(const Bytes& frame, Bytes& reply, int timeoutMs) {
  if (Error e = Send(frame)) return e;
  return Receive(reply, timeoutMs);
}

Error Session::CallAck(const Bytes& frame, Bytes& reply, const std::string& what, int timeoutMs) {
  if (Error e = Call(frame, reply, timeoutMs)) return e;
  if (reply[0] == kAck) return Ok();
  return Fail(Outcome::kFailed, what + ": " + NakText(reply));
}

Error Session::AppendText(Bytes& frame, const std::string& utf8, bool terminate) const {
  const std::u16string text = FromUtf8(utf8);
  if (wide_) {
    for (char16_t c : text) {
      frame.push_back(static_cast<uint8_t>(c & 0xFF));
      frame.push_back(static_cast<uint8_t>(c >> 8));
    }
    if (terminate) frame.insert(frame.end(), {0, 0});
    return Ok();
  }
  const auto narrow = ToLatin1(text);
  if (!narrow) {
    return Fail(Outcome::kUsage,
                "\"" + utf8 + "\" has characters that this agent's 8-bit strings cannot carry");
  }
  frame.insert(frame.end(), narrow->begin(), narrow->end());
  if (terminate) frame.push_back(0);
  return Ok();
}

std::string Session::ReadText(const Bytes& reply, size_t& offset) const {
  return ReadReplyText(reply, offset, wide_);
}

std::string Session::peerName() const {
  if (!options_.serialDevice.empty()) return options_.serialDevice;
  return options_.host + ":" + std::to_string(options_.port);
}

void Session::Close() {
  if (serial() && announced_) {
    // 0x81 tells the agent the workstation is gone; its reply is waited for so that it
    // cannot meet the next session's first request.
    Bytes reply;
    if (!Send(Frame(kDisconnect))) Receive(reply, std::min(options_.timeoutMs, 1000));
  }
  announced_ = false;
  serial_.Close();
  ws_.Close();
  link_ = &ws_;
}

Error Session::Open(const ConnectOptions& options) {
  Close();
  options_ = options;
  wide_ = false;
  secure_ = SecureLink(options.preSharedKey);
  if (!options.serialDevice.empty()) {
    if (Error e = OpenSerial()) return e;
  } else if (!ws_.Connect(options.host, options.port, options.timeoutMs)) {
    return Fail(Outcome::kConnection, "cannot connect to " + peerName());
  }
  Error e = Handshake();
  if (e) {
    serial_.Close();
    ws_.Close();
    link_ = &ws_;
  }
  return e;
}

Error Session::OpenSerial() {
  std::string why;
  switch (serial_.Open(options_.serialDevice, options_.baud, why)) {
    case SerialOpenError::kNone:
      break;
    case SerialOpenError::kBadBaud:
      return Fail(Outcome::kUsage, "--baud: " + why);
    default:
      return Fail(Outcome::kConnection, "cannot open " + options_.serialDevice + ": " + why);
  }
  link_ = &serial_;
  // A frame the agent had half received when this one began swallows it, so the first
  // request (the security state, which passes the agent's gate in every state) is repeated
  // until the agent answers; a repeat's late answer is drained before the session goes on.
  const auto deadline = Clock::now() + std::chrono::milliseconds(options_.timeoutMs);
  for (int attempt = 0;; ++attempt) {
    Bytes reply;
    if (Error e = Send(Frame(kGetSecurityStateCode))) return e;
    if (!Receive(reply, std::min(Remaining(deadline), 1000))) {
      if (attempt > 0) serial_.Drain(200);
      return Ok();
    }
    if (Remaining(deadline) == 0) {
      return Fail(Outcome::kConnection, "no agent answers on " + options_.serialDevice);
    }
  }
}

Error Session::SwitchToWideStrings() {
  Bytes reply;
  if (serial()) {
    // One request at a time: an agent without 0x20 leaves it unanswered.
    if (Error e = Send(Frame(0x20))) return e;
    if (!Receive(reply, std::min(options_.timeoutMs, 3000))) wide_ = reply == Bytes{kAck};
    return Ok();
  }
  // An agent without 0x20 leaves it unanswered: the reply to 0x24 sent behind it tells.
  if (Error e = Send(Frame(0x20))) return e;
  if (Error e = Call(Frame(kGetSecurityStateCode), reply)) return e;
  if (reply == Bytes{kAck}) {
    wide_ = true;
    if (Error e = Receive(reply)) return e;
  }
  return Ok();
}

Error Session::RawCall(const Bytes& frame, Bytes& reply,
                       const std::function<bool(const Bytes&)>& whole) {
  // The serial line frames every reply.
  if (serial()) return Call(frame, reply);
  if (Error e = Send(frame)) return e;
  auto got = ws_.ReadReply(options_.timeoutMs, 50, whole);
  if (!got || got->empty()) {
    return Fail(Outcome::kConnection, ws_.connected() && !ws_.WaitClosed(0)
                                          ? "the agent did not answer in time"
                                          : "the connection was lost");
  }
  reply = std::move(*got);
  return Ok();
}

Error Session::Handshake() {
  Bytes reply;
  if (Error e = RawCall(Frame(kGetSecurityStateCode), reply, WholeSecurityState)) return e;
  if (reply.size() != 2 || reply[0] != kAck) {
    return Fail(Outcome::kConnection, "the peer does not answer as an agent");
  }
  securityState_ = static_cast<char>(reply[1]);
  if (securityState_ != '0') {
    const char* const badKey =
        "the encrypted link could not be opened (is the pre-shared key right?)";
    if (serial()) {
      // The serial line stays clear: 0x3B only moves the agent's gate on to the login.
      if (Error e = Call(Frame(kOpenSecureLinkCode), reply)) return e;
      if (!LinkKeyFromReply(reply, options_.preSharedKey)) return Fail(Outcome::kLogin, badKey);
    } else if (!OpenSecureLink(ws_, secure_, options_.timeoutMs)) {
      return Fail(Outcome::kLogin, badKey);
    }
    if (!options_.user) {
      return Fail(Outcome::kLogin, "the agent's security is on: give --user and a password");
    }
    if (Error e = Call(LoginFrame(FromUtf8(*options_.user), FromUtf8(options_.password)), reply))
      return e;
    if (reply.size() < 2 || reply[0] != kAck || reply[1] != '1') {
      return Fail(Outcome::kLogin, "login failed for user \"" + *options_.user + "\"");
    }
  }
  // On TCP the reply to 0x13 still comes raw and everything after it is framed; the serial
  // line keeps its own frame throughout.
  if (Error e = RawCall(Frame(0x13), reply, WholeOsVersion)) return e;
  if (reply[0] != kAck) return Fail(Outcome::kConnection, "0x13: " + NakText(reply));
  osReply_ = reply;
  if (!serial()) ws_.SetFramed(true);
  if (options_.wideStrings) {
    if (Error e = SwitchToWideStrings()) return e;
  }
  if (serial()) {
    // Past the agent's gate now, 0x80 marks the line connected on its status window.
    if (Error e = Call(Frame(kConnect), reply)) return e;
    announced_ = true;
  }
  return Ok();
}

}  // namespace perimo::workstation
