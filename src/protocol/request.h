#pragma once
// One frame as a handler sees it: the payload after the command byte, the whole frame's
// length, and the way back to the workstation.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "protocol/connection.h"

namespace perimo {

struct AgentState;

struct Request {
  AgentState& agent;
  const uint8_t* payload;  // byte 1 of the frame
  int32_t frameLength;     // command byte included
  Connection* connection;
  ReplyFn reply;

  size_t PayloadSize() const { return frameLength > 1 ? static_cast<size_t>(frameLength - 1) : 0; }
  std::span<const uint8_t> Payload() const { return {payload, PayloadSize()}; }

  int Reply(const uint8_t* bytes, size_t count) const {
    return reply ? reply(connection, bytes, static_cast<int32_t>(count)) : 0;
  }
  int Reply(const std::vector<uint8_t>& bytes) const { return Reply(bytes.data(), bytes.size()); }
  int Reply(std::initializer_list<uint8_t> bytes) const {
    return Reply(bytes.begin(), bytes.size());
  }
};

using CommandHandler = void (*)(Request& request);

// Reply bytes shared by every command.
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;

}  // namespace perimo
