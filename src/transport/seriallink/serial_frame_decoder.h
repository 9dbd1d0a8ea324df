#pragma once
// Assembles request frames from the serial line one byte at a time. Plain and allocation-free:
// it runs on the serial reader thread for every byte.
#include <cstdint>

#include "transport/seriallink/serial_envelope.h"

namespace perimo {

class SerialFrameDecoder {
 public:
  enum State : int32_t { kIdle = 0, kInFrame = 1, kAfterDle = 2, kExpectingCheck = 3 };
  enum Result { kNothing, kFrame, kBadCheck, kOversize };

  // One byte received at tick now. A gap longer than gapLimitMs since the previous byte
  // abandons a started frame first (*gapReset tells). kFrame: frame() holds length() bytes
  // until the next Feed.
  Result Feed(uint8_t byte, uint32_t now, uint32_t gapLimitMs, bool* gapReset = nullptr);
  void Reset();

  State state() const { return state_; }
  const uint8_t* frame() const { return buffer_; }
  int32_t length() const { return length_; }

 private:
  Result Append(uint8_t byte);

  State state_ = kIdle;
  int32_t length_ = 0;
  uint8_t check_ = 0;
  uint32_t lastByteTime_ = 0;
  uint8_t buffer_[kSerialLineCapacity] = {};
};

}  // namespace perimo
