#include "transport/codec/frame_codec.h"

#include <cstring>

namespace perimo {

FrameDecoder::FrameDecoder() : buffer_(new uint8_t[kCodecBufferSize]) {}

void FrameDecoder::Reset() {
  state_ = State::kIdle;
  length_ = 0;
}

bool FrameDecoder::Append(uint8_t byte) {
  if (length_ >= kMaxDecodedFrame) {
    ++oversizeDrops_;
    Reset();
    return false;
  }
  buffer_[length_++] = byte;
  return true;
}

bool FrameDecoder::Feed(uint8_t byte) {
  switch (state_) {
    case State::kIdle:
      if (byte == kStx) {
        length_ = 0;
        state_ = State::kInFrame;
      }
      return false;
    case State::kInFrame:
      if (byte == kDle) {
        state_ = State::kAfterDle;
      } else {
        Append(byte);  // an STX inside a frame is data
      }
      return false;
    case State::kAfterDle:
      if (byte == kDle) {
        if (Append(byte)) state_ = State::kInFrame;
        return false;
      }
      if (byte == kEtx) {
        state_ = State::kIdle;
        return true;
      }
      return false;  // any other byte after a DLE is ignored and the DLE stays pending
  }
  return false;
}

int64_t EncodedLength(const uint8_t* data, int32_t length, bool framed) {
  if (length <= 0) return framed ? 3 : 0;
  if (!framed) return length;
  int64_t count = 3;
  for (int32_t i = 0; i < length; ++i) count += data[i] == kDle ? 2 : 1;
  return count;
}

int32_t EncodeFrame(const uint8_t* data, int32_t length, bool framed, uint8_t* out,
                    int32_t capacity) {
  if (length < 0) length = 0;
  const int64_t needed = EncodedLength(data, length, framed);
  if (needed > capacity) return -1;
  if (!framed) {
    if (length > 0) std::memcpy(out, data, static_cast<size_t>(length));
    return length;
  }
  int32_t n = 0;
  out[n++] = kStx;
  for (int32_t i = 0; i < length; ++i) {
    out[n++] = data[i];
    if (data[i] == kDle) out[n++] = kDle;
  }
  out[n++] = kDle;
  out[n++] = kEtx;
  return n;
}

}  // namespace perimo
