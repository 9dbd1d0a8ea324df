// Registry requests straight from the wire: whatever the fields hold (any 16-bit text, zero
// characters, missing TABs), a write that answers '0' must read back as the same value, cut
// at its first zero character and to 127 characters.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/wire_string.h"
#include "protocol/agent_state.h"
#include "protocol/misc_commands.h"

using namespace perimo;

namespace {

std::vector<std::vector<uint8_t>> replies;

int Record(Connection*, const uint8_t* bytes, int32_t count) {
  replies.emplace_back(bytes, bytes + count);
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static AgentState* agent = [] {
    auto* state = new AgentState;
    if (!state->registry.Open(":memory:")) abort();
    return state;
  }();
  if (size == 0) return 0;
  agent->wideStrings = data[0] & 1;
  std::vector<uint8_t> frame(data, data + size);
  frame[0] = 0x2A;
  replies.clear();
  Request write{*agent, frame.data() + 1, static_cast<int32_t>(frame.size()), nullptr, Record};
  WriteRegistryValue(write);
  if (replies.size() != 1 || replies[0].size() != 2 || replies[0][0] != kAck) abort();
  if (replies[0][1] != '0') return 0;

  Request read{*agent, frame.data() + 1, static_cast<int32_t>(frame.size()), nullptr, Record};
  ReadRegistryValue(read);
  if (replies.size() != 2) abort();
  const auto fields = platform::ReadTabFieldsZeroEnds(read.Payload(), agent->wideStrings, 5);
  std::u16string value = fields[4];
  if (value.size() > kMaxRegistryValueChars) value.resize(kMaxRegistryValueChars);
  std::vector<uint8_t> expected{kAck, '0'};
  platform::AppendWireText(expected, value, agent->wideStrings);
  expected.insert(expected.end(), agent->wideStrings ? 4 : 1, 0x00);
  if (replies[1] != expected) abort();
  return 0;
}
