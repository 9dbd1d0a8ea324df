#pragma once
// What the logged-in user may do. Every answer is a right word: 0 refused, non-zero granted;
// with security off everything is granted.
#include <cstdint>
#include <string_view>

namespace perimo {

struct AgentState;

// Right to write or remove at an absolute wire path.
uint16_t RightForPath(const AgentState& agent, std::u16string_view path);
uint16_t MayGetFromTarget(const AgentState& agent);
uint16_t MayRunStop(const AgentState& agent);

}  // namespace perimo
