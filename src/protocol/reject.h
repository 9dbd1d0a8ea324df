#pragma once
// The answer to a refused request: NAK '5', then a pause that holds up the agent so that a
// workstation cannot try passwords or commands quickly.
#include <cstdint>

#include "protocol/connection.h"

namespace perimo {

struct AgentState;

constexpr uint32_t kRejectPauseMilliseconds = 10000;

// Replies 0x15 0x35 and blocks the calling thread for kRejectPauseMilliseconds (through
// agent.pause when set).
void RejectFrame(const AgentState& agent, Connection* connection, ReplyFn reply);

}  // namespace perimo
