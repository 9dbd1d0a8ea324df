#pragma once
// The single entry of the command protocol: every frame from every transport arrives here,
// passes the security gate and is routed by its first byte.
#include <cstdint>

#include "protocol/command_table.h"
#include "protocol/connection.h"

namespace perimo {

struct AgentState;
struct LoginState;

// Whether the security gate lets a frame with this command code through.
bool GatePasses(const LoginState& login, uint8_t code);

// Routes one frame (command byte included). Always returns 0. A frame of length 0 (or less)
// has no command byte and is ignored.
int DispatchFrame(AgentState& agent, const uint8_t* frame, int32_t length, Connection* connection,
                  ReplyFn reply);
// The same with a given table, for tests.
int DispatchFrame(AgentState& agent, const CommandTable& table, const uint8_t* frame,
                  int32_t length, Connection* connection, ReplyFn reply);

}  // namespace perimo
