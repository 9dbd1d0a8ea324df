#include "transport/seriallink/serial_frame_decoder.h"

namespace perimo {

// A body longer than the frame buffer is dropped whole; the decoder waits for the next STX.
SerialFrameDecoder::Result SerialFrameDecoder::Append(uint8_t byte) {
  if (length_ >= kSerialLineCapacity) {
    Reset();
    return kOversize;
  }
  buffer_[length_++] = byte;
  check_ ^= byte;
  return kNothing;
}

void SerialFrameDecoder::Reset() {
  state_ = kIdle;
  length_ = 0;
  check_ = 0;
}

SerialFrameDecoder::Result SerialFrameDecoder::Feed(uint8_t byte, uint32_t now, uint32_t gapLimitMs,
                                                    bool* gapReset) {
  if (gapReset) *gapReset = false;
  if (lastByteTime_ > now) lastByteTime_ = now;  // the tick count wrapped
  if (now - lastByteTime_ > gapLimitMs) {
    Reset();
    if (gapReset) *gapReset = true;
  }
  lastByteTime_ = now;

  switch (state_) {
    case kIdle:
      if (byte == kSerialStx) {
        length_ = 0;
        check_ = 0;
        state_ = kInFrame;
      }
      return kNothing;
    case kInFrame:
      if (byte == kSerialDle) {
        state_ = kAfterDle;
        return kNothing;
      }
      return Append(byte);
    case kAfterDle:
      if (byte == kSerialEtx) {
        state_ = kExpectingCheck;
        return kNothing;
      }
      if (byte != kSerialDle) return kNothing;  // any other byte after a DLE is ignored
      state_ = kInFrame;
      return Append(byte);
    case kExpectingCheck: {
      const bool good = byte == check_;
      state_ = kIdle;
      if (good) return kFrame;
      length_ = 0;
      return kBadCheck;
    }
  }
  return kNothing;
}

}  // namespace perimo
