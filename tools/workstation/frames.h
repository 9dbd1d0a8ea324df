#pragma once
// Building request frames and the TCP envelope, as a workstation does. Independent of the
// agent's own code so that tests do not share its mistakes.
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace perimo::workstation {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;

Bytes Frame(uint8_t code, std::initializer_list<uint8_t> payload = {});
Bytes Frame(uint8_t code, const Bytes& payload);
// The code, the 8-bit text and a zero byte.
Bytes TextFrame(uint8_t code, std::string_view text);
// The code and the text as 16-bit little-endian characters with a zero character.
Bytes WideTextFrame(uint8_t code, std::u16string_view text);

void AppendU32(Bytes& out, uint32_t value);
uint32_t ReadU32(const Bytes& bytes, size_t offset);  // 0 when out of range

// STX, the bytes with every DLE doubled, DLE ETX.
Bytes Envelope(const Bytes& frame);

// Decodes a stream of framed bytes the way the agent's peer must: frames come out whole.
class EnvelopeDecoder {
 public:
  // Takes bytes; every frame they complete is appended to frames.
  void Feed(const uint8_t* bytes, size_t count, std::vector<Bytes>& frames);
  void Reset();

 private:
  enum class State { kIdle, kInFrame, kAfterDle } state_ = State::kIdle;
  Bytes current_;
};

}  // namespace perimo::workstation
