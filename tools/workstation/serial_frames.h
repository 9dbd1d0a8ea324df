#pragma once
// The serial line's frame in both directions: STX, the frame with every DLE doubled, DLE ETX
// and the XOR of the frame bytes. The agent's serial frame buffer holds 2048 bytes, so no
// request body may be longer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "workstation/frames.h"

namespace perimo::workstation {

constexpr size_t kSerialFrameLimit = 2048;

// The serial line frame of a request.
Bytes SerialEnvelope(const Bytes& frame);

// Takes reply bytes as they arrive and gives back the frames whose check byte matches. Bytes
// outside a frame are skipped; a DLE followed by anything but DLE or ETX drops both bytes.
class SerialFrameReader {
 public:
  // A frame that grows past this without its end is dropped (and counted as bad).
  static constexpr size_t kMaxFrame = 65536;

  void Feed(const uint8_t* bytes, size_t count, std::vector<Bytes>& frames);
  void Reset();
  bool idle() const { return state_ == State::kIdle; }
  uint64_t badFrames() const { return badFrames_; }

 private:
  enum class State { kIdle, kInFrame, kAfterDle, kCheck } state_ = State::kIdle;
  Bytes current_;
  uint8_t check_ = 0;
  uint64_t badFrames_ = 0;
};

}  // namespace perimo::workstation
