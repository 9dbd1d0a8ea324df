#include "transport/codec/frame_reader.h"

#include <algorithm>
#include <cstring>

namespace perimo {

FrameReader::FrameReader() : held_(new uint8_t[kAccumulationSize]) {}

void FrameReader::Clear() {
  decoder_.Reset();
  start_ = 0;
  accumulated_ = 0;
  lastReadTime_ = 0;
}

// The buffer is handed over zeroed beyond the frame; only what the last frame wrote needs
// clearing again.
void FrameReader::ZeroBuffer(uint8_t* buffer, int32_t capacity) {
  const int32_t count = buffer == lastBuffer_ ? std::min(dirty_, capacity) : capacity;
  if (count > 0) std::memset(buffer, 0, static_cast<size_t>(count));
  lastBuffer_ = buffer;
  dirty_ = 0;
}

int32_t FrameReader::ReceiveFrame(ByteSource& source, bool framed, uint8_t* buffer,
                                  int32_t capacity, uint32_t now) {
  if (buffer == nullptr || capacity <= 0) return 0;
  ZeroBuffer(buffer, capacity);
  const int32_t n =
      framed ? ReceiveFramed(source, buffer, capacity, now) : ReceiveRaw(source, buffer, capacity);
  dirty_ = n;
  return n;
}

int32_t FrameReader::ReceiveRaw(ByteSource& source, uint8_t* buffer, int32_t capacity) {
  int32_t total = 0;
  for (;;) {
    if (source.BytesWaiting() <= 0) return total;
    const int64_t got = source.Receive(buffer + total, capacity - total);
    if (got > 0) total += static_cast<int32_t>(got);
    if (got <= 0 || total >= capacity) return total;
  }
}

int32_t FrameReader::ReceiveFramed(ByteSource& source, uint8_t* buffer, int32_t capacity,
                                   uint32_t now) {
  if (lastReadTime_ < now && now - lastReadTime_ > kPartialFrameTimeoutMs) {
    decoder_.Reset();
    start_ = 0;
    accumulated_ = 0;
  }
  lastReadTime_ = now;

  if (accumulated_ < capacity) {
    const int64_t waiting = source.BytesWaiting();
    if (waiting > 0) {
      const int64_t count = std::min<int64_t>(kAccumulationSize - accumulated_, waiting);
      if (start_ + accumulated_ + count > kAccumulationSize) {
        std::memmove(held_.get(), held_.get() + start_, static_cast<size_t>(accumulated_));
        start_ = 0;
      }
      const int64_t got = source.Receive(held_.get() + start_ + accumulated_, count);
      if (got > 0) accumulated_ += static_cast<int32_t>(got);
    }
  }

  // Every held byte is fed: the decoder bounds the frame itself, and bytes left behind
  // would wait for the next arrival.
  while (accumulated_ > 0) {
    bool completed = false;
    const int32_t fed = decoder_.Feed(held_.get() + start_, accumulated_, completed);
    start_ += fed;
    accumulated_ -= fed;
    if (!completed) continue;
    const int32_t length = std::min(decoder_.length(), capacity);
    decoder_.Reset();
    // An empty frame (STX DLE ETX) carries no command: skip it and keep decoding.
    if (length == 0) continue;
    std::memcpy(buffer, decoder_.frame(), static_cast<size_t>(length));
    if (accumulated_ == 0) start_ = 0;
    return length;
  }
  start_ = 0;  // the fed bytes now live in the decoder
  return 0;
}

}  // namespace perimo
