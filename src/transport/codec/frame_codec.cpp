#include "transport/codec/frame_codec.h"

#include <cstring>

namespace perimo {
namespace {

const uint8_t* Find(const uint8_t* from, const uint8_t* end, uint8_t byte) {
  return static_cast<const uint8_t*>(std::memchr(from, byte, static_cast<size_t>(end - from)));
}

}  // namespace

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

int32_t FrameDecoder::AppendRun(const uint8_t* run, int32_t count) {
  const int32_t room = kMaxDecodedFrame - length_;
  if (count <= room) {
    std::memcpy(buffer_.get() + length_, run, static_cast<size_t>(count));
    length_ += count;
    return count;
  }
  // The byte after the room overflows: the frame is dropped there and the bytes behind it
  // are searched for the next STX.
  ++oversizeDrops_;
  Reset();
  return room + 1;
}

bool FrameDecoder::Feed(uint8_t byte) {
  bool completed = false;
  Feed(&byte, 1, completed);
  return completed;
}

int32_t FrameDecoder::Feed(const uint8_t* data, int32_t count, bool& completed) {
  completed = false;
  if (data == nullptr || count <= 0) return 0;
  const uint8_t* p = data;
  const uint8_t* const end = data + count;
  while (p < end) {
    switch (state_) {
      case State::kIdle: {
        const uint8_t* stx = Find(p, end, kStx);
        if (stx == nullptr) return count;
        p = stx + 1;
        length_ = 0;
        state_ = State::kInFrame;
        break;
      }
      case State::kInFrame: {
        // Everything up to the next DLE is data, an STX included.
        const uint8_t* dle = Find(p, end, kDle);
        const uint8_t* runEnd = dle != nullptr ? dle : end;
        const int32_t run = static_cast<int32_t>(runEnd - p);
        p += AppendRun(p, run);
        if (state_ != State::kInFrame) break;  // dropped: the rest is searched for an STX
        if (dle != nullptr) {
          state_ = State::kAfterDle;
          ++p;
        }
        break;
      }
      case State::kAfterDle: {
        const uint8_t byte = *p++;
        if (byte == kDle) {
          if (Append(byte)) state_ = State::kInFrame;
        } else if (byte == kEtx) {
          state_ = State::kIdle;
          completed = true;
          return static_cast<int32_t>(p - data);
        }
        // Any other byte after a DLE is ignored and the DLE stays pending.
        break;
      }
    }
  }
  return count;
}

int64_t EncodedLength(const uint8_t* data, int32_t length, bool framed) {
  if (length <= 0) return framed ? 3 : 0;
  if (!framed) return length;
  int64_t count = 3 + static_cast<int64_t>(length);
  const uint8_t* const end = data + length;
  for (const uint8_t* p = Find(data, end, kDle); p != nullptr; p = Find(p + 1, end, kDle)) ++count;
  return count;
}

int32_t EncodeFrame(const uint8_t* data, int32_t length, bool framed, uint8_t* out,
                    int32_t capacity) {
  if (length < 0) length = 0;
  // Every byte doubled still fits: no need to count the DLEs first.
  const int64_t worstCase = framed ? 3 + 2 * static_cast<int64_t>(length) : length;
  if (worstCase > capacity && EncodedLength(data, length, framed) > capacity) return -1;
  if (!framed) {
    if (length > 0) std::memcpy(out, data, static_cast<size_t>(length));
    return length;
  }
  uint8_t* o = out;
  *o++ = kStx;
  const uint8_t* p = data;
  const uint8_t* const end = data + length;
  while (p < end) {
    const uint8_t* dle = Find(p, end, kDle);
    const uint8_t* runEnd = dle != nullptr ? dle + 1 : end;
    std::memcpy(o, p, static_cast<size_t>(runEnd - p));
    o += runEnd - p;
    if (dle != nullptr) *o++ = kDle;
    p = runEnd;
  }
  *o++ = kDle;
  *o++ = kEtx;
  return static_cast<int32_t>(o - out);
}

}  // namespace perimo
