#pragma once
// The TCP envelope of framed mode: STX (0x02), the frame bytes with every DLE (0x10) doubled,
// DLE ETX (0x10 0x03). The decoder keeps its state between calls so that a frame may arrive in
// any number of pieces; it works through whole runs between DLEs rather than byte by byte.
#include <cstdint>
#include <memory>

namespace perimo {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kDle = 0x10;

// Each connection buffer (decoded frame, encoded reply, frame handed to the dispatcher).
constexpr int32_t kCodecBufferSize = 131072;
// Largest decoded frame; a longer one cannot be handed to the dispatcher and is dropped.
constexpr int32_t kMaxDecodedFrame = 130048;

class FrameDecoder {
 public:
  enum class State { kIdle, kInFrame, kAfterDle };

  FrameDecoder();  // allocates the frame buffer once

  // Takes one byte; true when it completed a frame, which frame() and length() then hold
  // until the next byte. A frame growing past kMaxDecodedFrame is dropped and the decoder
  // waits for the next STX.
  bool Feed(uint8_t byte);
  // Takes bytes from data up to and including the one that completes a frame, exactly as
  // that many Feed calls would; the count taken. completed tells whether a frame completed.
  int32_t Feed(const uint8_t* data, int32_t count, bool& completed);
  void Reset();

  State state() const { return state_; }
  int32_t length() const { return length_; }
  const uint8_t* frame() const { return buffer_.get(); }
  // Frames dropped for their length since construction.
  uint32_t oversizeDrops() const { return oversizeDrops_; }

 private:
  bool Append(uint8_t byte);
  // Appends the run or, when it would pass kMaxDecodedFrame, drops the frame; the count of
  // run bytes consumed (up to and including the byte that overflowed).
  int32_t AppendRun(const uint8_t* run, int32_t count);

  std::unique_ptr<uint8_t[]> buffer_;
  State state_ = State::kIdle;
  int32_t length_ = 0;
  uint32_t oversizeDrops_ = 0;
};

// Bytes needed to send data: the same count raw, or wrapped and DLE-doubled when framed.
int64_t EncodedLength(const uint8_t* data, int32_t length, bool framed);

// Writes data into out (raw, or wrapped when framed); the encoded length, or -1 when it would
// not fit in capacity, in which case nothing is written.
int32_t EncodeFrame(const uint8_t* data, int32_t length, bool framed, uint8_t* out,
                    int32_t capacity);

}  // namespace perimo
