#include "protocol/dispatcher.h"

#include "protocol/agent_state.h"
#include "protocol/reject.h"
#include "protocol/request.h"
#include "protocol/status_text.h"

namespace perimo {
namespace {

constexpr uint8_t kGetProductVersion = 0x14;
constexpr uint8_t kUseWideStrings = 0x20;
constexpr uint8_t kGetSecurityState = 0x24;
constexpr uint8_t kLogin = 0x25;
constexpr uint8_t kOpenSecureLink = 0x3B;
constexpr uint8_t kFirstInvalid = 0x3F;
constexpr uint8_t kKeepAliveFirst = 0x80;
constexpr uint8_t kKeepAliveLast = 0x82;

void ReportInvalidFrame(const AgentState& agent) {
  agent.AddStatusLine(StatusText(kTextInvalidFrame));
}

}  // namespace

bool GatePasses(const LoginState& login, uint8_t code) {
  if (!login.securityEnabled) return true;
  // Until the encrypted link is open only its own command and two harmless queries pass;
  // until somebody logs in, only the login and what precedes it.
  if (!login.secureLinkOpen) {
    return code == kGetProductVersion || code == kGetSecurityState || code == kOpenSecureLink;
  }
  if (login.loggedInUser.empty()) {
    return code == kUseWideStrings || code == kGetSecurityState || code == kLogin;
  }
  return true;
}

int DispatchFrame(AgentState& agent, const uint8_t* frame, int32_t length, Connection* connection,
                  ReplyFn reply) {
  return DispatchFrame(agent, Commands(), frame, length, connection, reply);
}

int DispatchFrame(AgentState& agent, const CommandTable& table, const uint8_t* frame,
                  int32_t length, Connection* connection, ReplyFn reply) {
  if (frame == nullptr || length <= 0) return 0;
  const uint8_t code = frame[0];
  if (!GatePasses(agent.login, code)) {
    RejectFrame(agent, connection, reply);
    return 0;
  }
  if (code == 0x00) return 0;
  if (code >= kKeepAliveFirst && code <= kKeepAliveLast) {
    static constexpr uint8_t kAlive[] = {kAck};
    if (reply) reply(connection, kAlive, sizeof kAlive);
    return 0;
  }
  const CommandHandler handler = code < kFirstInvalid ? table[code] : nullptr;
  if (handler == nullptr) {
    ReportInvalidFrame(agent);
    return 0;
  }
  Request request{agent, frame + 1, length, connection, reply};
  // A handler turns its own failures into replies; this only keeps a stray exception (an
  // allocation failure) from unwinding the event loop.
  try {
    handler(request);
  } catch (...) {
  }
  return 0;
}

}  // namespace perimo
