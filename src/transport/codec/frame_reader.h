#pragma once
// Reads frames from a stream connection: raw (one frame of every byte waiting) or framed
// (STX ... DLE ETX, assembled across reads). The socket is reached through ByteSource so the
// reader can be tested without one.
#include <cstdint>
#include <memory>

#include "transport/codec/frame_codec.h"

namespace perimo {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Bytes that can be read now without blocking (FIONREAD); -1 when the query fails.
  virtual int64_t BytesWaiting() = 0;
  // Reads up to count bytes; the count read, 0 at end of stream, -1 on error.
  virtual int64_t Receive(uint8_t* buffer, int64_t count) = 0;
};

// Received bytes not yet fed to the decoder.
constexpr int32_t kAccumulationSize = 524288;
// Silence inside a framed frame after which the partial frame is dropped.
constexpr uint32_t kPartialFrameTimeoutMs = 60000;

class FrameReader {
 public:
  FrameReader();  // allocates the accumulation buffer once

  // The next frame into buffer (capacity bytes, which are zero beyond the frame); its length,
  // or 0 when there is none yet. now is the millisecond tick count.
  int32_t ReceiveFrame(ByteSource& source, bool framed, uint8_t* buffer, int32_t capacity,
                       uint32_t now);

  // Forgets a partial frame (a reply is being sent, or the mode changed).
  void ResetDecoder() { decoder_.Reset(); }
  void Clear();

  const FrameDecoder& decoder() const { return decoder_; }
  int32_t accumulated() const { return accumulated_; }

 private:
  int32_t ReceiveRaw(ByteSource& source, uint8_t* buffer, int32_t capacity);
  int32_t ReceiveFramed(ByteSource& source, uint8_t* buffer, int32_t capacity, uint32_t now);
  void ZeroBuffer(uint8_t* buffer, int32_t capacity);

  FrameDecoder decoder_;
  std::unique_ptr<uint8_t[]> held_;
  // The held bytes are held_[start_, start_ + accumulated_): completed frames advance start_,
  // and the bytes are moved to the front only when a receive needs the room.
  int32_t start_ = 0;
  int32_t accumulated_ = 0;
  uint32_t lastReadTime_ = 0;
  const uint8_t* lastBuffer_ = nullptr;
  int32_t dirty_ = 0;  // bytes of lastBuffer_ that may be non-zero
};

}  // namespace perimo
